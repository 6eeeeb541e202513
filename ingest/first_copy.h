// The first copy of one image: from the card (or camera) into the first-copy tree, under a
// name that never replaces an existing file, with the modification time kept and the size
// checked against the source.
//
// Not yet part of this step: sidecar placement, embedded-JPEG extraction, XMP merge into
// JPEGs and JPEG decoding (the copy is counted as unverified).
#pragma once

#include <string>

#include "ingest/engine_context.h"

namespace cw {

// On false, `message` says why; reports and logs are already written. A duplicate is a
// success that adds 1 to the duplicates.
bool copy_image(EngineContext& ctx, ImageRecord& record, std::string& message);

}  // namespace cw
