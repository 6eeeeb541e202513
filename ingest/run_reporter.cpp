// The formatting helpers of a run's reporter.
#include "ingest/run_reporter.h"

#include <cstdarg>

#include "foundation/text.h"

namespace cw {

void RunReporter::status_printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const std::string text = vformat_limited(kStatusSize, fmt, ap);
  va_end(ap);
  status_set(text);
}

void RunReporter::report_printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const std::string text = vformat_limited(1000, fmt, ap);
  va_end(ap);
  report_append(text);
}

}  // namespace cw
