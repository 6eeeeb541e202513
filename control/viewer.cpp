// Viewer launch.
#include "control/viewer.h"

#include "foundation/log.h"
#include "foundation/runner.h"
#include "settings/preset.h"

namespace cw {

namespace {
constexpr std::size_t kMaxViewerFolder = 999;
}

std::string viewer_folder_argument(const std::string& folder) {
  std::string arg = folder.substr(0, kMaxViewerFolder);
  // A folder named with a trailing "/." (as a folder list may give it) is the folder itself.
  if (arg.size() >= 2 && arg.compare(arg.size() - 2, 2, "/.") == 0)
    arg.resize(arg.size() == 2 ? 1 : arg.size() - 2);
  return arg;
}

void launch_viewer(const CWPreset& master, const std::optional<std::string>& folder,
                   const ProgramLauncher& launch) {
  const std::string viewer = master.get_str("ViewerApp").value_or("[none]");
  if (viewer == "[none]" || viewer.empty()) {
    ui_print("\n(No viewer chosen in Preferences)\n");
    return;
  }
  std::vector<std::string> args;
  std::string text = "\nLaunching " + viewer;
  if (folder && master.get_int("ViewerFolder") != 0) {
    args.push_back(viewer_folder_argument(*folder));
    text += " with folder " + args.back();
  }
  ui_print(text + "\n");
  if (!launch(viewer, args)) ui_print("\nCan't launch viewer app: " + viewer + "\n");
}

bool launch_detached(const std::string& program, const std::vector<std::string>& args) {
  return spawn_detached(program, args);
}

}  // namespace cw
