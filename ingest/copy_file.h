// The general file copy of a run, used by the second copy, the post-conversion backup and
// sidecar copies: one pass through the run's buffer into a temporary file beside the target,
// the source's modification time kept, the size checked, then the move into place.
#pragma once

#include <string>

#include "ingest/engine_context.h"

namespace cw {

// Copies `source` to `target`. `count` adds 1 to the files copied without conversion;
// `refuse_overwrite` fails with "will not overwrite file" when the target exists (or appears
// while the copy is made; otherwise a finished copy replaces the target in one step);
// `tolerate_unreadable` treats a source that cannot be examined as nothing to copy.
// On false, `fail` has been called.
bool copy_file(EngineContext& ctx, const std::string& source, const std::string& target,
               bool count, bool refuse_overwrite, bool tolerate_unreadable);

}  // namespace cw
