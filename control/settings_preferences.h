// Preferences: what the Preferences dialog and `cardwright pref` do with the global
// preferences kept in the profile: change one from its text, store what the dialog shows, and
// apply a change of the logging switch at once (noted in the run log).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace cw {

// The profile file the preferences are kept in.
std::string preferences_file();

// Stores KEY from its text (integers as decimal numbers, texts within their length limit) and
// applies a change of "LogV3". False with `why` saying why the value was refused, or with an
// empty `why` when the profile could not be written.
bool set_preference(const std::string& key, const std::string& text, std::string& why);

// Stores the switches (on or off) and the texts of the Preferences dialog, then applies a
// change of "LogV3". Returns why each refused text was refused; the others are stored.
std::vector<std::string> store_preferences(
    const std::vector<std::pair<std::string, bool>>& switches,
    const std::vector<std::pair<std::string, std::string>>& texts);

}  // namespace cw
