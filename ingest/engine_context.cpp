// Reporting operations of an ingestion run.
#include "ingest/engine_context.h"

#include <cstdarg>

#include "foundation/text.h"

namespace cw {

EngineContext::EngineContext(EngineJob j) : job(std::move(j)) {}

bool EngineContext::fail(std::string_view message) {
  if (job.slot <= 7) control().set_error_flag(job.slot);
  if (!error.empty()) error += " / ";
  error += message;
  truncate_to(error, kErrorTextMax);
  return false;
}

bool EngineContext::stop_requested() { return control().stop_requested(job.slot); }

void EngineContext::report_printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  report += vformat_limited(1000, fmt, ap);
  va_end(ap);
}

void EngineContext::status_printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  status = vformat_limited(kStatusSize, fmt, ap);
  va_end(ap);
  control().set_status(job.slot, status);
}

void EngineContext::status_set(const char* text) { control().set_status(job.slot, text); }

}  // namespace cw
