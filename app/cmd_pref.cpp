// `cardwright pref`: read and change the global preferences kept in the profile.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "control/settings_access.h"
#include "control/settings_preferences.h"

namespace cw::app {

namespace {

constexpr const char* kName = "pref";

int unknown_preference(const std::string& key) {
  std::vector<std::string> keys;
  for (const PrefKey& k : preference_keys()) keys.emplace_back(k.key);
  return usage_error(kName, "unknown preference '" + key + "'" + did_you_mean(key, keys) +
                                "; 'cardwright pref get' lists them");
}

int run_pref(const CommandSpec&, Args& a) {
  const std::vector<std::string>& w = a.words;
  if (w.empty()) return usage_error(kName, "get or set is required");
  ConsoleUserInterface ui;
  CommandSession session(ui, 0);
  if (w[0] == "get") {
    if (w.size() == 1) {
      for (const PrefKey& k : preference_keys())
        std::printf("%s=%s\n", k.key, pref_show(k.key).value_or("").c_str());
      return 0;
    }
    if (w.size() != 2) return usage_error(kName, "get takes one KEY");
    if (!find_preference(w[1])) return unknown_preference(w[1]);
    auto value = pref_show(w[1]);
    if (!value) return failure(kName, std::string(find_preference(w[1])->key) + " is not set");
    std::printf("%s\n", value->c_str());
    return 0;
  }
  if (w[0] == "set") {
    if (w.size() != 3) return usage_error(kName, "set takes KEY VALUE");
    if (!find_preference(w[1])) return unknown_preference(w[1]);
    std::string why;
    if (!set_preference(w[1], w[2], why)) {
      if (why.empty()) return failure(kName, "can't write " + preferences_file());
      return usage_error(kName, why + ", not '" + w[2] + "'");
    }
    return 0;
  }
  return usage_error(kName, "unknown command '" + w[0] + "'" + did_you_mean(w[0], {"get", "set"}));
}

// The keys with their types and defaults, for the description.
const char* keys_text() {
  static const std::string text = [] {
    std::string t =
        "Reads or changes a global preference (section [App] of\n"
        "$XDG_CONFIG_HOME/CardwrightPro/CardwrightPro.conf, ~/.config by default). Without KEY,\n"
        "get lists every preference with its value.\nKeys:";
    for (const PrefKey& k : preference_keys()) {
      char line[160];
      std::snprintf(line, sizeof line, "\n  %-24s %s%s%s", k.key,
                    k.type == PrefType::Integer ? "number" : k.type == PrefType::Text ? "text" : "bytes (hex)",
                    k.def ? ", default " : "", k.def ? (*k.def ? k.def : "empty") : "");
      t += line;
    }
    return t;
  }();
  return text.c_str();
}

}  // namespace

const CommandSpec& pref_command() {
  static const CommandSpec spec{
      "pref",
      "read and change the global preferences",
      {"get [KEY]", "set KEY VALUE"},
      keys_text(),
      {
          {"get", "[KEY]", "the value of KEY, or of every preference"},
          {"set", "KEY VALUE", "changes a preference"},
      },
      {},
      {},
      "0 success, 1 failure (KEY not set, the profile can't be written), 2 bad usage\n"
      "(an unknown key, a value of the wrong type or too long).",
      run_pref,
  };
  return spec;
}

}  // namespace cw::app
