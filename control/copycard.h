// Copycard: what `cardwright copycard` does. One ingestion of a raw parameter list, run by the
// ingestion monitor on this session's database, macro environment and presets, exactly as
// the monitor runs a list the desktop program builds.
#pragma once

#include "control/card_monitor.h"

namespace cw {

class AppSession;

// The monitor's setup for `params` on the session (which must have taken the steps of an
// ingestion).
MonitorSetup copycard_setup(AppSession& session, ParamList params);

}  // namespace cw
