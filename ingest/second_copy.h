// The second copy (first-copy backup tree → primary tree) and the post-conversion backup
// (primary tree → post-conversion backup tree) of a run with a pre-conversion backup.
//
// This build copies every file unchanged: raw files are not yet handed to a DNG converter
// even when one is configured (the report says so), no embedded JPEGs are extracted, no
// sidecars are placed in copy-only mode and no GPS tags are written.
#pragma once

#include <string>

#include "ingest/engine_context.h"

namespace cw {

// Copies every first copy into the primary tree, folder by folder, never overwriting, then
// makes the post-conversion backup copies. On false either `fail` has been called (empty
// `message`) or `message` holds a converter message for the driver to report.
bool copy_to_primary(EngineContext& ctx, std::string& message);

// The third copy of one file of the primary tree, and of its sidecar when there is one.
bool copy_to_post_backup(EngineContext& ctx, const std::string& primary_file);

}  // namespace cw
