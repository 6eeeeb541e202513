// Key tables of the preset family.
#include "settings/preset_keys.h"

#include <strings.h>

namespace cw {

const std::vector<PresetKey>& destination_keys() {
  static const std::vector<PresetKey> keys = {
      {"PrimaryFolder", KeyType::Text, "", 0},
      {"BackupFolder", KeyType::Text, "", 0},
      {"BackupFolderPost", KeyType::Text, "", 0},
      {"FolderFormat", KeyType::Text,
       "{@datetimeany,1,4}/{@datetimeany,5,2}/"
       "{@datetimeany,1,4}-{@datetimeany,5,2}-{@datetimeany,7,2}",
       0},
      {"NumberRangeDigits", KeyType::Integer, nullptr, 4},
      {"NumberRangeSource", KeyType::Integer, nullptr, 1},
      {"PartitionSize", KeyType::Text, "300", 0},
      {"WantPartition", KeyType::Integer, nullptr, 0},
      {"ShowFolderMacros", KeyType::Text, nullptr, 0},
      {"WantBackup", KeyType::Integer, nullptr, 1},
      {"WantBackupPost", KeyType::Integer, nullptr, 0},
      {"BurnPrimary", KeyType::Integer, nullptr, 0},
      {"BurnPre", KeyType::Integer, nullptr, 0},
  };
  return keys;
}

const std::vector<PresetKey>& file_keys() {
  static const std::vector<PresetKey> keys = {
      {"NameFormat", KeyType::Text, "{@prefix,1,-1,_}{@datetimeany,1,8}_{@filename,-4}", 0},
      {"FilenamePrefix", KeyType::Text, "IMG", 0},
      {"KeepRaw", KeyType::Integer, nullptr, 0},
      {"VerifyOnly", KeyType::Integer, nullptr, 0},
      {"Preview", KeyType::Text, "-p0", 0},
      {"Embed", KeyType::Integer, nullptr, 0},
      {"ConverterApp", KeyType::Text, "/Applications/Adobe DNG Converter.app", 0},
      {"ConvertParams", KeyType::Text, "", 0},
      {"WantJPEGVerify", KeyType::Integer, nullptr, 0},
      {"XMPtoJPG", KeyType::Integer, nullptr, 0},
      {"ExtractJPG", KeyType::Integer, nullptr, 0},
      {"ViewerApp", KeyType::Text, "[none]", 0},
      {"ViewerFolder", KeyType::Integer, nullptr, 0},
      {"ShowNameMacros", KeyType::Integer, nullptr, 0},
      {"CRDefaults", KeyType::Text, "[none]", 0},
      {"WantGPS", KeyType::Integer, nullptr, 0},
      {"GPSSource", KeyType::Integer, nullptr, 0},
      {"GPSDevice", KeyType::Text, "USB", 0},
      {"GPSSaveFile", KeyType::Integer, nullptr, 0},
      {"CameraZone", KeyType::Text, "???", 0},
      {"CameraZoneDST", KeyType::Integer, nullptr, 0},
      {"CameraAdjustEXIF", KeyType::Integer, nullptr, 0},
      {"CameraAdjustActual", KeyType::Integer, nullptr, 0},
      {"ExtensionsMRU", KeyType::TextList, kDefaultExtensions, 0},
  };
  return keys;
}

const std::vector<PresetKey>& meta_keys() {
  static const std::vector<PresetKey> keys = {
      {"MetaPhotog", KeyType::Text, kDefaultName, 0},
      {"MetaContent", KeyType::Text, kDefaultName, 0},
      {"MetaRights", KeyType::Text, kDefaultName, 0},
      {"EnableMeta", KeyType::Integer, nullptr, 1},
  };
  return keys;
}

const std::vector<PresetKey>& master_only_keys() {
  static const std::vector<PresetKey> keys = {
      {"PresetDestination", KeyType::Text, kDefaultName, 0},
      {"PresetFile", KeyType::Text, kDefaultName, 0},
      {"PresetMeta", KeyType::Text, kDefaultName, 0},
      {"PresetKeywords", KeyType::Text, kDefaultName, 0},
      {"CardFolder", KeyType::Text, "[user choice]", 0},
      {"AutoIngest", KeyType::Integer, nullptr, 0},
      {"AutoEject", KeyType::Integer, nullptr, 0},
      {"FolderHasSpaces", KeyType::Integer, nullptr, 0},
      {"Template", KeyType::Text, kTemplateName, 0},
      {"LastDB_Ingestion", KeyType::Text, "", 0},
  };
  return keys;
}

const std::vector<const char*>& photog_fields() {
  static const std::vector<const char*> f = {"Creator", "Address", "City",  "State",
                                             "PostalCode", "Country", "Phone", "EMail",
                                             "Website", "JobTitle"};
  return f;
}

const std::vector<const char*>& content_fields() {
  static const std::vector<const char*> f = {
      "Title",          "Caption",         "DescriptionWriter", "Headline",
      "Location",       "ImageCity",       "ImageState",        "ImageCountry",
      "ISOCountryCode", "DateCreated",     "IntellectualGenre", "Scene",
      "SubjectCode",    "Category",        "OtherCategories",   "JobIdentifier",
      "Keywords",       "CatalogSets",     "Event",             "Status",
      "People"};
  return f;
}

const std::vector<const char*>& rights_fields() {
  static const std::vector<const char*> f = {"Copyright", "RightsUsageTerms", "CopyrightInfoURL",
                                             "Instructions", "Provider", "Source",
                                             "CopyrightStatus"};
  return f;
}

const std::vector<std::pair<const char*, const char*>>& content_defaults() {
  static const std::vector<std::pair<const char*, const char*>> d = {
      {"JobIdentifier", "{@QF.job}"},
      {"Location", "{@QF.location}"},
      {"Caption", "{@QF.subject}"},
      {"CatalogSets", "{@CatalogSets}</rdf:li><rdf:li>{@client.name}|{@project.name}"},
      {"Keywords", "{@Keywords}</rdf:li><rdf:li>{@IPTCcontent.keywords}"},
      {"DateCreated", "{@datetimeany,1,4}-{@datetimeany,5,2}-{@datetimeany,7,2}"},
  };
  return d;
}

const PresetKey* find_preset_key(const std::string& key) {
  for (const auto* table : {&destination_keys(), &file_keys(), &meta_keys(), &master_only_keys()})
    for (const PresetKey& k : *table)
      if (strcasecmp(k.key, key.c_str()) == 0) return &k;
  return nullptr;
}

std::string copyright_status_to_stored(const std::string& choice) {
  if (choice == "Copyrighted") return "True";
  if (choice == "Public Domain") return "False";
  return "";
}

std::string copyright_status_shown(const std::string& stored) {
  if (stored == "True") return "Copyrighted";
  if (stored == "False") return "Public Domain";
  return "Unknown";
}

}  // namespace cw
