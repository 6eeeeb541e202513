// Where the program keeps its files on this system.
//
// Per-user data (database, log, presets, templates) lives in $XDG_DATA_HOME/CardwrightPro
// (default ~/.local/share/CardwrightPro); the global preferences file is
// $XDG_CONFIG_HOME/CardwrightPro/CardwrightPro.conf; the program's own data files (templates)
// are in the installed data folder, or in the source tree's data/ when run from a build tree.
#pragma once

#include <string>

namespace cw {

// Name of the per-user folder, under the user's data folder.
inline constexpr const char* kUserFolderName = "CardwrightPro";

// The user's data location ($XDG_DATA_HOME or ~/.local/share), without the program folder.
std::string user_data_location();
// $XDG_DATA_HOME/CardwrightPro. Not created here; see ensure_user_folder().
std::string user_folder();
// Creates the per-user folder when missing; an error other than "already exists" is shown as
// "Can't create: " followed by the folder path. Returns the folder path.
std::string ensure_user_folder();
// $XDG_CONFIG_HOME/CardwrightPro/CardwrightPro.conf.
std::string profile_path();
// The folder of the program's own data files (templates, icons): $CARDWRIGHT_DATA_DIR, else
// share/cardwright beside the program's bin folder, else the configured install folder, else
// the source tree's data folder (a program run from its build tree).
std::string program_data_folder();

// The path of the program's module `name` (a library of ours it loads when first needed):
// in lib/cardwright beside the program's bin folder, else in the build tree's module folder
// (a program run from its build tree: before an installed copy, which may be older), else in
// the configured install folder.
std::string program_module_path(const std::string& name);

}  // namespace cw
