// Where a copied image's XMP sidecar is placed: the first copy calls place_sidecar for every
// image it creates, and the second copy calls it in copy-only mode (no per-image data) for
// every file it copies unchanged. Both call it holding databaseLock.
//
// Placeholder: sidecar placement (copying a card's own sidecar, or generating one from the
// metadata template) is not built yet. place_sidecar does nothing and succeeds, so every call
// site, its lock and its failure path are already in place for it.
#pragma once

#include <string>

#include "ingest/engine_context.h"

namespace cw {

// Per-image data for a first copy; copy-only mode passes none.
struct SidecarImageData {
  std::string base_name;    // the source's base name
  std::string date_text;    // "%Y%m%d_%H%M%S" of the source's modification time
  std::string number_text;  // the image's number text
};

// Places the sidecar of `target` (copied from `source`). On false `fail` has been called.
bool place_sidecar(EngineContext& ctx, const std::string& source, const SidecarImageData* image,
                   bool first_copy, const std::string& target);

}  // namespace cw
