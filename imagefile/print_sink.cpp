// Print sinks for the reader's structural dump.
#include "imagefile/print_sink.h"

namespace cw {

PrintSink string_sink(std::string& out) {
  return [&out](std::string_view text) { out.append(text); };
}

}  // namespace cw
