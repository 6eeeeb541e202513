// The first copy of one image: from the card (or camera) into the first-copy tree, in a folder
// that really lies inside that tree, written under a temporary name with the modification
// time kept and the size checked against the source, then moved to a name that never replaces
// an existing file (ingest/staged_file.h); then its sidecar placed, for a final copy the
// embedded JPEG of a raw file extracted, for a JPEG the sidecar's XMP merged into it, and the
// copy's verification queued on the run's checks (ingest/image_checks.h).
#pragma once

#include <string>

#include "ingest/engine_context.h"

namespace cw {

// On false, `message` says why; reports and logs are already written. An empty message means
// that `fail` has been called already. A duplicate is a success that adds 1 to the
// duplicates; a JPEG that does not decode is a success (its check counts it); an image whose
// folder lies outside the tree, or whose source is no regular file, is a success counted as
// failed (the report names it) so that the run goes on with the others.
bool copy_image(EngineContext& ctx, ImageRecord& record, std::string& message);

}  // namespace cw
