// Preset edits by key and value.
#include "settings/preset_edit.h"

#include <strings.h>

#include <cstdlib>

namespace cw {

namespace {

// Where a kind's values are edited: the master's working set for the master and the groups
// it holds, the preset's own set for the metadata fields.
bool edits_working_set(PresetKind kind) {
  return kind == PresetKind::Master || kind == PresetKind::Destination ||
         kind == PresetKind::File || kind == PresetKind::Meta;
}

bool key_belongs(PresetKind kind, const std::string& key, std::string& why) {
  auto in_table = [&](const std::vector<PresetKey>& t) {
    for (const PresetKey& k : t)
      if (strcasecmp(k.key, key.c_str()) == 0) return true;
    return false;
  };
  auto in_fields = [&](const std::vector<const char*>& f) {
    for (const char* k : f)
      if (strcasecmp(k, key.c_str()) == 0) return true;
    return false;
  };
  bool ok = false;
  switch (kind) {
    case PresetKind::Master:
      ok = find_preset_key(key) || strncasecmp(key.c_str(), "qf_", 3) == 0;
      break;
    case PresetKind::Destination: ok = in_table(destination_keys()); break;
    case PresetKind::File: ok = in_table(file_keys()); break;
    case PresetKind::Meta: ok = in_table(meta_keys()); break;
    case PresetKind::Photog: ok = in_fields(photog_fields()); break;
    case PresetKind::Content: ok = in_fields(content_fields()); break;
    case PresetKind::Rights: ok = in_fields(rights_fields()); break;
    case PresetKind::Keywords:
      why = "keywords are edited with 'cardwright vocab'";
      return false;
  }
  if (!ok) why = "\"" + key + "\" is not a setting of this kind of preset";
  return ok;
}

bool value_fits(const std::string& key, const std::string& value, std::string& why) {
  const PresetKey* k = find_preset_key(key);
  if (k && k->type == KeyType::Integer) {
    char* end = nullptr;
    std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0') {
      why = std::string(k->key) + " takes a whole number";
      return false;
    }
  }
  if (k && k->type == KeyType::TextList && strncasecmp(value.c_str(), "Include:", 8) != 0 &&
      strncasecmp(value.c_str(), "Exclude:", 8) != 0) {
    why = std::string(k->key) + " takes \"Include: EXT ...\" or \"Exclude: EXT ...\"";
    return false;
  }
  return true;
}

}  // namespace

bool preset_value_allowed(PresetKind kind, const std::string& key, const std::string& value,
                          std::string& why) {
  return key_belongs(kind, key, why) && value_fits(key, value, why);
}

bool put_preset_value(CWParam& param, PresetKind kind, const std::string& key,
                      const std::string& value) {
  CWPreset& target = edits_working_set(kind) ? param.master() : param.preset(kind);
  const PresetKey* k = find_preset_key(key);
  if (k && k->type == KeyType::Integer)
    return target.put_int(k->key, static_cast<int>(std::strtol(value.c_str(), nullptr, 10)));
  if (k && k->type == KeyType::TextList)
    return param.store_extension_filter(strncasecmp(value.c_str(), "Include:", 8) == 0,
                                        value.substr(8));
  std::string text = value;
  if (strcasecmp(key.c_str(), "CopyrightStatus") == 0 &&
      (value == "Copyrighted" || value == "Public Domain" || value == "Unknown"))
    text = copyright_status_to_stored(value);
  return target.put_str(k ? k->key : key, text);
}

bool set_preset_value(CWParam& param, PresetKind kind, const std::string& name,
                      const std::string& key, const std::string& value) {
  CWPreset& p = param.preset(kind);
  if (p.exists(name)) {
    if (!param.select(kind, name)) return false;
  } else {
    propset_setname(*p.set, name);  // a new preset starts from the current values
  }
  if (!put_preset_value(param, kind, key, value)) return false;
  bool changed = false;
  return p.command("Save", changed);
}

bool save_master(CWParam& param) {
  bool changed = false;
  return param.master().command("Save", changed);
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
  return kw.command("Save", changed);
}

}  // namespace cw
