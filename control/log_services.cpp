// The run log's services.
#include "control/log_services.h"

#include <unistd.h>

#include <cstdlib>

#include "foundation/log.h"

namespace cw {

bool view_log(const std::string& log_path, const ProgramLauncher& launch) {
  std::string editor = "xdg-open";
  for (const char* variable : {"EDITOR", "VISUAL"})
    if (const char* v = std::getenv(variable); v && *v) editor = v;
  if (launch(editor, {log_path})) return true;
  alert_printf("Could not execute %s", editor.c_str());
  return false;
}

bool clear_log(UserInterface& ui, const std::string& log_path) {
  if (!ui.ask_yes_no("Clear log file?")) return false;
  log_close();
  ::unlink(log_path.c_str());
  log_set_path(log_path);
  log_printf("Cleared by user");
  return true;
}

void switch_logging(bool on) {
  if (on == log_enabled()) return;
  if (on) {
    log_set_enabled(true);
    log_printf("Logging now on.");
  } else {
    log_printf("Logging now off.");
    log_set_enabled(false);
  }
}

}  // namespace cw
