// Subcommands of the `cardwright` program. Each takes the arguments after its own name and
// returns the process exit status: 0 success, 1 failure, 2 bad usage.
#pragma once

#include <string>
#include <vector>

namespace cw::app {

struct Command {
  const char* name;
  const char* summary;  // one line for --help
  int (*run)(int argc, char** argv);
};

int cmd_db(int argc, char** argv);
int cmd_ingest(int argc, char** argv);
int cmd_copycard(int argc, char** argv);
int cmd_preset(int argc, char** argv);
int cmd_pref(int argc, char** argv);
int cmd_vocab(int argc, char** argv);

// Prints a usage error for `command` on stderr and returns 2.
int usage_error(const char* command, const char* message);

// Collects the arguments into `words`; true (and `words` incomplete) when one of them is
// --help or -h.
bool wants_help(int argc, char** argv, std::vector<std::string>& words);

int cmd_log(int argc, char** argv);
int cmd_camera(int argc, char** argv);
int cmd_gps(int argc, char** argv);
int cmd_disc(int argc, char** argv);
int cmd_cards(int argc, char** argv);
int cmd_watch(int argc, char** argv);
int cmd_eject(int argc, char** argv);
int cmd_check_update(int argc, char** argv);
int cmd_macro(int argc, char** argv);
int cmd_exif(int argc, char** argv);
int cmd_examine(int argc, char** argv);
int cmd_multicam(int argc, char** argv);

}  // namespace cw::app
