// Macro values from the presets, the vocabulary and the database.
#include "metadata/macro_settings_env.h"

#include "database/database.h"
#include "settings/param.h"

namespace cw {

namespace {

PresetValue value_of(const PROPVAL* v) {
  if (!v) return {};
  return v->type == kPropStr ? PresetValue::of(v->strval) : PresetValue::other();
}

CWPreset& iptc_source(CWParam& param, IptcPreset preset) {
  switch (preset) {
    case IptcPreset::Photographer: return param.preset(PresetKind::Photog);
    case IptcPreset::Content: return param.preset(PresetKind::Content);
    case IptcPreset::Rights: break;
  }
  return param.preset(PresetKind::Rights);
}

}  // namespace

PresetValue SettingsMacroEnvironment::master_property(std::string_view name) {
  return value_of(prop_get(param_.working_set(), std::string(name), 0));
}

bool SettingsMacroEnvironment::master_property_values(std::string_view name,
                                                      std::vector<PresetValue>& values) {
  values.clear();
  const PROPSET* set = param_.working_set();
  if (!set) return false;
  const std::string key(name);
  const int n = prop_count(set, key);
  for (int i = 0; i < n; ++i) values.push_back(value_of(prop_get(set, key, i)));
  return true;
}

bool SettingsMacroEnvironment::iptc_presets_loaded() {
  for (IptcPreset p : {IptcPreset::Photographer, IptcPreset::Content, IptcPreset::Rights})
    if (!iptc_source(param_, p).set) return false;
  return true;
}

PresetValue SettingsMacroEnvironment::iptc_property(IptcPreset preset, std::string_view name) {
  return value_of(prop_get(iptc_source(param_, preset).set.get(), std::string(name), 0));
}

std::optional<std::string> SettingsMacroEnvironment::database_value(
    const DatabaseLookup& lookup) {
  // No stored record key reads as "no record chosen".
  std::optional<std::string> key;
  if (!lookup.key.empty()) key = lookup.key;
  if (!db_) return std::nullopt;
  return db_macro_value(*db_, lookup.table, lookup.column, key);
}

}  // namespace cw
