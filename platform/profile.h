// The per-user profile: small typed values kept in an INI file (profile_path()), grouped in
// sections. The program keeps its global preferences in section "App".
//
// Every call reads the file afresh and every put rewrites it through a temporary file that is
// flushed and renamed over it, so two programs (the desktop program and `cardwright pref`)
// see each other's changes and a crash never leaves half a profile. Text values are stored
// with backslash escapes for line ends and backslashes; byte blocks as hexadecimal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cw {

inline constexpr const char* kProfileSection = "App";

// The stored text of a key, or nothing when the key (or the file) is absent.
std::optional<std::string> profile_get_raw(const std::string& section, const std::string& key);

// Typed access. A stored value that is not a number reads as `def` for integers.
int profile_get_int(const std::string& section, const std::string& key, int def);
std::string profile_get_string(const std::string& section, const std::string& key,
                               const std::string& def);
std::optional<std::vector<std::uint8_t>> profile_get_binary(const std::string& section,
                                                            const std::string& key);
bool profile_put_int(const std::string& section, const std::string& key, int value);
bool profile_put_string(const std::string& section, const std::string& key,
                        const std::string& value);
bool profile_put_binary(const std::string& section, const std::string& key,
                        const std::vector<std::uint8_t>& bytes);
// Removes a key; success when it was absent.
bool profile_remove(const std::string& section, const std::string& key);

}  // namespace cw
