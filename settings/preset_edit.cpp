// Preset edits by key and value.
#include "settings/preset_edit.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "foundation/log.h"
#include "settings/close_match.h"

namespace cw {

namespace {

// Where a kind's values are edited: the master's working set for the master and the groups
// it holds, the preset's own set for the metadata fields.
bool edits_working_set(PresetKind kind) {
  return kind == PresetKind::Master || kind == PresetKind::Destination ||
         kind == PresetKind::File || kind == PresetKind::Meta;
}

const std::vector<PresetKey>& own_table(PresetKind kind) {
  switch (kind) {
    case PresetKind::Destination: return destination_keys();
    case PresetKind::File: return file_keys();
    case PresetKind::Meta: return meta_keys();
    case PresetKind::Photog: return photog_fields();
    case PresetKind::Content: return content_fields();
    case PresetKind::Rights: return rights_fields();
    case PresetKind::Keywords: return keywords_keys();
    case PresetKind::Master: break;
  }
  return master_only_keys();
}

const PresetKey* find_in(PresetKind kind, const std::string& key) {
  for (const PresetKey* k : preset_keys_of(kind))
    if (strcasecmp(k->key, key.c_str()) == 0) return k;
  return nullptr;
}


bool key_belongs(PresetKind kind, const std::string& key, std::string& why) {
  if (kind == PresetKind::Keywords) {
    why = "keywords are edited with 'cardwright vocab'";
    return false;
  }
  if (find_in(kind, key) || (kind == PresetKind::Master && strncasecmp(key.c_str(), "qf_", 3) == 0))
    return true;
  std::vector<std::string> names;
  for (const PresetKey* k : preset_keys_of(kind)) names.emplace_back(k->key);
  why = "\"" + key + "\" is not a setting of the " + preset_kind_label(kind) + " preset" +
        did_you_mean(key, names) + "; 'cardwright preset keys " + preset_kind_word(kind) + "' lists them";
  return false;
}

bool value_fits(const PresetKey& k, const std::string& value, std::string& why) {
  auto refuse = [&](const std::string& expected) {
    why = std::string(k.key) + " takes " + expected + ", not \"" + value + "\"";
    return false;
  };
  if (k.type == KeyType::Integer) {
    char* end = nullptr;
    std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0') return refuse(k.allowed ? allowed_values_text(k) : "a whole number");
  }
  if (!preset_value_in_range(k, value)) return refuse(allowed_values_text(k));
  if (k.type == KeyType::TextList && strncasecmp(value.c_str(), "Include:", 8) != 0 &&
      strncasecmp(value.c_str(), "Exclude:", 8) != 0)
    return refuse("\"Include: EXT ...\" or \"Exclude: EXT ...\"");
  if (strcasecmp(k.key, "CopyrightStatus") == 0 && value != "Copyrighted" &&
      value != "Public Domain" && value != "Unknown")
    return refuse("Copyrighted, Public Domain or Unknown");
  return true;
}

bool is_key(const std::string& key, const char* name) { return strcasecmp(key.c_str(), name) == 0; }

// The group of the working set that holds `key`, or the master for its own keys.
PresetKind group_of(const std::string& key) {
  for (PresetKind kind : {PresetKind::Destination, PresetKind::File, PresetKind::Meta})
    if (find_in(kind, key)) return kind;
  return PresetKind::Master;
}

}  // namespace

bool persist_working_key(CWParam& param, const std::string& key) {
  const PresetKind group = group_of(key);
  bool changed = false;
  if (group != PresetKind::Master) {
    CWPreset& component = param.preset(group);
    const char* master_key = group == PresetKind::Destination ? "PresetDestination"
                             : group == PresetKind::File      ? "PresetFile"
                                                              : "PresetMeta";
    const std::string name = param.master().get_str(master_key).value_or(kDefaultName);
    if (component.exists(name) && component.set && component.set->setname == name)
      return component.command("Save", changed, {});
  }
  return save_master(param);
}

namespace {

std::string int_text(const CWPreset& p, const PresetKey& k) {
  return std::to_string(p.get_int(k.key, k.int_default));
}

}  // namespace

std::vector<const PresetKey*> preset_keys_of(PresetKind kind) {
  std::vector<const PresetKey*> out;
  auto add = [&](const std::vector<PresetKey>& table) {
    for (const PresetKey& k : table) out.push_back(&k);
  };
  if (kind == PresetKind::Master) {
    add(destination_keys());
    add(file_keys());
    add(meta_keys());
  }
  add(own_table(kind));
  return out;
}

const char* preset_kind_label(PresetKind kind) {
  static const char* const kLabels[kPresetKinds] = {
      "Master", "Destination", "File Handling", "Metadata",
      "Photographer", "Content", "Rights", "Keywords"};
  return kLabels[static_cast<int>(kind)];
}

std::string preset_kind_word(PresetKind kind) {
  std::string s = preset_kind_label(kind);
  for (char& c : s) c = c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool preset_value_allowed(PresetKind kind, const std::string& key, const std::string& value,
                          std::string& why) {
  if (!key_belongs(kind, key, why)) return false;
  const PresetKey* k = find_in(kind, key);
  return !k || value_fits(*k, value, why);
}

bool put_preset_value(CWParam& param, PresetKind kind, const std::string& key,
                      const std::string& value) {
  CWPreset& target = edits_working_set(kind) ? param.master() : param.preset(kind);
  const PresetKey* k = find_in(kind, key);
  if (k && k->type == KeyType::Integer) {
    const int n = static_cast<int>(std::strtol(value.c_str(), nullptr, 10));
    if (edits_working_set(kind)) {
      if (is_key(key, "KeepRaw") && n != 0) return param.switch_keep_raw_on();
      if (is_key(key, "WantBackupPost") && n != 0) return param.switch_want_backup_post_on();
      if (is_key(key, "WantBackup") && n == 0) {
        param.switch_want_backup_off();
        return true;
      }
    }
    return target.put_int(k->key, n);
  }
  if (k && k->type == KeyType::TextList)
    return param.store_extension_filter(strncasecmp(value.c_str(), "Include:", 8) == 0,
                                        value.substr(8));
  std::string text = value;
  if (is_key(key, "CopyrightStatus")) text = copyright_status_to_stored(value);
  return target.put_str(k ? k->key : key, text);
}

bool set_preset_value(CWParam& param, PresetKind kind, const std::string& name,
                      const std::string& key, const std::string& value,
                      const PresetAnswers& answers) {
  CWPreset& p = param.preset(kind);
  if (p.exists(name)) {
    if (!param.select(kind, name, answers)) return false;
  } else {
    propset_setname(*p.set, name);  // a new preset starts from the current values
  }
  // The switches another group holds, as they were: a rule may change them.
  const CWPreset& m = param.master();
  const int keep_raw = m.get_int("KeepRaw"), post = m.get_int("WantBackupPost");
  if (!put_preset_value(param, kind, key, value)) return false;
  bool changed = false;
  if (!p.command("Save", changed, answers)) return false;
  // A key of a group set on the master lasts only when the group's preset holds it too, and
  // so does a switch a rule changed in another group.
  std::vector<std::string> touched;
  if (kind == PresetKind::Master) touched.push_back(key);
  if (m.get_int("KeepRaw") != keep_raw) touched.emplace_back("KeepRaw");
  if (m.get_int("WantBackupPost") != post) touched.emplace_back("WantBackupPost");
  for (const std::string& t : touched)
    if (group_of(t) != kind && !persist_working_key(param, t)) return false;
  return true;
}

std::vector<EffectiveSetting> effective_settings(CWParam& param, PresetKind kind) {
  CWPreset& p = param.preset(kind);
  std::vector<EffectiveSetting> out;
  for (const PresetKey* k : preset_keys_of(kind)) {
    EffectiveSetting s;
    s.key = k->key;
    switch (k->type) {
      case KeyType::Integer:
        s.values.push_back(int_text(p, *k));
        s.is_default = s.values[0] == std::to_string(k->int_default);
        break;
      case KeyType::Text: {
        std::optional<std::string> v = p.get_str(k->key);
        if (strcasecmp(k->key, "CopyrightStatus") == 0)
          v = copyright_status_shown(v.value_or(""));
        s.values.push_back(v.value_or(""));
        s.is_default = k->text_default ? s.values[0] == k->text_default : !v || v->empty();
        if (strcasecmp(k->key, "CopyrightStatus") == 0) s.is_default = s.values[0] == "Unknown";
        break;
      }
      case KeyType::TextList:
        for (int i = 0; const PROPVAL* v = prop_get(p.set.get(), k->key, i); ++i)
          s.values.push_back(v->type == kPropStr ? v->strval : std::to_string(v->intval));
        if (s.values.empty() && k->text_default) s.values.emplace_back(k->text_default);
        s.is_default = s.values.size() <= 1 &&
                       (s.values.empty() || (k->text_default && s.values[0] == k->text_default));
        break;
    }
    out.push_back(std::move(s));
  }
  if (!p.set) return out;
  for (const PROP& prop : p.set->props) {
    // The file's header lines are not settings, and the master shows its vocabulary through
    // 'cardwright vocab'.
    const std::string& n = prop.propname;
    if (is_key(n, "Version") || is_key(n, "Date") || find_in(kind, n) ||
        (kind == PresetKind::Master && (is_key(n, kVocabularyKey) || find_preset_key(n))))
      continue;
    EffectiveSetting s;
    s.key = n;
    for (const PROPVAL& v : prop.vals)
      s.values.push_back(v.type == kPropStr ? v.strval : std::to_string(v.intval));
    out.push_back(std::move(s));
  }
  return out;
}

bool save_master(CWParam& param) {
  bool changed = false;
  return param.master().command("Save", changed, {});
}

bool repoint_master(CWParam& param, PresetKind kind, const std::string& old,
                    const std::string& now) {
  static const char* const kMasterKeys[kPresetKinds] = {
      nullptr, "PresetDestination", "PresetFile", "PresetMeta",
      "MetaPhotog", "MetaContent", "MetaRights", "PresetKeywords"};
  const char* key = kMasterKeys[static_cast<int>(kind)];
  CWPreset& master = param.master();
  if (!key || old.empty() || !master.set->setname ||
      master.get_str(key, kDefaultName).value_or(kDefaultName) != old)
    return true;
  master.put_str(key, now);
  return save_master(param);
}

void reset_preset_values(CWParam& param, PresetKind kind) {
  PROPSET* working = param.working_set();
  const PropSetPtr empty = propset_alloc(param.master().category, std::nullopt);
  switch (kind) {
    case PresetKind::Master:
      return;
    case PresetKind::Destination:
      if (working && empty) CWPreset::copy_keys(destination_keys(), empty.get(), working);
      return;
    case PresetKind::File:
      if (working && empty) CWPreset::copy_keys(file_keys(), empty.get(), working);
      return;
    case PresetKind::Meta:
      if (working && empty) CWPreset::copy_keys(meta_keys(), empty.get(), working);
      return;
    case PresetKind::Photog:
    case PresetKind::Content:
    case PresetKind::Rights: {
      CWPreset& p = param.preset(kind);
      p.set = propset_alloc(p.category, std::nullopt);
      p.set_defaults();
      return;
    }
    case PresetKind::Keywords:
      if (working) PropRemove(working, kVocabularyKey);
      return;
  }
}

bool save_vocabulary(CWParam& param) {
  CWPreset& master = param.master();
  CWPreset& kw = param.preset(PresetKind::Keywords);
  std::string name = master.get_str("PresetKeywords", kDefaultName).value_or(kDefaultName);
  if (name.empty()) name = kDefaultName;
  if (kw.set->setname != name) {
    if (!kw.exists(name) || !kw.load(name)) propset_setname(*kw.set, name);
  }
  bool changed = false;
  const PresetAnswers keep_marks{nullptr, [](const std::string&) { return true; }};
  return kw.command("Save", changed, keep_marks);
}

bool first_run(CWParam& param) { return !param.master().exists(param.master().name); }

bool save_archive_setup(CWParam& param, const std::string& primary,
                        const std::optional<std::string>& backup, std::string& why) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (primary.empty()) {
    why = "the archive folder is empty";
    return false;
  }
  const std::string archive = fs::absolute(primary, ec).lexically_normal().string();
  if (fs::exists(archive, ec) && !fs::is_directory(archive, ec)) {
    why = "\"" + archive + "\" is a file, not a folder";
    return false;
  }
  const std::string folder =
      backup ? fs::absolute(*backup, ec).lexically_normal().string() : std::string();
  if (backup && !fs::is_directory(folder, ec)) {
    why = "the backup folder \"" + folder + "\" does not exist; create it first (mkdir -p '" +
          folder + "'), on the disk that is to hold the backup";
    return false;
  }
  if (backup && fs::equivalent(folder, archive, ec)) {
    why = "Backup and primary folders must be different";
    return false;
  }
  CWPreset& m = param.master();
  if (!m.put_str("PrimaryFolder", archive)) return false;
  if (backup) {
    m.put_str("BackupFolder", folder);
    m.put_int("WantBackup", 1);
  } else {
    param.switch_want_backup_off();
  }
  return persist_working_key(param, "PrimaryFolder") && persist_working_key(param, "KeepRaw") &&
         save_master(param);
}

}  // namespace cw
