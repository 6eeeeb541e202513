// Ingestion results: appended to the ingestion record under the database lock, and logged.
#include "ingest/result_store.h"

#include <mutex>

#include "database/database.h"
#include "foundation/locks.h"
#include "foundation/log.h"
#include "ingest/engine_context.h"

namespace cw {

void store_ingestion_result(EngineContext& ctx, const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(databaseLock);
  log_printf("Ingestion %d result: %s", ctx.ingestion_id, text.c_str());
  if (ctx.ingestion_id < 0) return;
  if (ctx.database && ctx.database->is_open())
    ctx.database->ingestion_append_result(ctx.ingestion_id, text);
}

}  // namespace cw
