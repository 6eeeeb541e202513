// The global preferences as the front ends change them.
#include "control/settings_preferences.h"

#include "control/log_services.h"
#include "platform/paths.h"
#include "settings/preferences.h"

namespace cw {

namespace {

bool logging_on() { return pref_get_int("LogV3") != 0; }

}  // namespace

std::string preferences_file() { return profile_path(); }

bool set_preference(const std::string& key, const std::string& text, std::string& why) {
  why.clear();
  if (!pref_set_from_text(key, text, why)) return false;
  if (find_preference(key) == find_preference("LogV3")) switch_logging(logging_on());
  return true;
}

std::vector<std::string> store_preferences(
    const std::vector<std::pair<std::string, bool>>& switches,
    const std::vector<std::pair<std::string, std::string>>& texts) {
  const bool logging_before = logging_on();
  for (const auto& [key, on] : switches) pref_put_int(key, on ? 1 : 0);
  std::vector<std::string> refused;
  for (const auto& [key, text] : texts) {
    std::string why;
    if (!pref_set_from_text(key, text, why)) refused.push_back(why);
  }
  if (logging_on() != logging_before) switch_logging(logging_on());
  return refused;
}

}  // namespace cw
