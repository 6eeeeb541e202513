// Subcommands of the `cardwright` program. Each is described by its entry of the command table
// (app/cli.h), defined beside it; its run function takes the parsed arguments and returns the
// process exit status: 0 success, 1 failure, 2 bad usage.
#pragma once

#include "app/cli.h"

namespace cw::app {

// The help of --video-times-local, the option of the commands that read images' dates.
inline constexpr const char* kVideoTimesLocalHelp =
    "take movie times kept in UTC as the camera's local time (default:\n"
    "the preference VideoTimesLocal, 0 at first: shown in this computer's zone)";

const CommandSpec& db_command();
const CommandSpec& ingest_command();
const CommandSpec& init_command();
const CommandSpec& copycard_command();
const CommandSpec& preset_command();
const CommandSpec& pref_command();
const CommandSpec& vocab_command();
const CommandSpec& macro_command();
const CommandSpec& exif_command();
const CommandSpec& examine_command();
const CommandSpec& cards_command();
const CommandSpec& watch_command();
const CommandSpec& eject_command();
const CommandSpec& camera_command();
const CommandSpec& disc_command();
const CommandSpec& gps_command();
const CommandSpec& log_command();
const CommandSpec& check_update_command();
const CommandSpec& completion_command();
const CommandSpec& manpage_command();
const CommandSpec& multicam_command();
const CommandSpec& verify_command();

}  // namespace cw::app
