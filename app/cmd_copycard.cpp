// `cardwright copycard ARG1 … ARG30`: runs the ingestion driver on a raw parameter list, as
// the ingestion monitor would, and prints its report.
#include <cstdio>
#include <string>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_run.h"
#include "control/copycard.h"
#include "control/settings_access.h"

namespace cw::app {

namespace {

int run_copycard(const CommandSpec& spec, Args& a) {
  ParamList params;
  params.values.emplace_back("cardwright");
  for (const std::string& w : a.words) params.values.push_back(w);
  const std::string& list = params.text(kParamFileArray);
  // With a wrong count the positions mean nothing; copycard reports the count.
  if (params.count() == kParamCount && list != "-" && !list.empty()) {
    if (list[0] != '@') return usage_error(spec.name, "fileArray must be '-' or @FILE, not '" + list + "'");
    params.file_array.emplace();
    if (!read_path_list(list.substr(1), *params.file_array))
      return failure(spec.name, "can't read " + list.substr(1));
  }
  ConsoleUserInterface ui;
  CommandSession session(ui, kSessionIngest);
  if (!session->ok()) return 1;
  CardMonitor monitor(copycard_setup(*session, params));
  const MonitorOutcome outcome =
      run_on_console(monitor, ui, params.text(kParamCardFolder), false);
  if (params.count() != kParamCount) return 2;
  return outcome.success ? 0 : 1;
}

const char* positions_text() {
  static const std::string text = [] {
    std::string t =
        "Runs one ingestion from the raw parameter list (position 0 is this program).\n"
        "Flags are \"1\" or \"0\". Position 24 (fileArray) is '-' for a whole card or @FILE\n"
        "naming a file with one image path per line. The card folder (position 2) is also the\n"
        "scan root.\n\nPositions:";
    for (int i = 1; i < kParamCount; ++i) t += "\n  " + std::to_string(i) + "  " + kParamNames[i];
    return t;
  }();
  return text.c_str();
}

}  // namespace

const CommandSpec& copycard_command() {
  static const CommandSpec spec{
      "copycard",
      "run an ingestion from the raw parameter list",
      {"ARG1 ... ARG30"},
      positions_text(),
      {},
      {},
      {},
      "0 success, 1 failure, 2 wrong argument count.",
      run_copycard,
      true,
  };
  return spec;
}

}  // namespace cw::app
