// The image viewer after a successful ingestion: the master preset names the program
// ("ViewerApp", "[none]" for no viewer) and whether it gets the last folder of the run
// ("ViewerFolder"). The viewer is started without waiting for it; what happened is written to
// the text pane.
//
// The viewer gets its arguments as a vector, never through a command line, so a folder with
// spaces reaches it whole as one argument; quote marks would become part of the path. The
// "FolderHasSpaces" switch, which asks for quotes around the folder, therefore changes
// nothing here; presets keep it for systems where it still means something.
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
// (only the "." for the root "/."), otherwise as it is: spaces and all, never quoted.
std::string viewer_folder_argument(const std::string& folder);

// Launches the master preset's viewer on `folder` (none: without a folder), writing
// "\nLaunching …" or why not to the text pane.
void launch_viewer(const CWPreset& master, const std::optional<std::string>& folder,
                   const ProgramLauncher& launch);

// The launcher of the running program: starts the program detached from this process.
bool launch_detached(const std::string& program, const std::vector<std::string>& args);

}  // namespace cw
