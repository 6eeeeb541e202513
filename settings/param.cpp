// The settings owner: presets, quick-field labels, selection and the main window's rules.
#include "settings/param.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/paths.h"
#include "settings/preferences.h"

namespace cw {

CWParam::CWParam() {
  presets[0] = std::make_unique<CWPreset_Master>(this);
  presets[1] = std::make_unique<CWPreset_Destination>(this);
  presets[2] = std::make_unique<CWPreset_File>(this);
  presets[3] = std::make_unique<CWPreset_Meta>(this);
  presets[4] = std::make_unique<CWPreset_Photog>(this);
  presets[5] = std::make_unique<CWPreset_Content>(this);
  presets[6] = std::make_unique<CWPreset_Rights>(this);
  presets[7] = std::make_unique<CWPreset_Keywords>(this);
}

PROPSET* CWParam::working_set() const {
  return presets[0] ? presets[0]->set.get() : nullptr;
}

CWPreset* CWParam::find_by_label(const std::string& label) {
  for (auto& p : presets)
    if (strcasecmp(p->label, label.c_str()) == 0) return p.get();
  return nullptr;
}

bool open_settings_store(const std::string& root) {
  if (PropInit(root)) return true;
  alert_printf("PropInit failed (%s) [%s]", root.c_str(), std::strerror(errno));
  return false;
}

std::optional<PresetKind> kind_of_category(const std::string& category) {
  static const char* const kCategories[kPresetKinds] = {
      "Preset_Master", "Preset_Destination", "Preset_File",   "Preset_Meta",
      "Preset_Photog", "Preset_Content",     "Preset_Rights", "Preset_Keywords"};
  for (int i = 0; i < kPresetKinds; ++i)
    if (category == kCategories[i]) return static_cast<PresetKind>(i);
  return std::nullopt;
}

void CWParam::load_presets() {
  master().load(master().name);
  for (int i = 1; i < kPresetKinds; ++i) presets[i]->load(presets[i]->name);
  rebuild_quick_fields();
}

void CWParam::rebuild_quick_fields() {
  quick_field_labels.clear();
  for (PresetKind k :
       {PresetKind::Master, PresetKind::Photog, PresetKind::Content, PresetKind::Rights})
    preset(k).collect_quick_fields(quick_field_labels);
  std::sort(quick_field_labels.begin(), quick_field_labels.end(),
            [](const std::string& a, const std::string& b) {
              return strcasecmp(a.c_str(), b.c_str()) < 0;
            });
}

bool CWParam::quick_fields_fit(std::string& results) const {
  if (quick_field_labels.size() <= static_cast<std::size_t>(kQuickFieldsShown)) return true;
  text_append_printf(results, "\nToo many Quick Field labels. A maximum of %d are allowed.\n\n",
                     kQuickFieldsShown);
  for (std::size_t i = kQuickFieldsShown; i < quick_field_labels.size(); ++i)
    text_append_printf(results, "No room for Quick Field label \"%s\".\n",
                       quick_field_labels[i].c_str());
  alert_printf("Too many Quick Field labels.\r\n\r\nSee Results field for details.");
  return false;
}

bool CWParam::select(PresetKind kind, const std::string& name, const PresetAnswers& answers) {
  CWPreset& p = preset(kind);
  if (p.unsaved && pref_get_int("PresetReminder") != 0 &&
      !answers.confirm("You have one or more unsaved presets. OK to lose settings?"))
    return false;
  bool list_changed = false;
  bool ok = p.command(name, list_changed, answers);
  PROPSET* working = working_set();
  switch (kind) {
    case PresetKind::Master:
      check_applied_master();
      break;
    case PresetKind::Destination:
    case PresetKind::File:
      p.apply();
      PropPutStr(working, static_cast<CWPreset_Group&>(p).master_key, 0, p.name.c_str());
      // The group's switches meet the other group's as if they had been switched by hand.
      if (master().get_int("WantBackup", 1) == 0) {
        if (kind == PresetKind::Destination)
          switch_want_backup_off();
        else if (master().get_int("KeepRaw", 0) != 0)
          switch_keep_raw_on();
      }
      break;
    case PresetKind::Meta:
      CWPreset::copy_keys(meta_keys(), p.set.get(), working);
      PropPutStr(working, "PresetMeta", 0, p.name.c_str());
      break;
    case PresetKind::Photog:
      PropPutStr(working, "MetaPhotog", 0, p.name.c_str());
      break;
    case PresetKind::Content:
      PropPutStr(working, "MetaContent", 0, p.name.c_str());
      break;
    case PresetKind::Rights:
      PropPutStr(working, "MetaRights", 0, p.name.c_str());
      break;
    case PresetKind::Keywords:
      PropRemove(working, kVocabularyKey);
      for (int i = 0; const PROPVAL* v = prop_get(p.set.get(), kVocabularyKey, i); ++i)
        PropPutStr(working, kVocabularyKey, i, v->strval.c_str());
      PropPutStr(working, "PresetKeywords", 0, p.name.c_str());
      break;
  }
  if (kind != PresetKind::Master) master().unsaved = true;
  rebuild_quick_fields();
  return ok;
}

void CWParam::mark_unsaved(PresetKind kind) {
  preset(kind).unsaved = true;
  if (kind != PresetKind::Master) master().unsaved = true;
}

bool CWParam::master_save_allowed() const {
  for (int k : {2, 3, 7}) {
    if (presets[k]->unsaved) {
      alert_printf("You must first save the File Handling, Metadata, and/or Keywords presets.");
      return false;
    }
  }
  return true;
}

bool CWParam::store_extension_filter(bool include, const std::string& extensions) {
  PROPSET* working = working_set();
  if (!working) {
    alert_printf("Preset error - not initialized (CWParam-15)");
    ui_print("\nERROR: Can't store MRU extensions.\n");
    return false;
  }
  std::string text = extensions;
  text.erase(std::remove(text.begin(), text.end(), '.'), text.end());
  std::size_t b = text.find_first_not_of(' ');
  text = b == std::string::npos ? "" : text.substr(b, text.find_last_not_of(' ') - b + 1);
  for (std::size_t at; (at = text.find("  ")) != std::string::npos;) text.erase(at, 1);
  if (text.empty()) {
    if (include) alert_printf("Including no extensions will prevent ingestion of any files.");
    text = "[none]";
  }
  std::string entry = (include ? "Include: " : "Exclude: ") + text;
  if (!PropPutMRU(working, entry.c_str())) {
    ui_print("\nERROR: Can't store MRU extensions.\n");
    return false;
  }
  return true;
}

// Switches `key` on when there is a pre-conversion backup; otherwise keeps it off and says
// why with `message`.
bool CWParam::switch_on_with_backup(const char* key, const char* message) {
  if (master().get_int("WantBackup", 1) == 0) {
    master().put_int(key, 0);
    alert_printf("%s", message);
    return false;
  }
  master().put_int(key, 1);
  return true;
}

bool CWParam::switch_keep_raw_on() {
  return switch_on_with_backup("KeepRaw",
                               "DNG Converter can run only if a pre-conversion backup is created.");
}

bool CWParam::switch_want_backup_off() {
  bool untouched = true;
  master().put_int("WantBackup", 0);
  if (master().get_int("KeepRaw", 0) != 0) {
    master().put_int("KeepRaw", 0);
    alert_printf("DNG Conversion/Verification can run only if a backup is created.");
    untouched = false;
  }
  if (master().get_int("WantBackupPost", 0) != 0) {
    master().put_int("WantBackupPost", 0);
    alert_printf("Post-conversion backup allowed only if pre-conversion backup created.");
    untouched = false;
  }
  return untouched;
}

bool CWParam::switch_want_backup_post_on() {
  return switch_on_with_backup(
      "WantBackupPost", "Post-conversion backup allowed only if pre-conversion backup created.");
}

bool CWParam::check_applied_master() {
  bool ok = true;
  if (master().get_int("KeepRaw", 0) != 0 && master().get_int("WantBackup", 1) == 0) {
    alert_printf(
        "DNG Converter can be run only if there's a pre-conversion backup. Change either the "
        "Destination or File Handling settings.");
    ok = false;
  }
  std::string tmpl = master().get_str("Template", kTemplateName).value_or(kTemplateName);
  if (tmpl != kTemplateName) {
    master().put_str("Template", kTemplateName);
    alert_printf(
        "Warning: XMP template was set with Cardwright Version 2 to something other than "
        "Cardwright-IPTC.3.4. Version 3.4 and later uses only Cardwright-IPTC.3.4.\r\r"
        "Save the Master Preset to make this message go away.");
  }
  return ok;
}

const char* CWParam::default_backup_folder(bool post_conversion) {
  return post_conversion ? "CardwrightBackupPost" : "CardwrightBackupPre";
}

}  // namespace cw
