// The verdict of a finished run as a front end shows it above the report: the card is safe to
// format, not yet safe (and why), or the run ended with an error (the first thing that failed,
// with its path). It is made from the slots' own verdicts and errors, so the window, the
// error dialog and the report never disagree.
#pragma once

#include <string>
#include <vector>

namespace cw {

class EngineContext;

enum class VerdictLevel {
  kNone,    // nothing was ingested: no verdict to show
  kSafe,    // every card may be formatted
  kNotYet,  // no error, but some card is not yet safe to format
  kError,   // the run ended with an error
};

struct RunVerdict {
  VerdictLevel level = VerdictLevel::kNone;
  std::string headline;  // "Card safe to format", "Card not yet safe to format", ...
  std::string detail;    // what the headline rests on: the reasons, or the first error
};

// One ingested slot as the verdict sees it.
struct VerdictSlot {
  const EngineContext* ctx = nullptr;  // its run; none when it never started
  bool error = false;                  // the slot's error flag
};

// The verdict of a run whose counted slots are `slots`. `stopped`: the user stopped it;
// `end_error`: what failed after the slots ended (the record, a manifest), empty when nothing.
RunVerdict run_verdict(const std::vector<VerdictSlot>& slots, bool stopped,
                       const std::string& end_error);

}  // namespace cw
