// Archive set-up: what `cardwright init`, the first `cardwright ingest` on a terminal and the
// desktop program's first-run assistant do to set up a new archive: the archive folder, the
// backup folder (offering to create a missing one), the file names of the copies, and the
// photographer's name and copyright notice that go into every sidecar. One function saves
// them for every front end, so that they all leave the same settings behind.
#pragma once

#include <optional>
#include <string>

#include "control/settings_access.h"
#include "foundation/user_interface.h"

namespace cw {

struct ArchiveSetup {
  std::string archive;
  std::optional<std::string> backup;  // none: copies without a backup
  // Each left as it is when not given.
  std::optional<std::string> name_format;  // "NameFormat", a macro specification
  std::optional<std::string> creator;      // the photographer preset's "Creator"
  std::optional<std::string> copyright;    // the rights preset's "Copyright"
};

// True when the program still runs on built-in defaults and no archive folder is set, so that
// the first ingestion (and the desktop program's first start) offers the set-up.
bool archive_setup_due(CWParam& param);

// The set-up as the settings stand: the archive and backup folders (a backup folder only when
// "WantBackup" is on), the name format, the creator and the copyright notice.
ArchiveSetup current_archive_setup(CWParam& param);

// Asks for the archive folder (offering `start.archive`, else ~/Pictures/Archive), the backup
// folder (offering `start.backup`; empty for none), the name format, the creator and the
// copyright notice (each offering the value in `start`) through `ui`. A backup folder that
// does not exist is created when the user says Yes to ""FOLDER" does not exist. Create it
// now?". Nothing when no archive folder was given.
std::optional<ArchiveSetup> ask_archive_setup(UserInterface& ui, const ArchiveSetup& start);

// Saves the set-up: the folders into the current master preset (settings/preset_edit.h:
// save_archive_setup), the name format into the preset that holds it, the creator into the
// photographer preset and the copyright notice (marked "Copyrighted") into the rights preset
// the master names. False with `why` set when a folder is unusable or saving failed; a folder
// that will not do saves nothing.
bool save_archive_setup(CWParam& param, const ArchiveSetup& setup, std::string& why);

}  // namespace cw
