// `cardwright examine FILE`: the examination report of one image file — every macro value the
// program would use for it, then its internal TIFF/EXIF structure.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/commands.h"
#include "app/console_ui.h"
#include "foundation/log.h"
#include "foundation/user_interface.h"
#include "imagefile/examine.h"
#include "metadata/macro_settings_env.h"
#include "platform/paths.h"

namespace cw::app {

int cmd_examine(int argc, char** argv) {
  const char* file = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "Usage: cardwright examine FILE\n"
          "Shows the value of every EXIF macro and of the IPTC fields of the current presets\n"
          "for an image file, then the file's internal structure as the program reads it.\n"
          "The file is only read.\n\n"
          "Exit status: 0 when the file's structure was understood, 1 when it was not,\n"
          "2 bad usage.\n");
      return 0;
    }
    if (argv[i][0] == '-' && argv[i][1] != 0) return usage_error("examine", "unknown option");
    if (file) return usage_error("examine", "give one FILE");
    file = argv[i];
  }
  if (!file) return usage_error("examine", "no file given");

  ConsoleUserInterface ui(false);
  set_user_interface(&ui);
  log_set_path(ensure_user_folder() + "/cw_log.txt");
  bool ok = false;
  {
    std::unique_ptr<SettingsMacroEnvironment> env = load_user_macro_environment();
    std::string report = examination_report(file, *env, &ok);
    std::fflush(stdout);
    std::fputs(report.c_str(), stdout);
    std::fflush(stdout);
  }
  set_user_interface(nullptr);
  return ok ? 0 : 1;
}

}  // namespace cw::app
