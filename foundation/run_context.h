// What low-level routines need from the run they work for: record a failure, add to the
// report, and ask whether the user wants the run stopped.
//
// The ingestion engine's EngineContext implements it; foundation routines that the engine
// calls (folder creation, folder listings) take it so they can report exactly as the engine
// does without depending on the engine.
#pragma once

#include <string_view>

namespace cw {

class RunContext {
 public:
  virtual ~RunContext() = default;
  // Records a failure message for the run and returns false, so callers can
  // `return ctx.fail("...")`.
  virtual bool fail(std::string_view message) = 0;
  // Appends text to the run's report.
  virtual void report_append(std::string_view text) = 0;
  // True when the user asked the run to stop.
  virtual bool stop_requested() = 0;
};

}  // namespace cw
