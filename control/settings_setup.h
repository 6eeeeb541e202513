// Archive set-up: what `cardwright init`, and the first `cardwright ingest` on a terminal, do
// to set up a new archive: ask for the archive folder and the backup folder (offering to create
// a missing backup folder) and save both into the current master preset, which every ingestion
// starts from.
#pragma once

#include <optional>
#include <string>

#include "control/settings_access.h"
#include "foundation/user_interface.h"

namespace cw {

struct ArchiveFolders {
  std::string archive;
  std::optional<std::string> backup;  // none: copies without a backup
};

// True when the program still runs on built-in defaults and no archive folder is set, so that
// the first ingestion offers the set-up.
bool archive_setup_due(CWParam& param);

// Asks for the archive folder (offering `start.archive`, else ~/Pictures/Archive) and the
// backup folder (offering `start.backup`; empty for none) through `ui`. A backup folder that
// does not exist is created when the user says Yes to ""FOLDER" does not exist. Create it
// now?". Nothing when no archive folder was given.
std::optional<ArchiveFolders> ask_archive_folders(UserInterface& ui, const ArchiveFolders& start);

// Saves the folders into the current master preset (settings/preset_edit.h:
// save_archive_setup); false with `why` set when a folder is unusable or saving failed.
bool save_archive_folders(CWParam& param, const ArchiveFolders& folders, std::string& why);

}  // namespace cw
