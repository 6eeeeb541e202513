// Remembered database values and EXIF values of one run.
#include "ingest/run_macro_environment.h"

namespace cw {

std::optional<std::string> RunMacroEnvironment::database_value(const DatabaseLookup& lookup) {
  const std::string sql = lookup.sql();
  auto it = values_.find(sql);
  if (it == values_.end()) it = values_.emplace(sql, base_.database_value(lookup)).first;
  return it->second;
}

bool RunMacroEnvironment::image_exif(const std::string& path, ExifPairs& pairs) {
  if (auto it = images_.find(path); it != images_.end()) {
    pairs = it->second;
    return true;
  }
  if (!base_.image_exif(path, pairs)) return false;
  if (images_.size() >= kMaxImages) images_.clear();
  images_.emplace(path, pairs);
  return true;
}

}  // namespace cw
