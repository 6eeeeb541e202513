// Ingestion results: appended to the ingestion record, and logged.
#include "ingest/result_store.h"

#include "database/database.h"
#include "foundation/log.h"
#include "ingest/engine_context.h"

namespace cw {

void store_ingestion_result(EngineContext& ctx, const std::string& text) {
  log_printf("Ingestion %d result: %s", ctx.ingestion_id, text.c_str());
  if (ctx.ingestion_id < 0) return;
  if (ctx.database && ctx.database->is_open())
    ctx.database->ingestion_append_result(ctx.ingestion_id, text);
}

}  // namespace cw
