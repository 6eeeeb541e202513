// The ingestion parameter list built from the master preset, the summary printed when an
// ingestion starts, and the ingestion parameter record: the labelled text of the whole list
// that is stored with the ingestion in the database and written to the run log.
//
// CWParam::build and CWParam::record (declared in settings/param.h) are defined here.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "settings/param_list.h"

namespace cw {

class CWParam;

// Label of each entry of the parameter list, as the record shows it.
extern const char* const kParamLabels[kParamCount];

// The folders of the raw developer's files that the builder names: metadata templates,
// Camera Raw settings and Lightroom develop presets.
struct DevelopFolders {
  std::string templates;
  std::string camera_raw;
  std::string lightroom;
};
// The three folders under the user's data location ("Adobe/XMP/Metadata Templates",
// "Adobe/CameraRaw/Settings", "Adobe/Lightroom/Develop Presets").
DevelopFolders default_develop_folders();

// What the start of an ingestion hands to the builder.
struct BuildRequest {
  std::string card_folder;
  std::string primary_folder;
  std::string backup_folder;       // pre-conversion
  std::string backup_folder_post;  // post-conversion
  int ingestion_key = -1;
  std::string client;
  std::string project;
  std::optional<std::vector<std::string>> image_list;  // the user's chosen images, if any
  DevelopFolders folders;
  // The starting number when not the preference's (a dry run does not store the one given).
  std::optional<std::string> starting_number;
};

// Longest metadata template and develop settings path, and the develop settings name limit.
inline constexpr std::size_t kMaxBuiltPath = 1000;
inline constexpr std::size_t kMaxDevelopName = 200;

// The develop settings file for a "CRDefaults" name: empty for "[none]" or "None"; a name
// ending in " (LR)" or " (LR User Preset)" is a Lightroom develop preset, any other name a
// Camera Raw settings file. False with `why` set when the name or the path is too long.
bool develop_settings_path(const std::string& name, const DevelopFolders& folders,
                           std::string& path, std::string& why);

// The master preset remembers the key of the row last chosen in each database table under
// "LastDB_" + table ("LastDB_client", "LastDB_project", "LastDB_card", "LastDB_Ingestion"):
// the value of the table's key column, which the TABLE.COLUMN macros query by (the name for
// clients, projects and cards; the number for ingestions).
inline constexpr const char* kLastDbPrefix = "LastDB_";
void remember_db_choice(CWParam& param, const std::string& table, const std::string& key);
// The stored key as text; nothing when none is stored.
std::optional<std::string> last_db_choice(CWParam& param, const std::string& table);

// Receives the finished record for the ingestion row (the database's set params).
using RecordStore = std::function<bool(int ingestion_key, const std::string& text)>;

}  // namespace cw
