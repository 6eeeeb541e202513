// Corrected capture dates written into the final copies of images whose camera clock was wrong,
// when the user asks for it.
//
// The values are absolute: each date the source carries (DateTimeOriginal, CreateDate,
// ModifyDate), moved by the image's correction. Writing them again into a copy that has them
// already gives the same file, so a change a killed run left half done is simply made again.
// The source and the pre-conversion backup keep the card's bytes; the dates go only into the
// copies that are final (and whatever is copied from them afterwards). ExifTool writes the new
// file beside the copy, which replaces the copy once synced, as with GPS tags.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ingest/copy_steps.h"
#include "ingest/engine_context.h"
#include "metadata/macro_environment.h"

namespace cw {

// ExifTool's arguments (the program not included) that write the dates of `pairs` (an image's
// EXIF pairs as the reader names them) moved by `seconds` into the new file `output` made from
// `copy`; empty when the image has no date that moves.
std::vector<std::string> corrected_date_args(const ExifPairs& pairs, std::int64_t seconds,
                                             const std::string& copy, const std::string& output);

// True when the run writes corrected dates into `copy`, the final copy of `source`: it has a
// correction and can carry EXIF.
bool corrected_dates_due(const RunOptions& options, const std::string& source,
                         const std::string& copy);

// Writes the corrected dates of `source` into its final copy `copy` (recorded as `record`)
// through the run's ExifTool process, when the run writes them and the image has a correction.
// A file that cannot carry EXIF (a video) is only noted for the report; a failure is reported
// and counted, and the copy stays as it was. `gps_follows`: the copy stays "changing" (with
// its new hash), GPS tags coming later in the run; otherwise its change ends here.
void write_corrected_dates(EngineContext& ctx, const std::string& copy, const std::string& source,
                           std::optional<CopyRef> record, bool gps_follows);

// Without a backup the first copies are final: the run's first copies get their corrected
// dates at its end (recorded as due to change since they were made, so that a run killed
// before then leaves them to the next run).
void write_corrected_dates_of_first_copies(EngineContext& ctx);

// The report's section on the written dates; nothing when the run does not write them.
void corrected_dates_summary(const RunOptions& options, RunResult& result);

}  // namespace cw
