// Edits of presets by key and value, as the command line's preset and vocabulary commands and
// the desktop program's editors make them: which keys belong to which kind of preset, values
// checked against their key's type, a value set in a named preset and saved, the master kept
// pointing at its components when one is renamed or deleted, the vocabulary saved into the
// keywords preset the master names.
#pragma once

#include <string>

#include "settings/param.h"

namespace cw {

// Whether KEY is a setting of this kind of preset and VALUE suits the key's type; `why` says
// otherwise.
bool preset_value_allowed(PresetKind kind, const std::string& key, const std::string& value,
                          std::string& why);

// Stores one value given as text (allowed by preset_value_allowed) with the key's type: in
// the master's working set for the master and the groups it holds, in the preset's own set for
// the metadata fields.
bool put_preset_value(CWParam& param, PresetKind kind, const std::string& key,
                      const std::string& value);

// Sets KEY to VALUE in the preset NAME of this kind and saves it; a NAME that does not exist
// yet starts from the current values.
bool set_preset_value(CWParam& param, PresetKind kind, const std::string& name,
                      const std::string& key, const std::string& value);

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

// Saves the vocabulary of the working set into the keywords preset the master names.
bool save_vocabulary(CWParam& param);

}  // namespace cw
