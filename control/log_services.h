// The run log: what the Log menu and `cardwright log` do with it (view it in the user's
// editor, clear it), and logging switched on or off after the preferences changed.
#pragma once

#include <string>

#include "control/viewer.h"
#include "foundation/user_interface.h"

namespace cw {

// Opens the log in $VISUAL, else $EDITOR, else the desktop's handler (xdg-open), without
// waiting; shows "Could not execute " + the program when it cannot be started.
bool view_log(const std::string& log_path, const ProgramLauncher& launch);

// Asks "Clear log file?" through `ui`; on Yes closes the log, deletes it, opens it again and
// writes "Cleared by user". True when cleared.
bool clear_log(UserInterface& ui, const std::string& log_path);

// Applies a changed "LogV3": switches logging and says so in the log.
void switch_logging(bool on);

}  // namespace cw
