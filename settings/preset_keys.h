// The keys that presets hold, with their types and defaults, as data.
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
};

inline constexpr const char* kDefaultExtensions =
    "Exclude: BC BCT CCH DB DMG DSC EXE ICO ID ID INF LSC LST MP3 MRK NJB SYS";
inline constexpr const char* kTemplateName = "Cardwright-IPTC.3.4";
inline constexpr const char* kDefaultName = "Default";
inline constexpr const char* kVocabularyKey = "Vocabulary";
inline constexpr const char* kExtensionsKey = "ExtensionsMRU";

const std::vector<PresetKey>& destination_keys();
const std::vector<PresetKey>& file_keys();
// "MetaPhotog", "MetaContent", "MetaRights", "EnableMeta".
const std::vector<PresetKey>& meta_keys();
// Keys held only by the master's working set (the "qf_" keys come on top).
const std::vector<PresetKey>& master_only_keys();
// Text fields of the photographer, content and rights presets.
const std::vector<const char*>& photog_fields();
const std::vector<const char*>& content_fields();
const std::vector<const char*>& rights_fields();
// Defaults put into a new or emptied content preset: pairs of key and text.
const std::vector<std::pair<const char*, const char*>>& content_defaults();

// The row of a key in any of the tables above (compared without regard to case), or null.
const PresetKey* find_preset_key(const std::string& key);

// "CopyrightStatus" as stored for a choice, and the choice shown for a stored text.
std::string copyright_status_to_stored(const std::string& choice);
std::string copyright_status_shown(const std::string& stored);

}  // namespace cw
