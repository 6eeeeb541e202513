// The keys that presets hold, with their types, defaults, allowed values and meanings, as
// data: the presets read their defaults from here, edits by key and value are checked against
// it, and `cardwright preset keys` and the desktop program's editors show it to the user.
//
// The destination and file-handling groups are copied key by key between a component preset
// and the master's working set; the metadata presets hold plain text fields.
#pragma once

#include <string>
#include <vector>

namespace cw {

enum class KeyType { Integer, Text, TextList };

struct PresetKey {
  const char* key;
  KeyType type;
  const char* text_default;  // Text/TextList: default, null when the key has none
  int int_default;           // Integer: default
  const char* allowed;       // the values an edit may give, separated by spaces; null: any
  const char* meaning;       // what the key does, for the user
};

inline constexpr const char* kDefaultExtensions =
    "Exclude: BC BCT CCH DB DMG DSC EXE ICO ID ID INF LSC LST MP3 MRK NJB SYS";
inline constexpr const char* kTemplateName = "Cardwright-IPTC.3.4";
inline constexpr const char* kDefaultName = "Default";
inline constexpr const char* kVocabularyKey = "Vocabulary";
inline constexpr const char* kExtensionsKey = "ExtensionsMRU";
// Values of the on/off switches.
inline constexpr const char* kSwitchValues = "0 1";

const std::vector<PresetKey>& destination_keys();
const std::vector<PresetKey>& file_keys();
// "MetaPhotog", "MetaContent", "MetaRights", "EnableMeta".
const std::vector<PresetKey>& meta_keys();
// Keys held only by the master's working set (the "qf_" keys come on top).
const std::vector<PresetKey>& master_only_keys();
// Text fields of the photographer, content and rights presets (the content fields with the
// defaults a new content preset gets).
const std::vector<PresetKey>& photog_fields();
const std::vector<PresetKey>& content_fields();
const std::vector<PresetKey>& rights_fields();
// The keywords preset's one key, "Vocabulary".
const std::vector<PresetKey>& keywords_keys();
// Defaults put into a new or emptied content preset: pairs of key and text.
const std::vector<std::pair<const char*, const char*>>& content_defaults();

// The row of a key of the master's working set or its groups (compared without regard to
// case), or null. The metadata fields are not among them.
const PresetKey* find_preset_key(const std::string& key);

// Whether `value` is one of the key's allowed values (any value when the key lists none).
bool preset_value_in_range(const PresetKey& key, const std::string& value);
// The key's allowed values for a message: "0 or 1", "4, 5 or 6"; empty when any value goes.
std::string allowed_values_text(const PresetKey& key);

// The key's kind of value and its default for the user: "0 or 1, default 1", "text, default
// \"IMG\"", "text, empty by default", "4, 5 or 6, default 4".
std::string key_values_text(const PresetKey& key);

// "CopyrightStatus" as stored for a choice, and the choice shown for a stored text.
std::string copyright_status_to_stored(const std::string& choice);
std::string copyright_status_shown(const std::string& stored);

}  // namespace cw
