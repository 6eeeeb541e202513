// The macro environment of the running program: preset properties and the keyword vocabulary
// from the master preset's working set, IPTC fields from the photographer, content and rights
// presets, database values from the connection it is given, and the notes text the front end
// hands over. EXIF values are read from the images, the last one kept (MacroEnvironment).
#pragma once

#include <string>

#include "metadata/macro_environment.h"

namespace cw {

class CWParam;
class Database;

class SettingsMacroEnvironment : public MacroEnvironment {
 public:
  // `param` (and `db`, when given) must outlive the environment; the presets are read at each
  // lookup, so edits show at once. Without a database every TABLE.COLUMN macro stays as
  // written.
  SettingsMacroEnvironment(CWParam& param, Database* db) : param_(param), db_(db) {}

  PresetValue master_property(std::string_view name) override;
  bool master_property_values(std::string_view name, std::vector<PresetValue>& values) override;
  bool iptc_presets_loaded() override;
  PresetValue iptc_property(IptcPreset preset, std::string_view name) override;
  std::optional<std::string> database_value(const DatabaseLookup& lookup) override;
  std::string notes_text() override { return notes; }

  std::string notes;  // the notes field's text

 private:
  CWParam& param_;
  Database* db_;
};

}  // namespace cw
