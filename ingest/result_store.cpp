// Ingestion results: appended to the ingestion record under the database lock, and logged.
#include "ingest/result_store.h"

#include <mutex>

#include "database/database.h"
#include "foundation/locks.h"
#include "foundation/log.h"

namespace cw {

void store_ingestion_result(int ingestion_id, const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(databaseLock);
  log_printf("Ingestion %d result: %s", ingestion_id, text.c_str());
  if (ingestion_id < 0) return;
  if (Database* db = db_current(); db && db->is_open())
    db->ingestion_append_result(ingestion_id, text);
}

}  // namespace cw
