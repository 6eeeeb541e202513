// Sidecar placement hook (see sidecar_place.h): nothing is placed yet.
#include "ingest/sidecar_place.h"

namespace cw {

bool place_sidecar(EngineContext&, const std::string&, const SidecarImageData*, bool,
                   const std::string&) {
  return true;
}

}  // namespace cw
