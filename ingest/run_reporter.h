// RunReporter: what a step of the engine tells the user while it works, without the rest of
// the run. The slot's status line, the report, an image that fails while the run goes on, the
// progress of a phase, a failure of the run and the question whether the user asked it to
// stop. EngineContext implements it for its slot; a step that only reports takes this part.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/run_context.h"
#include "ingest/slot_control.h"

namespace cw {

class RunReporter : public RunContext {
 public:
  // Shows the text as the slot's status.
  virtual void status_set(std::string_view text) = 0;
  // One image that cannot be copied while the run goes on: the report names it with the
  // reason and it counts as failed (the run then ends unsuccessfully).
  virtual void image_failed(const std::string& message, const std::string& path) = 0;
  // The slot's progress (SlotProgress): a phase begins, bytes of a file are copied, a file is
  // done.
  virtual void progress_begin(ProgressPhase phase, int files, std::uint64_t bytes) = 0;
  virtual void progress_bytes(std::uint64_t n) = 0;
  virtual void progress_file_done(std::uint64_t file_size) = 0;

  // Formats the status line (at most kStatusSize - 1 bytes) and shows it.
  void status_printf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // Formats into at most 1000 bytes and appends to the report.
  void report_printf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
};

// Status lines are formatted into this many bytes (one less of text).
inline constexpr std::size_t kStatusSize = 500;

}  // namespace cw
