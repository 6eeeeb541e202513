// Extraction of the JPEG preview embedded in a raw file: saved as "JPEG/<name>.jpg" beside the
// image's copy, carrying the raw's EXIF entries and the XMP of the copy's sidecar.
#pragma once

#include <string>

#include "ingest/engine_context.h"

namespace cw {

// With the run's extractJPG set, reads `raw` (or, when it is null, `target` itself) and writes
// its largest embedded preview JPEG into the JPEG folder beside `target`. A file without one
// is normal. An existing JPEG is never replaced. A JPEG that cannot be written is recorded
// with `fail` but the run goes on: the result is false only when the folder cannot be made.
bool extract_jpeg(EngineContext& ctx, const std::string* raw, const std::string& target);

}  // namespace cw
