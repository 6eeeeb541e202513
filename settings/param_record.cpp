// Building the ingestion parameter list from the master preset, the start summary, and the
// labelled parameter record kept with each ingestion.
#include "settings/param_record.h"

#include <algorithm>
#include <cstdio>

#include "foundation/log.h"
#include "platform/paths.h"
#include "platform/system_info.h"
#include "settings/param.h"
#include "settings/preferences.h"

#ifndef CARDWRIGHT_VERSION
#define CARDWRIGHT_VERSION "?"
#endif

namespace cw {

const char* const kParamLabels[kParamCount] = {
    "utility",  "action",    "Source",     "BckupPre", "Primary",      "DNGcvrt",
    "WantPre",  "FileFmt",   "FldrFmt",    "Partition", "Include?",    "Extensions",
    "Preview",  "Embed",     "VerifyRaw",  "Template", "VerifyJPG",    "StartNum",
    "NRdigits", "IngstID",   "Client",     "Project",  "CRDeflts",     "NRsource",
    "ImgList",  "BckupPost", "WantPost",   "[not used]", "MergeXMP",   "ExtractJPG",
    "ConverterParams",
};

namespace {

// The order in which the record lists the entries: where the images come from and go to
// first, then naming, selection, conversion and metadata, then the database choices.
constexpr int kRecordOrder[] = {2,  24, 4,  3,  25, 6,  26, 7,  8,  23, 18, 9,  17, 10, 11,
                                5,  12, 13, 14, 16, 28, 15, 22, 20, 21, 19, 27, 29, 30};
static_assert(sizeof kRecordOrder / sizeof kRecordOrder[0] == kParamCount - 2);

constexpr const char* kLightroomSuffix = " (LR)";
constexpr const char* kLightroomUserSuffix = " (LR User Preset)";

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

const char* flag_text(int value) { return value != 0 ? "1" : "0"; }

// The post-conversion backup copies the primary tree a pre-conversion backup fills: without
// that backup it would receive nothing.
bool post_backup_used(CWPreset& master) {
  return master.get_int("WantBackupPost") != 0 && master.get_int("WantBackup") != 0;
}

std::string preset_text(CWPreset& master, const char* key) {
  return master.get_str(key).value_or("");
}

// The text the summary gives for the converter settings.
std::string converter_summary(CWPreset& master) {
  if (master.get_int("KeepRaw") == 0) return "No";
  std::string text = "Yes";
  if (master.get_int("VerifyOnly") != 0) return text + " (verify only)";
  const std::string preview = preset_text(master, "Preview");
  switch (preview.size() > 2 ? preview[2] : '\0') {
    case '0': text += " (No JPEG preview"; break;
    case '1': text += " (Medium-size JPEG preview"; break;
    case '2': text += " (Full-size JPEG preview"; break;
    default: text += " (Preview " + preview; break;
  }
  if (master.get_int("Embed") != 0) text += "; embed raw";
  return text + ")";
}

std::string summary_text(CWPreset& master, const BuildRequest& r) {
  std::string s = "Card Folder: ";
  s += r.image_list ? "[multi-camera or user-chosen image files]\n" : r.card_folder + "\n";
  s += "Primary Folder: " + r.primary_folder + "\n";
  s += "Backup Folder (Pre-Conversion): " + r.backup_folder;
  if (master.get_int("WantBackup") == 0) s += " [not used]";
  s += "\nBackup Folder (Post-Conversion): " + r.backup_folder_post;
  if (!post_backup_used(master)) s += " [not used]";
  s += "\nRun Adobe DNG Converter: " + converter_summary(master) + "\n";
  s += "Metadata Template: ";
  s += master.get_int("EnableMeta") != 0 ? kTemplateName : "[disabled]";
  s += "\nCamera Raw/Develop Settings: " + master.get_str("CRDefaults").value_or("[none]") + "\n";
  s += "Primary Folder Arrangement:" + preset_text(master, "FolderFormat") + "\n";
  s += "Starting Number: " + r.starting_number.value_or(starting_number()) + "\n";
  return s;
}

const char* digits_text(int digits) {
  if (digits == 5) return "5";
  if (digits == 6) return "6";
  return "4";
}

}  // namespace

DevelopFolders default_develop_folders() {
  const std::string base = user_data_location() + "/Adobe";
  return {base + "/XMP/Metadata Templates", base + "/CameraRaw/Settings",
          base + "/Lightroom/Develop Presets"};
}

bool develop_settings_path(const std::string& name, const DevelopFolders& folders,
                           std::string& path, std::string& why) {
  path.clear();
  if (name == "[none]" || name == "None") return true;
  if (name.size() >= kMaxDevelopName) {
    why = "CRdefaults/LRdevelop preset name is too long";
    return false;
  }
  std::string folder = folders.camera_raw, sub, stem = name, ext = "xmp";
  if (ends_with(name, kLightroomUserSuffix)) {
    folder = folders.lightroom;
    sub = "User Presets/";
    stem.resize(name.size() - std::char_traits<char>::length(kLightroomUserSuffix));
    ext = "lrtemplate";
  } else if (ends_with(name, kLightroomSuffix)) {
    folder = folders.lightroom;
    stem.resize(name.size() - std::char_traits<char>::length(kLightroomSuffix));
    ext = "lrtemplate";
  }
  path = folder + "/" + sub + stem + "." + ext;
  if (path.size() > kMaxBuiltPath) {
    path.clear();
    why = "CRdefaults/LRdevelop paths are too long";
    return false;
  }
  return true;
}

void remember_db_choice(CWParam& param, const std::string& table, const std::string& key) {
  param.master().put_str(kLastDbPrefix + table, key);
}

std::optional<std::string> last_db_choice(CWParam& param, const std::string& table) {
  std::optional<std::string> key = param.master().get_str(kLastDbPrefix + table, std::nullopt);
  if (key && key->empty()) return std::nullopt;
  return key;
}

bool CWParam::build(const BuildRequest& r) {
  CWPreset_Master& m = master();
  ui_print(summary_text(m, r));
  remember_db_choice(*this, "Ingestion", std::to_string(r.ingestion_key));

  std::string template_path;
  if (m.get_int("EnableMeta") != 0) {
    template_path = r.folders.templates + "/" + kTemplateName + ".xmp";
    if (template_path.size() > kMaxBuiltPath) {
      alert_printf("metadata template path is too long");
      return false;
    }
  }
  std::string develop, why;
  if (!develop_settings_path(m.get_str("CRDefaults").value_or("[none]"), r.folders, develop,
                             why)) {
    alert_printf("%s", why.c_str());
    return false;
  }
  bool include = false;
  std::string extensions = m.extensions(include);

  std::vector<std::string> v(kParamCount);
  v[kParamProgram] = "imageCopy";
  v[kParamCopy] = "copy";
  v[kParamCardFolder] = r.card_folder;
  v[kParamBackupFolder] = r.backup_folder;
  v[kParamPrimaryFolder] = r.primary_folder;
  v[kParamConverterPath] = m.get_int("KeepRaw") != 0 ? preset_text(m, "ConverterApp") : "none";
  v[kParamWantBackup] = flag_text(m.get_int("WantBackup"));
  v[kParamNameFormat] = preset_text(m, "NameFormat");
  v[kParamFolderFormat] = preset_text(m, "FolderFormat");
  v[kParamPartitionSize] =
      m.get_int("WantPartition") != 0 ? preset_text(m, "PartitionSize") : "1000000";
  v[kParamIncludeExtensions] = include ? "1" : "0";
  v[kParamExtensions] = extensions;
  v[kParamPreview] = preset_text(m, "Preview");
  v[kParamEmbed] = m.get_int("Embed") != 0 ? "-e" : "";
  v[kParamVerifyOnly] = m.get_int("VerifyOnly") != 0 ? "verifyOnly" : "-";
  v[kParamSidecarPath] = template_path;
  v[kParamWantJpegVerify] = flag_text(m.get_int("WantJPEGVerify"));
  v[kParamStartingNumber] = r.starting_number.value_or(starting_number());
  v[kParamNumberRangeDigits] = digits_text(m.get_int("NumberRangeDigits"));
  v[kParamIngestionId] = std::to_string(r.ingestion_key);
  v[kParamClientName] = r.client;
  v[kParamProjectName] = r.project;
  v[kParamCRDefaults] = develop;
  v[kParamNumberRangeSource] = m.get_int("NumberRangeSource") == 1 ? "1" : "2";
  v[kParamBackupFolderPost] = r.backup_folder_post;
  v[kParamWantBackupPost] = flag_text(post_backup_used(m));
  v[kParamWantConvertDNGs] = "1";
  v[kParamWantXMPtoJPG] = flag_text(m.get_int("XMPtoJPG"));
  v[kParamExtractJPG] = flag_text(m.get_int("ExtractJPG"));
  v[kParamConverterParams] = preset_text(m, "ConvertParams");

  params.values = std::move(v);
  params.file_array = r.image_list;
  param_labels = kParamLabels;
  return true;
}

bool CWParam::record(int ingestion_key, const RecordStore& store) {
  if (pref_get_int("WantIngestionDetails") == 0) return false;
  record_text.clear();
  const int count = std::min(params.count(), kParamCount);
  for (int i = 2; i < count; ++i) {
    const int pos = kRecordOrder[i - 2];
    std::string value = params.text(pos);
    if (pos == kParamFileArray) value = params.file_array ? "[image list]" : "[no image list]";
    // Folder paths may be long: no formatting limit here.
    record_text.append(kParamLabels[pos]).append(": ").append(value).append("\n");
  }
  record_text.append("\nCWversion: ").append(CARDWRIGHT_VERSION).append(" ");
  record_text.append(kPlatformName).append("\nOSversion: ").append(os_version_text());
  record_text.append("\n");
  if (store) store(ingestion_key, record_text);
  log_printf("Ingestion Parameters\n%s", record_text.c_str());
  return true;
}

}  // namespace cw
