// The monitor's setup of a raw parameter list.
#include "control/copycard.h"

#include <utility>

#include "control/app_session.h"
#include "metadata/macro_settings_env.h"
#include "settings/param.h"

namespace cw {

MonitorSetup copycard_setup(AppSession& session, ParamList params) {
  MonitorSetup setup;
  setup.params = std::move(params);
  setup.database = session.database();
  setup.macro_env = &session.macro_environment();
  setup.cameras = &session.cameras();
  setup.master = &session.settings().master();
  return setup;
}

}  // namespace cw
