// The base environment that finds nothing, and the in-memory one.
#include "metadata/macro_environment.h"

#include "metadata/macro_exif.h"
#include "metadata/macro_text.h"

namespace cw {

std::string DatabaseLookup::sql() const {
  std::string quoted = "'";
  for (char c : key) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  quoted += '\'';
  return "select " + column + " from " + table + " where " + key_column + " = " + quoted;
}

PresetValue MacroEnvironment::master_property(std::string_view) { return {}; }

bool MacroEnvironment::master_property_values(std::string_view, std::vector<PresetValue>& values) {
  values.clear();
  return true;
}

bool MacroEnvironment::iptc_presets_loaded() { return false; }

PresetValue MacroEnvironment::iptc_property(IptcPreset, std::string_view) { return {}; }

std::optional<std::string> MacroEnvironment::database_value(const DatabaseLookup&) {
  return std::nullopt;
}

std::string MacroEnvironment::notes_text() { return {}; }

// ---- in memory ----

namespace {
PresetValue find_in(const std::map<std::string, PresetValue>& m, std::string_view name) {
  auto it = m.find(to_lower(name));
  return it == m.end() ? PresetValue{} : it->second;
}
}  // namespace

void MemoryMacroEnvironment::set_master(std::string_view name, PresetValue value) {
  master[to_lower(name)] = std::move(value);
}

void MemoryMacroEnvironment::set_iptc(IptcPreset preset, std::string_view name,
                                      PresetValue value) {
  iptc[static_cast<int>(preset)][to_lower(name)] = std::move(value);
}

PresetValue MemoryMacroEnvironment::master_property(std::string_view name) {
  return find_in(master, name);
}

bool MemoryMacroEnvironment::master_property_values(std::string_view name,
                                                    std::vector<PresetValue>& values) {
  values.clear();
  if (!equals_ignoring_case(name, "Vocabulary")) {
    PresetValue v = master_property(name);
    if (v.kind != PresetValue::Kind::Absent) values.push_back(v);
    return true;
  }
  if (!vocabulary_readable) return false;
  values = vocabulary;
  return true;
}

PresetValue MemoryMacroEnvironment::iptc_property(IptcPreset preset, std::string_view name) {
  return find_in(iptc[static_cast<int>(preset)], name);
}

std::optional<std::string> MemoryMacroEnvironment::database_value(const DatabaseLookup& lookup) {
  auto it = database.find(lookup.sql());
  if (it == database.end()) return std::nullopt;
  return it->second;
}

bool MemoryMacroEnvironment::image_exif(const std::string& path, ExifPairs& pairs) {
  auto it = images.find(path);
  if (it != images.end()) {
    pairs = it->second;
    return true;
  }
  if (images_from_reader) return MacroEnvironment::image_exif(path, pairs);
  return false;
}

bool MemoryMacroEnvironment::read_image_exif(const std::string& path, ExifPairs& pairs) {
  auto it = images.find(path);
  if (it != images.end()) {
    pairs = it->second;
    return true;
  }
  if (images_from_reader) return MacroEnvironment::read_image_exif(path, pairs);
  return false;
}

}  // namespace cw
