// Where a run's outcome texts go: the result column of its ingestion record in the program's
// database connection (database/database.h, db_current). Without a registered connection or
// a record (key below 0) the text only reaches the run log.
#pragma once

#include <string>

namespace cw {

// Appends `text` to the result of ingestion `ingestion_id` (joined to earlier texts by
// " / ") and writes it to the run log; holds databaseLock for the statement.
void store_ingestion_result(int ingestion_id, const std::string& text);

}  // namespace cw
