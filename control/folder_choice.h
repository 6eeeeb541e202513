// Choosing several sibling folders: the user browses to the first one, then picks among the
// subfolders of its parent ("Multiple Folder Selection"). The multi-camera shoot lists one
// folder per camera this way, and the burn command chooses the folders it puts on discs. The
// browser question goes to the caller's user interface; the list is the front end's.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "disc/burner.h"
#include "foundation/user_interface.h"

namespace cw {

// Lets the user pick some of a parent folder's subfolders (by name); nothing when the user
// cancelled. The front end shows the list.
using FolderPicker = std::function<std::optional<std::vector<std::string>>(
    const std::string& parent, const std::vector<std::string>& names)>;

struct SiblingFolders {
  std::string parent;
  std::vector<std::string> names;  // picked, each a subfolder of `parent`, in name order
};

// Asks `ui` for the first folder under `title` (the browser opens at `browse_start`), then lets
// `pick` choose among the visible subfolders of its parent. Nothing when the user cancelled,
// picked nothing or the parent cannot be listed ("Can't access folder" is shown).
std::optional<SiblingFolders> choose_sibling_folders(UserInterface& ui, const std::string& title,
                                                     const std::string& browse_start,
                                                     const FolderPicker& pick);

// The burn command: the folders chosen with their subfolders, planned under the title
// "Selected Folders" with their parent as the root and no record key. The browser opens at
// `browse_start` (the primary folder). Nothing when the user cancelled.
std::optional<PlanRequest> choose_folders_to_burn(UserInterface& ui,
                                                  const std::string& browse_start,
                                                  const FolderPicker& pick);

}  // namespace cw
