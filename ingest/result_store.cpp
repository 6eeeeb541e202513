// Ingestion results, logged until the database records them.
#include "ingest/result_store.h"

#include <mutex>

#include "foundation/locks.h"
#include "foundation/log.h"

namespace cw {

void store_ingestion_result(int ingestion_id, const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(databaseLock);
  log_printf("Ingestion %d result: %s", ingestion_id, text.c_str());
}

}  // namespace cw
