// Edits of presets by key and value, as the command line's preset and vocabulary commands and
// the desktop program's editors make them: which keys belong to which kind of preset (with
// close matches for a mistyped one), values checked against their key's type and range, the
// rules that tie the backup and converter switches together, every effective setting of a
// preset with its default marked, a value set in a named preset and saved, the master kept
// pointing at its components when one is renamed or deleted, the vocabulary saved into the
// keywords preset the master names, and the archive set-up of a first run.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "settings/param.h"

namespace cw {

// The keys of a kind of preset in the order they are shown: the master holds the destination,
// file-handling and metadata keys and its own.
std::vector<const PresetKey*> preset_keys_of(PresetKind kind);
// The label of a kind ("Master", "File Handling", ...), and the word a command line names it
// by ("master", "file-handling").
const char* preset_kind_label(PresetKind kind);
std::string preset_kind_word(PresetKind kind);

// Whether KEY is a setting of this kind of preset and VALUE suits the key's type and range;
// otherwise `why` says so, naming the close matches of a mistyped key.
bool preset_value_allowed(PresetKind kind, const std::string& key, const std::string& value,
                          std::string& why);

// Stores one value given as text (allowed by preset_value_allowed) with the key's type: in
// the master's working set for the master and the groups it holds, in the preset's own set for
// the metadata fields. The switch rules of the working set apply: "KeepRaw" and
// "WantBackupPost" cannot be switched on without "WantBackup", and switching "WantBackup" off
// switches both off, each with its message. False when a rule refused the value or it could
// not be stored.
bool put_preset_value(CWParam& param, PresetKind kind, const std::string& key,
                      const std::string& value);

// Sets KEY to VALUE in the preset NAME of this kind and saves it; a NAME that does not exist
// yet starts from the current values. A switch rule that changed a key of another group saves
// that group's preset too (or the master), so the change lasts. A question the selection or
// the save raises is answered by `answers` (none given: cancelled / No).
bool set_preset_value(CWParam& param, PresetKind kind, const std::string& name,
                      const std::string& key, const std::string& value,
                      const PresetAnswers& answers = {});

// One setting of a preset as it stands: its values in index order (the extension filters and
// the vocabulary hold several) and whether that is the key's default.
struct EffectiveSetting {
  std::string key;
  std::vector<std::string> values;
  bool is_default = false;
};
// Every key of the kind with the value the loaded preset gives it (its default when it holds
// none), then the other values the preset holds.
std::vector<EffectiveSetting> effective_settings(CWParam& param, PresetKind kind);

// Makes a change of the master's working set last: the component preset that holds the key
// is saved when the master names one that exists, otherwise the master itself.
bool persist_working_key(CWParam& param, const std::string& key);

// Saves the master's working set under its own name, so that a component choice lasts.
bool save_master(CWParam& param);

// After a component preset named `old` was renamed to `now` (or deleted: `now` is the
// default), the current master names its successor, so that loading the master does not look
// for a preset that is gone.
bool repoint_master(CWParam& param, PresetKind kind, const std::string& old,
                    const std::string& now);

// Puts the values of a kind of preset back to their defaults, as a new preset of that kind
// starts: the group's keys in the master's working set (destination, file handling, metadata
// choice), the fields of a photographer, content or rights preset, or the keyword vocabulary.
// The master keeps its values: a new master starts from the current settings.
void reset_preset_values(CWParam& param, PresetKind kind);

// Saves the vocabulary of the working set into the keywords preset the master names, with its
// check marks: an edit of the vocabulary is about them.
bool save_vocabulary(CWParam& param);

// True when the current master preset was never saved: the program runs on built-in defaults.
bool first_run(CWParam& param);

// The set-up of a new archive: the primary folder and the pre-conversion backup folder (none:
// copies without a backup), saved into the current master preset. The backup folder must
// exist (a backup is never created where a disk is missing); the primary folder is created by
// the first ingestion. False with `why` set when a folder is unusable or saving failed.
bool save_archive_setup(CWParam& param, const std::string& primary,
                        const std::optional<std::string>& backup, std::string& why);

}  // namespace cw
