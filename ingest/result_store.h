// Where a run's outcome text goes for its ingestion record. The database is not in this
// build: the text is written to the run log, tagged with the ingestion id.
#pragma once

#include <string>

namespace cw {

// Appends `text` to the result of ingestion `ingestion_id`; takes databaseLock.
void store_ingestion_result(int ingestion_id, const std::string& text);

}  // namespace cw
