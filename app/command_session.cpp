// Front end and run log set-up shared by the subcommands.
#include "app/command_session.h"

#include "foundation/log.h"
#include "platform/paths.h"
#include "settings/preferences.h"

namespace cw::app {

CommandSession::CommandSession(UserInterface& ui) {
  set_user_interface(&ui);
  log_set_enabled(pref_get_int("LogV3") != 0);
  user_folder_ = ensure_user_folder();
  log_set_path(user_folder_ + "/cw_log.txt");
}

CommandSession::~CommandSession() { set_user_interface(nullptr); }

}  // namespace cw::app
