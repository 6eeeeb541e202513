// `cardwright`: the command-line program. Parses the subcommand and hands over to it.
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "app/commands.h"
#include "app/console_ui.h"
#include "control/app_session.h"
#include "control/settings_access.h"
#include "foundation/exif_time.h"

namespace cw::app {

// Every subcommand, in the order --help lists them.
const std::vector<const CommandSpec*>& command_table() {
  static const std::vector<const CommandSpec*> table = {
      &init_command(),         &ingest_command(),   &preset_command(),  &pref_command(),
      &vocab_command(),        &macro_command(),    &db_command(),      &copycard_command(),
      &exif_command(),         &examine_command(),  &cards_command(),   &watch_command(),
      &eject_command(),        &camera_command(),   &disc_command(),    &gps_command(),
      &multicam_command(),     &verify_command(),
      &log_command(),          &check_update_command(), &completion_command(),
      &manpage_command(),
  };
  return table;
}

namespace {

void print_help() {
  std::printf(
      "Usage: cardwright COMMAND [ARGUMENTS]\n"
      "Ingests image files from camera cards into an organised, backed-up archive.\n\n"
      "First steps:\n"
      "  cardwright init                        set up the archive and backup folders\n"
      "  cardwright preset keys master          every setting, its default and meaning\n"
      "  cardwright preset set master Default KEY VALUE\n"
      "                                         change a setting\n"
      "  cardwright macro --reference           the macros that make names and folders\n"
      "  cardwright ingest --card DIR --dry-run where a card's images would go\n"
      "  cardwright ingest --card DIR           ingest it\n\n"
      "Commands:\n");
  for (const CommandSpec* c : command_table()) std::printf("  %-12s %s\n", c->name, c->summary);
  std::printf(
      "\nOptions:\n"
      "  --help       show this help\n"
      "  --version    show the version\n\n"
      "'cardwright COMMAND --help' describes a command; 'man cardwright' all of them.\n");
}

}  // namespace
}  // namespace cw::app

int main(int argc, char** argv) {
  using namespace cw::app;
  // Where the program keeps the C library's allocator (a sanitizer's build, or one without
  // jemalloc: CMakeLists.txt), one heap for every thread: an ingestion's threads each
  // allocate and free a little, and a heap of each thread's own keeps what it freed from the
  // others, which on a card of a hundred thousand files is a sixth of the program's memory.
  // (Set before any thread starts; nothing to jemalloc.)
  mallopt(M_ARENA_MAX, 1);
  // A command reads the system's time zone once. `watch` runs for days, across a laptop's
  // change of zone on a journey, so it keeps looking at the system's zone as it changes.
  if (argc < 2 || std::strcmp(argv[1], "watch") != 0) cw::keep_system_zone();
  if (argc < 2) {
    print_help();
    return 2;
  }
  const char* name = argv[1];
  if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0 ||
      std::strcmp(name, "help") == 0) {
    print_help();
    return 0;
  }
  if (std::strcmp(name, "--version") == 0) {
    std::printf("cardwright %s\n", CARDWRIGHT_VERSION);
    return 0;
  }
  const CommandSpec* command = find_command(name);
  if (!command) {
    std::vector<std::string> names;
    for (const CommandSpec* c : command_table()) names.emplace_back(c->name);
    std::fprintf(stderr, "cardwright: unknown command '%s'%s\nTry 'cardwright --help'.\n", name,
                 cw::did_you_mean(name, names).c_str());
    return 2;
  }
  Args args;
  if (int status = parse_command_line(*command, argc - 2, argv + 2, args); status >= 0)
    return status;
  // The command's session reads it where it opens the database.
  if (const std::optional<std::string> catalogue = args.value(kCatalogueOption))
    ::setenv(cw::kCatalogueVariable, catalogue->c_str(), 1);
  return command->run(*command, args);
}
