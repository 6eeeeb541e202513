// Print sinks for the reader's structural dump.
#include "imagefile/print_sink.h"

#include <cstdio>

#include "foundation/text.h"

namespace cw {

PrintSink string_sink(std::string& out) {
  return [&out](std::string_view text) { out.append(text); };
}

PrintSink stdout_sink() {
  // The dump holds the file's own strings: shown with their control characters escaped.
  return [](std::string_view text) {
    const std::string shown = printable_text(text);
    std::fwrite(shown.data(), 1, shown.size(), stdout);
  };
}

}  // namespace cw
