// The general file copy of a run, used by the second copy, the post-conversion backup and
// sidecar copies: one pass through the run's buffer into a temporary file beside the target,
// the source's modification time kept, the size checked, then the move into place.
#pragma once

#include <optional>
#include <string>

#include "database/ledger_store.h"
#include "foundation/content_hash.h"
#include "ingest/engine_context.h"

namespace cw {

// The hash of a copy's bytes: the source's when it is known beforehand (the kernel may then
// copy in place, and the read-back compares with it), else made as the bytes pass.
struct CopyHash {
  std::optional<Hash128> known;
  Hash128 written;       // the hash of what went into the copy
  std::uint64_t size = 0;  // the copy's size in bytes
  bool copied = false;   // false: nothing was copied (a tolerated unreadable source)
  std::optional<Fingerprint> named;  // the copy's as it was named, when it was read then
};

// Copies `source` to `target`. `count` adds 1 to the files copied without conversion;
// `refuse_overwrite` fails with "will not overwrite file" when the target exists (or appears
// while the copy is made; otherwise a finished copy replaces the target in one step);
// `tolerate_unreadable` treats a source that cannot be examined as nothing to copy.
// With `hash`, the copy's hash is given back in it. On false, `fail` has been called. The
// bytes go through the state's buffer, and the state notes the target's folder to be flushed.
bool copy_file(RunState& state, RunCounters& counts, RunReporter& reporter,
               const std::string& source, const std::string& target, bool count,
               bool refuse_overwrite, bool tolerate_unreadable, CopyHash* hash = nullptr);

}  // namespace cw
