// The image viewer after a successful ingestion: the master preset names the program
// ("ViewerApp", "[none]" for no viewer) and whether it gets the last folder of the run
// ("ViewerFolder", quoted when "FolderHasSpaces" is on). The viewer is started without
// waiting for it; what happened is written to the text pane.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cw {

class CWPreset;

// Starts a program with its arguments without waiting for it; true when it started.
using ProgramLauncher =
    std::function<bool(const std::string& program, const std::vector<std::string>& args)>;

// The folder argument as the viewer gets it: at most 999 characters, a trailing "/." removed
// (only the "." for the root "/."), in double quotes when `quote`.
std::string viewer_folder_argument(const std::string& folder, bool quote);

// Launches the master preset's viewer on `folder` (none: without a folder), writing
// "\nLaunching …" or why not to the text pane.
void launch_viewer(const CWPreset& master, const std::optional<std::string>& folder,
                   const ProgramLauncher& launch);

// The launcher of the running program: starts the program detached from this process.
bool launch_detached(const std::string& program, const std::vector<std::string>& args);

}  // namespace cw
