// Presets as the front ends change them.
#include "control/settings_presets.h"

#include "control/app_session.h"
#include "foundation/log.h"
#include "metadata/macro_check.h"
#include "metadata/macro_settings_env.h"

namespace cw {

namespace {

// The answers of `ui`, but the name is the one given on the command line.
PresetAnswers answers_with_name(UserInterface& ui, const std::string& name) {
  PresetAnswers answers = answers_through(ui);
  answers.name = [name](const std::string&, const std::string&) {
    return std::optional<std::string>(name);
  };
  return answers;
}

// The working-set key by which the metadata preset names a photographer, content or rights
// preset; null for the other kinds.
const char* metadata_choice_key(PresetKind kind) {
  switch (kind) {
    case PresetKind::Photog:
      return "MetaPhotog";
    case PresetKind::Content:
      return "MetaContent";
    case PresetKind::Rights:
      return "MetaRights";
    default:
      return nullptr;
  }
}

}  // namespace

PresetAnswers answers_through(UserInterface& ui) {
  return PresetAnswers{
      [&ui](const std::string& prompt, const std::string& initial) {
        return ui.ask_text(prompt, initial);
      },
      [&ui](const std::string& question) { return ui.ask_yes_no(question); },
  };
}

bool select_preset(CWParam& param, UserInterface& ui, PresetKind kind, const std::string& name) {
  return param.select(kind, name, answers_through(ui));
}

bool select_preset_for_master(CWParam& param, UserInterface& ui, PresetKind kind,
                              const std::string& name) {
  if (!select_preset(param, ui, kind, name)) return false;
  return kind == PresetKind::Master || save_master(param);
}

bool load_preset(CWParam& param, PresetKind kind, const std::string& name) {
  return param.preset(kind).load(name);
}

bool save_preset_as(CWParam& param, UserInterface& ui, PresetKind kind, const std::string& name) {
  bool changed = false;
  return param.preset(kind).command("Save As...", changed, answers_with_name(ui, name));
}

bool rename_preset(CWParam& param, UserInterface& ui, PresetKind kind,
                   const std::optional<std::string>& old, const std::string& now) {
  CWPreset& p = param.preset(kind);
  const PresetAnswers answers = answers_with_name(ui, now);
  bool changed = false;
  if (old && !p.command(*old, changed, answers)) return false;
  const std::string before = p.set->setname.value_or("");
  if (!p.command("Rename...", changed, answers)) return false;
  return repoint_master(param, kind, before, p.name);
}

PresetDeletion delete_preset(CWParam& param, UserInterface& ui, PresetKind kind,
                             const std::string& name) {
  if (name == kDefaultName) {
    alert_printf("Can't delete Default preset.");
    return PresetDeletion::kFailed;
  }
  CWPreset& p = param.preset(kind);
  const PresetAnswers answers = answers_through(ui);
  bool changed = false;
  // Chosen by the preset itself, so that the master's working set stays as stored.
  if (!p.command(name, changed, answers)) return PresetDeletion::kFailed;
  if (!p.command("Delete", changed, answers))
    return changed ? PresetDeletion::kFailed : PresetDeletion::kDeclined;
  return repoint_master(param, kind, name, kDefaultName) ? PresetDeletion::kDeleted
                                                         : PresetDeletion::kFailed;
}

bool save_preset_value(CWParam& param, UserInterface& ui, PresetKind kind,
                       const std::string& name, const std::string& key, const std::string& value) {
  return set_preset_value(param, kind, name, key, value, answers_through(ui));
}

std::optional<std::string> unknown_macro_note(AppSession& session, const std::string& key,
                                              const std::string& value) {
  if (value.find("{@") == std::string::npos) return std::nullopt;
  const std::vector<UnknownMacro> unknown = unknown_macros(value, session.macro_environment());
  if (unknown.empty()) return std::nullopt;
  return unknown_macro_warning(key + " \"" + value + "\"", unknown);
}

bool preset_row_command(CWParam& param, UserInterface& ui, PresetKind kind,
                        const std::string& command) {
  CWPreset& p = param.preset(kind);
  std::string text = command;
  if (text == "New...") {
    // A new preset starts from the defaults and is saved under the name the user gives.
    reset_preset_values(param, kind);
    param.mark_unsaved(kind);
    text = "Save As...";
  }
  const std::string old = p.set && p.set->setname ? *p.set->setname : std::string();
  bool ok = false;
  if (text == "Save" && kind == PresetKind::Master && !param.master_save_allowed()) {
    ok = false;
  } else if (text == "Save" || text == "Save As..." || text == "Rename..." || text == "Delete") {
    bool list_changed = false;
    ok = p.command(text, list_changed, answers_through(ui));
    if (ok && text == "Rename...") repoint_master(param, kind, old, p.name);
    // The metadata presets are chosen by name in the working set: a new one is the one used.
    if (ok && text == "Save As...")
      if (const char* chosen_by = metadata_choice_key(kind))
        put_preset_value(param, PresetKind::Meta, chosen_by, p.name);
    if (ok && text == "Delete") repoint_master(param, kind, old, kDefaultName);
    if (ok) p.unsaved = false;
  } else {
    ok = select_preset(param, ui, kind, text);
    if (ok) p.unsaved = false;
  }
  return ok;
}

bool edit_preset_field(CWParam& param, PresetKind kind, const std::string& key,
                       const std::string& value) {
  bool ok = true;
  if (key == "KeepRaw" && value == "1")
    ok = param.switch_keep_raw_on();
  else if (key == "WantBackup" && value == "0")
    ok = param.switch_want_backup_off();
  else
    ok = put_preset_value(param, kind, key, value);
  param.mark_unsaved(kind);
  return ok;
}

void edit_extension_filter(CWParam& param, bool include, const std::string& extensions) {
  param.store_extension_filter(include, extensions);
  param.mark_unsaved(PresetKind::File);
}

}  // namespace cw
