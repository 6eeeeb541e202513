// Ingestion results: appended to the ingestion record, and logged.
#include "ingest/result_store.h"

#include "database/database.h"
#include "foundation/log.h"
#include "ingest/engine_context.h"

namespace cw {

void store_ingestion_result(const RunOptions& options, const RunServices& services,
                            const std::string& text) {
  log_printf("Ingestion %d result: %s", options.ingestion_id, text.c_str());
  if (options.ingestion_id < 0) return;
  if (services.database && services.database->is_open())
    services.database->ingestion_append_result(options.ingestion_id, text);
}

}  // namespace cw
