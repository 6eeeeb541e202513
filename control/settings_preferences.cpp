// The global preferences as the front ends change them.
#include "control/settings_preferences.h"

#include "control/log_services.h"
#include "database/archive_roots.h"
#include "platform/paths.h"
#include "settings/preferences.h"

namespace cw {

namespace {

bool logging_on() { return pref_get_int("LogV3") != 0; }

// Stores one text; the archive roots are read first, so that a station is never left with a
// mapping it cannot open its catalogue with.
bool set_text(const std::string& key, const std::string& text, std::string& why) {
  if (find_preference(key) == find_preference("ArchiveRoots") &&
      !ArchiveRoots::parse(text, why)) {
    why = "ArchiveRoots: " + why;
    return false;
  }
  return pref_set_from_text(key, text, why);
}

}  // namespace

std::string preferences_file() { return profile_path(); }

bool set_preference(const std::string& key, const std::string& text, std::string& why) {
  why.clear();
  if (!set_text(key, text, why)) return false;
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
    if (!set_text(key, text, why)) refused.push_back(why);
  }
  if (logging_on() != logging_before) switch_logging(logging_on());
  return refused;
}

}  // namespace cw
