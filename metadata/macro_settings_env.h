// The macro environment of the running program: preset properties and the keyword vocabulary
// from the master preset's working set, IPTC fields from the photographer, content and rights
// presets, database values from the program's database connection, and the notes text the
// front end hands over. EXIF values come from the process-wide cached image reader.
#pragma once

#include <memory>
#include <string>

#include "metadata/macro_environment.h"

namespace cw {

class CWParam;

class SettingsMacroEnvironment : public MacroEnvironment {
 public:
  // `param` must outlive the environment; its presets are read at each lookup, so edits show
  // at once.
  explicit SettingsMacroEnvironment(CWParam& param) : param_(param) {}

  PresetValue master_property(std::string_view name) override;
  bool master_property_values(std::string_view name, std::vector<PresetValue>& values) override;
  bool iptc_presets_loaded() override;
  PresetValue iptc_property(IptcPreset preset, std::string_view name) override;
  std::optional<std::string> database_value(const DatabaseLookup& lookup) override;
  std::string notes_text() override { return notes; }

  std::string notes;  // the notes field's text

 private:
  CWParam& param_;
};

// An environment over the user's own presets: opens the settings store and loads the presets
// the way the program starts (an unusable store was reported and leaves empty presets).
std::unique_ptr<SettingsMacroEnvironment> load_user_macro_environment();

}  // namespace cw
