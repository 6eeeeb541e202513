// The ingestion driver: one ingestion of one source (a card folder, a camera, or a list of
// picked files) from the 31-position parameter list, ending with the report's summary.
#pragma once

#include <string>

#include "ingest/engine_context.h"
#include "settings/param_list.h"

namespace cw {

// The whole run: validate, scan, wait for the order gate, name, copy, second copy and
// backups, GPS, summary. True for a successful ingestion; on false ctx.error says why (it may
// be empty when the failure is only in the report).
bool copycard(const ParamList& params, int count, const std::string& scan_root,
              EngineContext& ctx);

// What a slot's thread does around copycard: "Running", the run, and on an error the
// "ERROR: %s" line in the report and the status, and the error stored with the ingestion.
// True only when the run succeeded and recorded no error on the way.
bool run_slot(const ParamList& params, const std::string& scan_root, EngineContext& ctx);

}  // namespace cw
