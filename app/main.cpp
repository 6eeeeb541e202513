// `cardwright`: the command-line program. Parses the subcommand and hands over to it.
#include <cstdio>
#include <cstring>

#include "app/commands.h"
#include "app/console_ui.h"

namespace cw::app {

// Every subcommand, in the order --help lists them.
const Command kCommands[] = {
    {"db", "browse and manage the ingestion database", cmd_db},
    {"ingest", "ingest a card into the archive", cmd_ingest},
    {"copycard", "run an ingestion from the raw parameter list", cmd_copycard},
    {"preset", "list, show, edit, save, rename, delete and select presets", cmd_preset},
    {"pref", "read and change the global preferences", cmd_pref},
    {"vocab", "show and edit the keyword vocabulary", cmd_vocab},
    {"macro", "expand a macro specification with sample data (the macro laboratory)", cmd_macro},
    {"exif", "show the EXIF values and capture identity of camera files", cmd_exif},
    {"examine", "show every macro value and the internal structure of an image file",
     cmd_examine},
    {"cards", "show the mounted cards", cmd_cards},
    {"watch", "ingest each card as it is mounted", cmd_watch},
    {"eject", "unmount and eject a card", cmd_eject},
    {"camera", "list connected cameras and the images they hold", cmd_camera},
    {"disc", "plan folders onto discs and write them to a recorder or image files", cmd_disc},
    {"gps", "GPS tracks: camera zones, track summaries, image positions, receivers, tagging",
     cmd_gps},
    {"multicam", "put several cameras on one clock and ingest them in time order", cmd_multicam},
    {"log", "show, clear or edit the run log", cmd_log},
    {"check-update", "ask whether a newer version is available", cmd_check_update},
    {nullptr, nullptr, nullptr},
};

int usage_error(const char* command, const char* message) {
  std::fprintf(stderr, "cardwright %s: %s\n", command, message);
  std::fprintf(stderr, "Try 'cardwright %s --help'.\n", command);
  return 2;
}

bool wants_help(int argc, char** argv, std::vector<std::string>& words) {
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") return true;
    words.push_back(std::move(a));
  }
  return false;
}

namespace {

void print_help() {
  std::printf(
      "Usage: cardwright COMMAND [ARGUMENTS]\n"
      "Ingests image files from camera cards into an organised, backed-up archive.\n\n"
      "Commands:\n");
  for (const Command& c : kCommands)
    if (c.name) std::printf("  %-12s %s\n", c.name, c.summary);
  std::printf(
      "\nOptions:\n"
      "  --help       show this help\n"
      "  --version    show the version\n\n"
      "'cardwright COMMAND --help' describes a command.\n");
}

}  // namespace
}  // namespace cw::app

int main(int argc, char** argv) {
  using namespace cw::app;
  if (argc < 2) {
    print_help();
    return 2;
  }
  const char* name = argv[1];
  if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0) {
    print_help();
    return 0;
  }
  if (std::strcmp(name, "--version") == 0) {
    std::printf("cardwright %s\n", CARDWRIGHT_VERSION);
    return 0;
  }
  for (const Command& c : kCommands)
    if (c.name && std::strcmp(c.name, name) == 0) return c.run(argc - 2, argv + 2);
  std::fprintf(stderr, "cardwright: unknown command '%s'\nTry 'cardwright --help'.\n", name);
  return 2;
}
