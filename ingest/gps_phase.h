// The GPS part of a run: tagging the run's images with positions from the loaded tracks, and
// the "GPS Tagging:" section of the report.
//
// The run's GPS settings (ctx.gps) and its list of files (ctx.gps_list) belong to the run, so
// runs of several slots at once never tag or count each other's images. The track store is
// only read, so tagging takes no program-wide lock and one slot's ExifTool runs do not hold up
// another slot's copies.
#pragma once

#include <optional>
#include <string>

#include "ingest/copy_steps.h"
#include "ingest/engine_context.h"

namespace cw {

// True when the run was given GPS settings with a track store.
bool gps_tagging_enabled(const RunServices& services);

// Tags one file of the primary tree at once (a second copy, before its third copy is made, so
// that the third copy carries the position too); `record`, its copy in the ledger, is
// recorded as changing first and gets its new hash after. Failures of the image are counted;
// false (after `fail`) only when the run was asked to stop.
bool gps_tag_file(EngineContext& ctx, const std::string& file,
                  std::optional<CopyRef> record = std::nullopt);

// Tags the files still in the run's list, then appends the "GPS Tagging:" section; false
// (after `fail`) when tagging could not be done (ExifTool missing) or the run was stopped.
// The files' copies were recorded as changing when they joined the list; each gets its new
// hash once tagged (or not).
bool gps_summary(EngineContext& ctx);

}  // namespace cw
