// `cardwright pref`: read and change the global preferences kept in the profile.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "control/log_services.h"
#include "platform/paths.h"
#include "settings/preferences.h"

namespace cw::app {

namespace {

constexpr const char* kName = "pref";

void print_help() {
  std::printf(
      "Usage: cardwright pref get [KEY]\n"
      "       cardwright pref set KEY VALUE\n"
      "Reads or changes a global preference (section [App] of %s).\n"
      "Without KEY, get lists every preference with its value.\n\nKeys:\n",
      profile_path().c_str());
  for (const PrefKey& k : preference_keys())
    std::printf("  %-24s %s%s%s\n", k.key,
                k.type == PrefType::Integer ? "number" : k.type == PrefType::Text ? "text" : "bytes (hex)",
                k.def ? ", default " : "", k.def ? (*k.def ? k.def : "empty") : "");
}

}  // namespace

int cmd_pref(int argc, char** argv) {
  std::vector<std::string> args;
  if (wants_help(argc, argv, args)) {
    print_help();
    return 0;
  }
  if (args.empty()) return usage_error(kName, "get or set is required");
  ConsoleUserInterface ui;
  CommandSession session(ui, 0);
  if (args[0] == "get") {
    if (args.size() == 1) {
      for (const PrefKey& k : preference_keys())
        std::printf("%s=%s\n", k.key, pref_show(k.key).value_or("").c_str());
      return 0;
    }
    if (args.size() != 2) return usage_error(kName, "get takes one KEY");
    if (!find_preference(args[1]))
      return usage_error(kName, ("unknown preference '" + args[1] + "'").c_str());
    auto value = pref_show(args[1]);
    if (!value) {
      std::fprintf(stderr, "cardwright pref: %s is not set\n", find_preference(args[1])->key);
      return 1;
    }
    std::printf("%s\n", value->c_str());
    return 0;
  }
  if (args[0] == "set") {
    if (args.size() != 3) return usage_error(kName, "set takes KEY VALUE");
    if (!find_preference(args[1]))
      return usage_error(kName, ("unknown preference '" + args[1] + "'").c_str());
    std::string why;
    if (!pref_set_from_text(args[1], args[2], why)) {
      std::fprintf(stderr, "cardwright pref: %s\n",
                   why.empty() ? ("can't write " + profile_path()).c_str() : why.c_str());
      return why.empty() ? 1 : 2;
    }
    if (find_preference(args[1]) == find_preference("LogV3")) switch_logging(pref_get_int("LogV3") != 0);
    return 0;
  }
  return usage_error(kName, ("unknown command '" + args[0] + "'").c_str());
}

}  // namespace cw::app
