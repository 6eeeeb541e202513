// Presets: what the Presets window, the main window's master list and `cardwright preset` do
// with presets: choose one, save it, save it under a new name, rename it, delete it, set one
// value, and the field edits of the Presets window. The settings themselves never ask; the
// names and the Yes/No answers a preset command needs are asked here, through the front end.
#pragma once

#include <optional>
#include <string>

#include "control/settings_access.h"
#include "foundation/user_interface.h"

namespace cw {

class AppSession;

// The answers of a preset command, asked through `ui`: a name with ask_text, a Yes with
// ask_yes_no.
PresetAnswers answers_through(UserInterface& ui);

// Makes NAME the current preset of its kind, as the main window's list does: a component's
// values reach the working set; asks first when unsaved changes would be lost. False when
// cancelled or the preset could not be read.
bool select_preset(CWParam& param, UserInterface& ui, PresetKind kind, const std::string& name);
// The same, then a component is also recorded in the current master preset, which is saved.
bool select_preset_for_master(CWParam& param, UserInterface& ui, PresetKind kind,
                              const std::string& name);

// Reads the preset NAME of the kind without making it current, so that its settings can be
// shown (a master merges its components). False when it could not be read.
bool load_preset(CWParam& param, PresetKind kind, const std::string& name);

// Saves the current preset of the kind under NAME. The keywords preset asks whether its check
// marks go with it.
bool save_preset_as(CWParam& param, UserInterface& ui, PresetKind kind, const std::string& name);

// Renames the current preset of the kind (or `old`, which is chosen first) to `now`; a master
// that named it names it by its new name.
bool rename_preset(CWParam& param, UserInterface& ui, PresetKind kind,
                   const std::optional<std::string>& old, const std::string& now);

enum class PresetDeletion { kDeleted, kDeclined, kFailed };
// Deletes the preset NAME after asking "OK to delete preset "NAME"?"; a master that named it
// names the default preset. The default preset is never deleted ("Can't delete Default
// preset.").
PresetDeletion delete_preset(CWParam& param, UserInterface& ui, PresetKind kind,
                             const std::string& name);

// Sets KEY to VALUE in the preset NAME and saves it (settings/preset_edit.h: set_preset_value),
// with the questions asked through `ui`.
bool save_preset_value(CWParam& param, UserInterface& ui, PresetKind kind,
                       const std::string& name, const std::string& key, const std::string& value);

// The warning for a VALUE of KEY that names macros the session's macros do not know: "KEY
// "VALUE" holds ..."; none when the value holds no unknown macro.
std::optional<std::string> unknown_macro_note(AppSession& session, const std::string& key,
                                              const std::string& value);

// A command of the Presets window's preset row: "New..." (the kind's defaults, then saved under
// a name asked for), "Save" (a master only once its file handling, metadata and keywords are
// saved), "Save As...", "Rename...", "Delete", or a preset name chosen from the list. A
// renamed or deleted component stays named right by the master; a new photographer, content
// or rights preset becomes the one the metadata preset uses. False when it failed or was
// cancelled.
bool preset_row_command(CWParam& param, UserInterface& ui, PresetKind kind,
                        const std::string& command);

// A field edited in the Presets window: stored in the master's working set (or the metadata
// preset it belongs to) with the rules that tie the backup and converter switches, and the
// preset marked unsaved. False when a rule refused or undid the value.
bool edit_preset_field(CWParam& param, PresetKind kind, const std::string& key,
                       const std::string& value);
// The extension filter edited in the Presets window: an inclusion (or exclusion) list put at the
// front of the working set's filters, the file-handling preset marked unsaved.
void edit_extension_filter(CWParam& param, bool include, const std::string& extensions);

}  // namespace cw
