// The dry run of an ingestion: after the scan and the naming of every image (the engine's own,
// with the same sequence numbers and number ranges), the report lists where each image would
// go in every tree instead of copying it. Nothing is created, copied or recorded.
#pragma once

#include "ingest/engine_context.h"

namespace cw {

// The report's plan: for each image its source, then "    -> TARGET" for the first copy and,
// with a pre-conversion backup, the primary and post-conversion copies (raws the converter
// turns into DNGs under their DNG names); a name already taken by a different file gets the
// suffix a real run would give it, and an image the first-copy tree already holds is shown as
// a duplicate that would be skipped. Number-range folders appear under their final names
// (`ranges`, the batch's number ranges as the naming left them). Camera images are read on
// `cameras` to compare them.
void report_planned_copies(const RunOptions& options, const std::vector<ImageRecord>& images,
                           const NumberRangeState& ranges, CameraSource* cameras,
                           RunResult& result);

// The line that heads a dry run's plan.
inline constexpr const char* kDryRunHeading = "Dry run: nothing is copied, created or recorded.\n";

}  // namespace cw
