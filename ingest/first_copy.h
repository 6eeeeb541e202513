// The first copy of one image: from the card (or camera) into the first-copy tree, under a
// name that never replaces an existing file, with its sidecar placed, the modification time
// kept and the size checked against the source; then, for a final copy, the embedded JPEG of
// a raw file extracted, and for a JPEG the sidecar's XMP merged into it and the copy decoded
// to verify it.
#pragma once

#include <string>

#include "ingest/engine_context.h"

namespace cw {

// On false, `message` says why; reports and logs are already written. An empty message means
// that `fail` has been called already. A duplicate is a success that adds 1 to the
// duplicates; a JPEG that does not decode is a success counted as corrupt.
bool copy_image(EngineContext& ctx, ImageRecord& record, std::string& message);

}  // namespace cw
