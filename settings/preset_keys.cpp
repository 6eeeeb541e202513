// Key tables of the preset family.
#include "settings/preset_keys.h"

#include <strings.h>

namespace cw {

namespace {

constexpr const char* kFolderFormatDefault =
    "{@datetimeany,1,4}/{@datetimeany,5,2}/"
    "{@datetimeany,1,4}-{@datetimeany,5,2}-{@datetimeany,7,2}";
constexpr const char* kNameFormatDefault = "{@prefix,1,-1,_}{@datetimeany,1,8}_{@filename,-4}";

}  // namespace

const std::vector<PresetKey>& destination_keys() {
  static const std::vector<PresetKey> keys = {
      {"PrimaryFolder", KeyType::Text, "", 0, nullptr,
       "root folder of the archive (the primary copies)"},
      {"BackupFolder", KeyType::Text, "", 0, nullptr,
       "root folder of the pre-conversion backup (an existing folder, best on another disk)"},
      {"BackupFolderPost", KeyType::Text, "", 0, nullptr,
       "root folder of the post-conversion backup"},
      {"FolderFormat", KeyType::Text, kFolderFormatDefault, 0, nullptr,
       "folders of the archive, a macro specification ('cardwright macro --reference');\n"
       "\"/\" separates folder levels, \".\" puts every image directly in the primary folder"},
      {"NumberRangeDigits", KeyType::Integer, nullptr, 4, "4 5 6",
       "digits of the automatic numbers and number ranges"},
      {"NumberRangeSource", KeyType::Integer, nullptr, 1, "1 2",
       "1: image numbers from the camera's file names; 2: automatic sequence numbers"},
      {"PartitionSize", KeyType::Text, "300", 0, nullptr,
       "images per number-range folder (with WantPartition)"},
      {"WantPartition", KeyType::Integer, nullptr, 0, kSwitchValues,
       "split the number range into folders of PartitionSize images"},
      {"ShowFolderMacros", KeyType::Text, nullptr, 0, nullptr,
       "the desktop program shows the folder-macro pane"},
      {"WantBackup", KeyType::Integer, nullptr, 1, kSwitchValues,
       "copy into BackupFolder first, then from there into the archive"},
      {"WantBackupPost", KeyType::Integer, nullptr, 0, kSwitchValues,
       "also copy every archived file into BackupFolderPost (needs WantBackup)"},
      {"BurnPrimary", KeyType::Integer, nullptr, 0, kSwitchValues,
       "burn the archive folders of an ingestion onto discs afterwards"},
      {"BurnPre", KeyType::Integer, nullptr, 0, kSwitchValues,
       "burn the backup folders of an ingestion onto discs afterwards"},
  };
  return keys;
}

const std::vector<PresetKey>& file_keys() {
  static const std::vector<PresetKey> keys = {
      {"NameFormat", KeyType::Text, kNameFormatDefault, 0, nullptr,
       "file names of the copies, a macro specification ('cardwright macro --reference')"},
      {"FilenamePrefix", KeyType::Text, "IMG", 0, nullptr, "the text of the {@prefix} macro"},
      {"KeepRaw", KeyType::Integer, nullptr, 0, kSwitchValues,
       "run the DNG converter on raw files (needs WantBackup)"},
      {"VerifyOnly", KeyType::Integer, nullptr, 0, kSwitchValues,
       "use the converter only to verify raw files, keeping them as they are"},
      {"Preview", KeyType::Text, "-p0", 0, "-p0 -p1 -p2",
       "JPEG preview in converted files: -p0 none, -p1 medium size, -p2 full size"},
      {"Embed", KeyType::Integer, nullptr, 0, kSwitchValues,
       "embed the raw file in the converted file"},
      {"ConverterApp", KeyType::Text, "", 0, nullptr,
       "the DNG converter program; empty: none set (KeepRaw then stops an ingestion)"},
      {"ConvertParams", KeyType::Text, "", 0, nullptr,
       "further converter options, separated by spaces"},
      {"WantJPEGVerify", KeyType::Integer, nullptr, 0, kSwitchValues,
       "decode every copied JPEG to verify it"},
      {"XMPtoJPG", KeyType::Integer, nullptr, 0, kSwitchValues,
       "write the sidecar's metadata into copied JPEG files"},
      {"ExtractJPG", KeyType::Integer, nullptr, 0, kSwitchValues,
       "save the JPEG preview embedded in raw files (in a JPEG folder)"},
      {"ViewerApp", KeyType::Text, "[none]", 0, nullptr,
       "program started on the archive after an ingestion; [none] for none"},
      {"ViewerFolder", KeyType::Integer, nullptr, 0, kSwitchValues,
       "start the viewer on the last archive folder (otherwise without a folder)"},
      {"ShowNameMacros", KeyType::Integer, nullptr, 0, kSwitchValues,
       "the desktop program shows the name-macro pane"},
      {"CRDefaults", KeyType::Text, "[none]", 0, nullptr,
       "develop settings written into each sidecar; [none] for none"},
      {"WantGPS", KeyType::Integer, nullptr, 0, kSwitchValues,
       "tag the images with positions from a GPS track"},
      {"GPSSource", KeyType::Integer, nullptr, 0, "0 1 2",
       "where the track comes from: 0 files, 1 Garmin receiver, 2 Magellan receiver"},
      {"GPSDevice", KeyType::Text, "USB", 0, nullptr, "port of the GPS receiver"},
      {"GPSSaveFile", KeyType::Integer, nullptr, 0, kSwitchValues,
       "keep the track read from the receiver in a file"},
      {"CameraZone", KeyType::Text, "???", 0, nullptr,
       "time zone of the camera's clock: an entry of 'cardwright gps zones' or a zone name "
       "such as Europe/Berlin"},
      {"CameraZoneDST", KeyType::Integer, nullptr, 0, kSwitchValues,
       "the camera's clock was on summer time (list entries only: a zone by name takes "
       "summer time from the zone database)"},
      {"CameraAdjustEXIF", KeyType::Integer, nullptr, 0, nullptr,
       "camera clock adjustment: the time the camera showed (seconds)"},
      {"CameraAdjustActual", KeyType::Integer, nullptr, 0, nullptr,
       "camera clock adjustment: the true time at that moment (seconds)"},
      {"ExtensionsMRU", KeyType::TextList, kDefaultExtensions, 0, nullptr,
       "which files a card scan takes: \"Include: JPG CR2\" takes only those extensions,\n"
       "\"Exclude: MOV WAV\" takes all others (the newest entry counts)"},
  };
  return keys;
}

const std::vector<PresetKey>& meta_keys() {
  static const std::vector<PresetKey> keys = {
      {"MetaPhotog", KeyType::Text, kDefaultName, 0, nullptr,
       "photographer preset whose fields go into the sidecars"},
      {"MetaContent", KeyType::Text, kDefaultName, 0, nullptr,
       "content preset whose fields go into the sidecars"},
      {"MetaRights", KeyType::Text, kDefaultName, 0, nullptr,
       "rights preset whose fields go into the sidecars"},
      {"EnableMeta", KeyType::Integer, nullptr, 1, kSwitchValues,
       "give every image an XMP sidecar made from the metadata template"},
  };
  return keys;
}

const std::vector<PresetKey>& master_only_keys() {
  static const std::vector<PresetKey> keys = {
      {"PresetDestination", KeyType::Text, kDefaultName, 0, nullptr,
       "destination preset merged into this master"},
      {"PresetFile", KeyType::Text, kDefaultName, 0, nullptr,
       "file-handling preset merged into this master"},
      {"PresetMeta", KeyType::Text, kDefaultName, 0, nullptr,
       "metadata preset merged into this master"},
      {"PresetKeywords", KeyType::Text, kDefaultName, 0, nullptr,
       "keywords preset whose vocabulary this master uses"},
      {"CardFolder", KeyType::Text, "[user choice]", 0, nullptr,
       "the card folder to ingest; [user choice] asks each time"},
      {"AutoIngest", KeyType::Integer, nullptr, 0, kSwitchValues,
       "ingest a card as soon as it is mounted"},
      {"AutoEject", KeyType::Integer, nullptr, 0, kSwitchValues,
       "eject the card after a successful ingestion"},
      {"FolderHasSpaces", KeyType::Integer, nullptr, 0, kSwitchValues,
       "quote the folder handed to the viewer; no effect on this system, where the viewer "
       "gets the folder as one argument, spaces and all, and needs no quotes"},
      {"Template", KeyType::Text, kTemplateName, 0, nullptr, "the metadata template"},
      {"LastDB_Ingestion", KeyType::Text, "", 0, nullptr,
       "ID of the last ingestion (kept by the program)"},
  };
  return keys;
}

const std::vector<PresetKey>& photog_fields() {
  static const std::vector<PresetKey> f = {
      {"Creator", KeyType::Text, nullptr, 0, nullptr, "the photographer's name"},
      {"Address", KeyType::Text, nullptr, 0, nullptr, "the photographer's street address"},
      {"City", KeyType::Text, nullptr, 0, nullptr, "the photographer's city"},
      {"State", KeyType::Text, nullptr, 0, nullptr, "the photographer's state or province"},
      {"PostalCode", KeyType::Text, nullptr, 0, nullptr, "the photographer's postal code"},
      {"Country", KeyType::Text, nullptr, 0, nullptr, "the photographer's country"},
      {"Phone", KeyType::Text, nullptr, 0, nullptr, "the photographer's telephone"},
      {"EMail", KeyType::Text, nullptr, 0, nullptr, "the photographer's e-mail address"},
      {"Website", KeyType::Text, nullptr, 0, nullptr, "the photographer's web site"},
      {"JobTitle", KeyType::Text, nullptr, 0, nullptr, "the photographer's job title"},
  };
  return f;
}

const std::vector<PresetKey>& content_fields() {
  static const std::vector<PresetKey> f = {
      {"Title", KeyType::Text, nullptr, 0, nullptr, "a short title of the image"},
      {"Caption", KeyType::Text, "{@QF.subject}", 0, nullptr, "what the image shows"},
      {"DescriptionWriter", KeyType::Text, nullptr, 0, nullptr, "who wrote the caption"},
      {"Headline", KeyType::Text, nullptr, 0, nullptr, "a one-line summary"},
      {"Location", KeyType::Text, "{@QF.location}", 0, nullptr,
       "the place within the city shown"},
      {"ImageCity", KeyType::Text, nullptr, 0, nullptr, "the city shown"},
      {"ImageState", KeyType::Text, nullptr, 0, nullptr, "the state or province shown"},
      {"ImageCountry", KeyType::Text, nullptr, 0, nullptr, "the country shown"},
      {"ISOCountryCode", KeyType::Text, nullptr, 0, nullptr, "its two- or three-letter code"},
      {"DateCreated", KeyType::Text,
       "{@datetimeany,1,4}-{@datetimeany,5,2}-{@datetimeany,7,2}", 0, nullptr,
       "the date the image was taken"},
      {"IntellectualGenre", KeyType::Text, nullptr, 0, nullptr, "the genre of the work"},
      {"Scene", KeyType::Text, nullptr, 0, nullptr, "scene codes"},
      {"SubjectCode", KeyType::Text, nullptr, 0, nullptr, "subject codes"},
      {"Category", KeyType::Text, nullptr, 0, nullptr, "category"},
      {"OtherCategories", KeyType::Text, nullptr, 0, nullptr,
       "further categories, separated by \";\" or \",\""},
      {"JobIdentifier", KeyType::Text, "{@QF.job}", 0, nullptr, "the job or assignment"},
      {"Keywords", KeyType::Text, "{@Keywords}</rdf:li><rdf:li>{@IPTCcontent.keywords}", 0,
       nullptr, "keywords, separated by \";\" or \",\" (the checked vocabulary by default)"},
      {"CatalogSets", KeyType::Text,
       "{@CatalogSets}</rdf:li><rdf:li>{@client.name}|{@project.name}", 0, nullptr,
       "catalog sets (the checked ones, and client|project, by default)"},
      {"Event", KeyType::Text, nullptr, 0, nullptr, "the event photographed"},
      {"Status", KeyType::Text, nullptr, 0, nullptr, "workflow status"},
      {"People", KeyType::Text, nullptr, 0, nullptr,
       "people shown, separated by \";\" or \",\""},
  };
  return f;
}

const std::vector<PresetKey>& rights_fields() {
  static const std::vector<PresetKey> f = {
      {"Copyright", KeyType::Text, nullptr, 0, nullptr, "the copyright notice"},
      {"RightsUsageTerms", KeyType::Text, nullptr, 0, nullptr, "how the image may be used"},
      {"CopyrightInfoURL", KeyType::Text, nullptr, 0, nullptr,
       "web address with the rights information"},
      {"Instructions", KeyType::Text, nullptr, 0, nullptr, "special instructions"},
      {"Provider", KeyType::Text, nullptr, 0, nullptr, "the credit line"},
      {"Source", KeyType::Text, nullptr, 0, nullptr, "the original owner of the image"},
      {"CopyrightStatus", KeyType::Text, nullptr, 0, nullptr,
       "Copyrighted, Public Domain or Unknown"},
  };
  return f;
}

const std::vector<PresetKey>& keywords_keys() {
  static const std::vector<PresetKey> keys = {
      {kVocabularyKey, KeyType::TextList, nullptr, 0, nullptr,
       "catalog sets and keywords to choose from (edit with 'cardwright vocab')"},
  };
  return keys;
}

const std::vector<std::pair<const char*, const char*>>& content_defaults() {
  static const std::vector<std::pair<const char*, const char*>> d = [] {
    std::vector<std::pair<const char*, const char*>> out;
    for (const PresetKey& k : content_fields())
      if (k.text_default) out.emplace_back(k.key, k.text_default);
    return out;
  }();
  return d;
}

const PresetKey* find_preset_key(const std::string& key) {
  for (const auto* table : {&destination_keys(), &file_keys(), &meta_keys(), &master_only_keys()})
    for (const PresetKey& k : *table)
      if (strcasecmp(k.key, key.c_str()) == 0) return &k;
  return nullptr;
}

bool preset_value_in_range(const PresetKey& key, const std::string& value) {
  if (!key.allowed) return true;
  const std::string allowed = key.allowed;
  for (std::size_t start = 0; start <= allowed.size();) {
    std::size_t end = allowed.find(' ', start);
    if (end == std::string::npos) end = allowed.size();
    if (allowed.compare(start, end - start, value) == 0) return true;
    start = end + 1;
  }
  return false;
}

std::string allowed_values_text(const PresetKey& key) {
  if (!key.allowed) return {};
  std::vector<std::string> words;
  const std::string allowed = key.allowed;
  for (std::size_t start = 0; start < allowed.size();) {
    std::size_t end = allowed.find(' ', start);
    if (end == std::string::npos) end = allowed.size();
    words.push_back(allowed.substr(start, end - start));
    start = end + 1;
  }
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += i + 1 == words.size() ? " or " : ", ";
    text += words[i];
  }
  return text;
}

std::string key_values_text(const PresetKey& key) {
  std::string text = key.allowed ? allowed_values_text(key)
                     : key.type == KeyType::Integer ? "number"
                     : key.type == KeyType::TextList ? "list"
                                                     : "text";
  if (key.type == KeyType::Integer) return text + ", default " + std::to_string(key.int_default);
  if (!key.text_default || !*key.text_default) return text + ", empty by default";
  text += ", default \"";
  text += key.text_default;
  return text + "\"";
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
