// The macro laboratory over the session's presets and macro environment.
#include "control/macro_laboratory.h"

#include "control/app_session.h"
#include "metadata/macro_reference.h"
#include "metadata/macro_settings_env.h"
#include "settings/param.h"
#include "settings/preferences.h"
#include "settings/vocabulary.h"

namespace cw {

MacroEnvironment& next_ingestion_macros(AppSession& session,
                                        const std::optional<std::string>& notes,
                                        bool video_times_local) {
  SettingsMacroEnvironment& env = session.macro_environment();
  env.notes = notes ? *notes : pref_get_text("IngestionNotes");
  if (video_times_local) env.video_times_local = true;
  return env;
}

MacroInputs laboratory_sample_inputs() { return macro_laboratory_inputs(); }

bool laboratory_image_inputs(const std::string& image, MacroEnvironment& env, MacroInputs& in,
                             std::string& why) {
  MacroInputs read = in;
  if (!macro_inputs_from_image(image, read, why, env.video_times_local)) return false;
  in = std::move(read);
  return true;
}

LabExpansion expand_in_laboratory(const std::string& specification, const MacroInputs& in,
                                  MacroEnvironment& env) {
  LabExpansion out;
  out.ok = macro_process_with_data(specification, out.text, in, env);
  if (!out.ok) return out;
  out.unknown = unknown_macros(specification, env);
  if (!out.unknown.empty()) out.warning = unknown_macro_warning("text", out.unknown);
  return out;
}

std::vector<ReferenceLine> macro_reference_values(const MacroInputs& in, MacroEnvironment& env) {
  std::vector<ReferenceLine> lines;
  for (const ReferenceRow& row : macro_reference_rows()) {
    ReferenceLine line{row.heading, row.label, row.specification, {}};
    if (row.heading.empty()) macro_process_with_data(row.specification, line.value, in, env);
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string laboratory_reference_text() { return macro_reference_text(); }

void set_laboratory_property(AppSession& session, const std::string& name,
                             const std::string& value) {
  session.settings().master().put_str(name, value);
}

void set_laboratory_iptc(AppSession& session, const std::string& name, const std::string& value) {
  session.settings().preset(PresetKind::Photog).put_str(name, value);
}

void check_laboratory_vocabulary(AppSession& session, const std::string& heading,
                                 const std::string& path) {
  std::vector<std::string> names{heading};
  for (std::size_t from = 0; from <= path.size();) {
    std::size_t bar = path.find('|', from);
    if (bar == std::string::npos) bar = path.size();
    names.push_back(path.substr(from, bar - from));
    from = bar + 1;
  }
  PROPSET* set = session.settings().working_set();
  Vocabulary vocabulary;
  vocabulary.load(set);
  vocabulary.check_path(names, set);
}

}  // namespace cw
