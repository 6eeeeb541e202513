// `cardwright log show|path|edit|clear`: the run log's services, and `cardwright check-update`:
// the update check of the Help menu.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "control/log_services.h"
#include "control/update_check.h"
#include "control/viewer.h"
#include "settings/preferences.h"

namespace cw::app {

int cmd_log(int argc, char** argv) {
  std::vector<std::string> args;
  bool yes = false;
  if (wants_help(argc, argv, args) || args.empty()) {
    std::printf(
        "Usage: cardwright log show|path|edit|clear [--yes]\n"
        "The run log: show prints it, path prints where it is, edit opens it in $VISUAL,\n"
        "$EDITOR or the desktop's editor, clear empties it (asks first; --yes answers Yes).\n");
    return args.empty() ? 2 : 0;
  }
  if (args.size() == 2 && args[1] == "--yes") yes = true;
  else if (args.size() != 1) return usage_error("log", "one of show, path, edit, clear");
  ConsoleUserInterface ui(yes);
  CommandSession session(ui, 0);
  const std::string& path = session->paths().log;
  if (args[0] == "path") {
    std::printf("%s\n", path.c_str());
  } else if (args[0] == "show") {
    std::ifstream in(path, std::ios::binary);
    std::fflush(stdout);
    std::string chunk(1 << 16, '\0');
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0)
      std::fwrite(chunk.data(), 1, static_cast<std::size_t>(in.gcount()), stdout);
  } else if (args[0] == "edit") {
    return view_log(path, launch_detached) ? 0 : 1;
  } else if (args[0] == "clear") {
    return clear_log(path) ? 0 : 1;
  } else {
    return usage_error("log", ("unknown command '" + args[0] + "'").c_str());
  }
  return 0;
}

int cmd_check_update(int argc, char** argv) {
  std::vector<std::string> args;
  if (wants_help(argc, argv, args)) {
    std::printf(
        "Usage: cardwright check-update\n"
        "Asks the update address (preference UpdateCheckURL; nothing is asked while it is\n"
        "empty) whether this version is the current one.\n"
        "Exit status: 0 up to date, 1 an update may be available or the check failed.\n");
    return 0;
  }
  if (!args.empty()) return usage_error("check-update", "takes no arguments");
  ConsoleUserInterface ui;
  CommandSession session(ui, 0);
  const UpdateCheckResult result =
      check_for_update(pref_get_text("UpdateCheckURL"), AppSession::version());
  std::printf("%s\n", manual_update_message(result).c_str());
  return result.reply == UpdateReply::kUpToDate ? 0 : 1;
}

}  // namespace cw::app
