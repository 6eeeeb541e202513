// The run's list of copied images that GPS tagging works through.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace cw {

// Adds a copied image to the list and says so on the console. That is standard error, since
// standard output carries the run's report (and its JSON).
inline void register_gps_image(std::vector<std::string>& list, const std::string& path) {
  list.push_back(path);
  std::fprintf(stderr, "registered [%s]\n", path.c_str());
}

}  // namespace cw
