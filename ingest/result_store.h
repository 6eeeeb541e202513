// Where a run's outcome texts go: the result column of its ingestion record, through the
// database connection the run was given (RunServices::database). Without a connection or a
// record (key below 0) the text only reaches the run log.
#pragma once

#include <string>

namespace cw {

struct RunOptions;
struct RunServices;

// Appends `text` to the result of the run's ingestion record (joined to earlier texts by
// " / ") and writes it to the run log.
void store_ingestion_result(const RunOptions& options, const RunServices& services,
                            const std::string& text);

}  // namespace cw
