// Print sinks for the reader's structural dump.
#include "imagefile/print_sink.h"

#include <cstdio>

namespace cw {

PrintSink string_sink(std::string& out) {
  return [&out](std::string_view text) { out.append(text); };
}

PrintSink stdout_sink() {
  return [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); };
}

}  // namespace cw
