// `cardwright copycard ARG1 … ARG30`: runs the ingestion driver on a raw parameter list, as
// the ingestion monitor would, and prints its report.
#include <cstdio>
#include <cstring>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_run.h"
#include "metadata/macro_settings_env.h"
#include "settings/param.h"

namespace cw::app {

namespace {

void print_help() {
  std::printf(
      "Usage: cardwright copycard ARG1 ... ARG30\n"
      "Runs one ingestion from the raw parameter list (position 0 is this program).\n"
      "Flags are \"1\" or \"0\". Position 24 (fileArray) is '-' for a whole card or @FILE\n"
      "naming a file with one image path per line. The card folder (position 2) is also the\n"
      "scan root. Exit status: 0 success, 1 failure, 2 wrong argument count.\n\n"
      "Positions:\n");
  for (int i = 1; i < kParamCount; ++i) std::printf("  %2d  %s\n", i, kParamNames[i]);
}

}  // namespace

int cmd_copycard(int argc, char** argv) {
  if (argc == 1 && (std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0)) {
    print_help();
    return 0;
  }
  ParamList params;
  params.values.emplace_back("cardwright");
  for (int i = 0; i < argc; ++i) params.values.emplace_back(argv[i]);
  const std::string& list = params.text(kParamFileArray);
  // With a wrong count the positions mean nothing; copycard reports the count.
  if (params.count() == kParamCount && list != "-" && !list.empty()) {
    if (list[0] != '@') return usage_error("copycard", "fileArray must be '-' or @FILE");
    params.file_array.emplace();
    if (!read_path_list(list.substr(1), *params.file_array)) {
      std::fprintf(stderr, "cardwright copycard: can't read %s\n", list.c_str() + 1);
      return 1;
    }
  }
  ConsoleUserInterface ui;
  CommandSession session(ui, kSessionIngest);
  if (!session->ok()) return 1;
  MonitorSetup setup;
  setup.params = params;
  setup.database = session->database();
  setup.macro_env = &session->macro_environment();
  setup.master = &session->settings().master();
  CardMonitor monitor(std::move(setup));
  const MonitorOutcome outcome =
      run_on_console(monitor, ui, params.text(kParamCardFolder), false);
  if (params.count() != kParamCount) return 2;
  return outcome.success ? 0 : 1;
}

}  // namespace cw::app
