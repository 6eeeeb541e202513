// The GPS part of a run's report. GPS tagging itself is not in this build: the program-wide
// switch reads as off, so the summary says tagging is disabled.
#pragma once

#include "ingest/engine_context.h"

namespace cw {

// The program-wide GPS tagging switch (read holding databaseLock).
bool gps_tagging_enabled();

// Appends the "GPS Tagging:" section; false (after `fail`) when tagging failed.
bool gps_summary(EngineContext& ctx);

}  // namespace cw
