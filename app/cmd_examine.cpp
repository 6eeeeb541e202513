// `cardwright examine FILE`: the examination report of one image file — every macro value the
// program would use for it, then its internal TIFF/EXIF structure.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/command_session.h"
#include "app/commands.h"
#include "metadata/examine.h"
#include "metadata/macro_settings_env.h"
#include "settings/preferences.h"

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

  // The macros show what an ingestion would use: the current presets, the database's
  // chosen rows and the notes of the next ingestion.
  ConsoleUserInterface ui;
  CommandSession session(ui, kSessionDatabase);
  if (!session->ok()) return 1;
  SettingsMacroEnvironment& env = session->macro_environment();
  env.notes = pref_get_text("IngestionNotes");
  bool ok = false;
  const std::string report = examination_report(file, env, &ok);
  std::fputs(report.c_str(), stdout);
  std::fflush(stdout);
  return ok ? 0 : 1;
}

}  // namespace cw::app
