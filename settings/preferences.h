// Global preferences: the keys of the profile's section "App", their types and defaults.
//
// Every preference is read afresh from the profile (platform/profile.h), so the desktop
// program and the command line agree; a key that was never stored reads as its default.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cw {

enum class PrefType { Integer, Text, Bytes };

struct PrefKey {
  const char* key;
  PrefType type;
  const char* def;  // default as text; null when the key has none
  std::size_t max_length;  // 0: no limit
};

// Every key of section "App", in the order they are documented.
const std::vector<PrefKey>& preference_keys();
// The table row of a key (compared without regard to case), or null.
const PrefKey* find_preference(const std::string& key);

// Typed reads with the table's default (0 / "" when the key has none).
int pref_get_int(const std::string& key);
std::string pref_get_text(const std::string& key);
bool pref_put_int(const std::string& key, int value);
bool pref_put_text(const std::string& key, const std::string& value);

// The value as text for display: integers in decimal, texts as stored (a catalogue URL's
// password as "****"), byte blocks in hex; nothing for a key that has neither a stored value
// nor a default.
std::optional<std::string> pref_show(const std::string& key);
// Stores a value given as text; integers must be decimal numbers and texts respect their
// length limit. On refusal `why` says why.
bool pref_set_from_text(const std::string& key, const std::string& value, std::string& why);

// The starting number of the next ingestion ("1" when empty); at most 50 characters stored.
std::string starting_number();
bool set_starting_number(const std::string& number);

// The start-up countdown of "IncompatibilityWarning": returns the warning text when it is to
// be shown (and stores the decreased count), else nothing.
std::optional<std::string> incompatibility_countdown();
// Ends the countdown before it starts: called when the presets load and no master preset is
// saved, so that a home that never had presets of an earlier version is never warned about
// them, not even after its first presets are saved.
void settle_incompatibility_warning();
inline constexpr const char* kIncompatibilityWarning =
    "WARNING: Master presets saved in earlier versions will not be converted to Version "
    "3.2.\r\n\r\nDestination, File Handling, Metadata, and Keywords presets will be set to "
    "Default.";

}  // namespace cw
