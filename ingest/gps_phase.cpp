// GPS section of the report.
#include "ingest/gps_phase.h"

#include <mutex>

#include "foundation/locks.h"

namespace cw {

bool gps_tagging_enabled() {
  std::lock_guard<std::recursive_mutex> lock(databaseLock);
  return false;  // no track store in this build
}

bool gps_summary(EngineContext& ctx) {
  ctx.report_append("\nGPS Tagging:\n");
  if (gps_tagging_enabled()) {
    int n = static_cast<int>(ctx.gps_list.size());
    ctx.status_printf("GPS tagging: %d file%s", n, n == 1 ? "" : "s");
    ctx.report_printf("\t%d tagged\n\t%d out of time interval\n\t%d error(s)\n", ctx.counts.gps_tagged,
                      ctx.counts.gps_out_of_interval, ctx.counts.gps_errors);
  } else {
    ctx.report_append("\tDisabled (choose Tools-GPS to enable)\n");
  }
  ctx.report_append("\n");
  return true;
}

}  // namespace cw
