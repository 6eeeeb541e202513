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
#include "control/settings_access.h"

namespace cw::app {

namespace {

int run_log(const CommandSpec& spec, Args& a) {
  const std::vector<std::string>& args = a.words;
  const bool yes = a.has("yes");
  if (args.size() != 1) return usage_error(spec.name, "give one of show, path, edit, clear");
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
    return clear_log(ui, path) ? 0 : 1;
  }
  return 0;
}

int run_check_update(const CommandSpec& spec, Args& a) {
  if (!a.words.empty()) return usage_error(spec.name, "takes no arguments");
  ConsoleUserInterface ui;
  CommandSession session(ui, 0);
  const UpdateCheckResult result =
      check_for_update(pref_get_text("UpdateCheckURL"), AppSession::version());
  std::printf("%s\n", manual_update_message(result).c_str());
  return result.reply == UpdateReply::kUpToDate ? 0 : 1;
}

}  // namespace

const CommandSpec& log_command() {
  static const CommandSpec spec{
      "log",
      "show, clear or edit the run log",
      {"show|path|edit|clear [--yes]"},
      "The run log: every report and message of the ingestions.",
      {
          {"show", "", "prints it"},
          {"path", "", "prints where it is"},
          {"edit", "", "opens it in $VISUAL, $EDITOR or the desktop's editor"},
          {"clear", "", "empties it (asks first)"},
      },
      {{"yes", nullptr, "answer Yes to the question before clearing", false, nullptr, "clear"}},
      {},
      nullptr,
      run_log,
  };
  return spec;
}

const CommandSpec& check_update_command() {
  static const CommandSpec spec{
      "check-update",
      "ask whether a newer version is available",
      {""},
      "Asks the update address (preference UpdateCheckURL; nothing is asked while it is\n"
      "empty) whether this version is the current one.",
      {},
      {},
      {},
      "0 up to date, 1 an update may be available or the check failed, 2 bad usage.",
      run_check_update,
  };
  return spec;
}

}  // namespace cw::app
