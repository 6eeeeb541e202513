// Reporting operations of an ingestion run.
#include "ingest/engine_context.h"

#include "foundation/log.h"
#include "foundation/text.h"
#include "ingest/run_metadata.h"
#include "ingest/sidecar_worker.h"
#include "metadata/macro_environment.h"

namespace cw {

EngineContext::EngineContext(EngineJob j) {
  job = std::move(j);
  // The batch's runs share its read-back queues, one per destination disk.
  if (job.control) verifier.use(job.control->read_backs());
  // And flush ahead each destination file system one at a time.
  if (job.control) state().flush_ahead.share(job.control->flushes_ahead());
}

EngineContext::~EngineContext() {
  // The sidecar thread uses the run's metadata state: it stops first.
  sidecar_worker.reset();
}

bool EngineContext::fail(std::string_view message) {
  if (job.slot <= 7) control().set_error_flag(job.slot);
  note_first_error(message);
  if (!error.empty()) error += " / ";
  error += message;
  truncate_to(error, kErrorTextMax);
  return false;
}

void RunResult::note_first_error(std::string_view message) {
  if (first_error.empty()) first_error = message;
}

bool EngineContext::stop_requested() { return control().stop_requested(job.slot); }

void EngineContext::status_set(std::string_view text) {
  control().set_status(job.slot, std::string(text));
}

void EngineContext::image_failed(const std::string& message, const std::string& path) {
  const std::string line = "ERROR: " + text_with_path(message, path);
  log_printf("%s", line.c_str());
  report += line + "\n";
  note_first_error(text_with_path(message, path));
  ++counts.images_failed;
}

void EngineContext::progress_begin(ProgressPhase phase, int files, std::uint64_t bytes) {
  control().update_progress(job.slot, [&](SlotProgress& p) { p.begin(phase, files, bytes); });
}

void EngineContext::progress_bytes(std::uint64_t n) {
  control().update_progress(job.slot, [n](SlotProgress& p) { p.add_bytes(n); });
}

void EngineContext::progress_file_done(std::uint64_t file_size) {
  control().update_progress(job.slot, [file_size](SlotProgress& p) { p.file_done(file_size); });
}

RunMetadata& EngineContext::metadata() {
  if (!metadata_) metadata_ = std::make_unique<RunMetadata>(macro_env, capture_shifts, cameras);
  return *metadata_;
}

MacroEnvironment& EngineContext::macro_environment() { return metadata().environment(); }

}  // namespace cw
