// Damaged copies moved aside, and the proof a restore source needs.
#include "ingest/damaged_copy.h"

#include <cerrno>
#include <cstring>

#include "foundation/content_hash.h"
#include "foundation/log.h"
#include "foundation/sysio.h"
#include "foundation/text.h"
#include "ingest/copy_io.h"
#include "ingest/unique_target.h"

namespace cw {

std::string damaged_name(const std::string& path, int n) {
  return suffixed_name(path, n) + ".damaged";
}

void set_damaged_copy_aside(RunState& state, RunReporter& reporter, std::size_t entry,
                            std::size_t copy) {
  LedgerCopy& c = state.ledger.at(entry).copies[copy];
  for (int n = 0; n <= kMaxUniqueSuffix; ++n) {
    const std::string aside = damaged_name(c.path, n);
    if (sysio().rename(c.path.c_str(), aside.c_str()) == 0) {
      log_printf("Damaged copy moved aside: %s --> %s", c.path.c_str(), aside.c_str());
      reporter.report_append(text_with_path("The damaged copy is now", aside) + "\n");
      c.path = aside;
      c.stored = false;
      return;
    }
    if (errno != EEXIST) break;
  }
  if (errno == ENOENT) return;  // gone: it blocks nothing
  const std::string line =
      text_with_path(std::string("The damaged copy could not be moved aside (") +
                         std::strerror(errno) + "); it blocks its name",
                     c.path);
  log_printf("%s", line.c_str());
  reporter.report_append("WARNING: " + line + "\n");
}

bool prove_restore_source(RunState& state, RunReporter& reporter, std::size_t entry,
                          std::size_t copy) {
  LedgerCopy& c = state.ledger.at(entry).copies[copy];
  // A converter's DNG found in place has no hash before the end of the run: the converter
  // checked what it wrote, and nothing recorded says otherwise.
  if (!c.hash && c.state == CopyState::kConverted) return true;
  // Proven in this run already (read back, or its fingerprint unchanged since it was).
  if (c.checked && copy_proven(c.state)) return true;
  // Changed by a step of a run that ended before it hashed the copy again: nothing to prove it
  // against, and nothing that says it is damaged either.
  if (!c.hash) {
    log_printf("No recorded hash of %s: no copy is made from it", c.path.c_str());
    return false;
  }
  Hash128 now;
  if (ensure_read_buffer(state) &&
      hash_file(c.path, now, state.read_buffer.get(), kCopyBufferSize) && now == *c.hash)
    return true;
  c.state = CopyState::kBad;
  c.stored = false;
  const std::string line =
      text_with_path("The archived copy differs from the ledger; no copy is made from it", c.path);
  log_printf("%s", line.c_str());
  reporter.report_append("WARNING: " + line + "\n");
  return false;
}

}  // namespace cw
