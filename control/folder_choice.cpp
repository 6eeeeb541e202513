// Choosing sibling folders for the multi-camera shoot and the burn command.
#include "control/folder_choice.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <new>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/sysio.h"

namespace cw {

namespace {

namespace fs = std::filesystem;

constexpr const char* kBurnTitle =
    "Choose first folder to be burned. Next dialog will allow you to select additional folders.";

// The visible subfolders of `parent` by name, sorted; nothing when it cannot be listed.
std::optional<std::vector<std::string>> subfolder_names(const std::string& parent) {
  std::vector<std::string> names;
  try {
    std::unique_ptr<DirList> list = dir_list_open(parent);
    if (!list) return std::nullopt;
    while (const std::string* entry = list->next()) {
      const std::string name = fs::path(*entry).filename().string();
      struct stat st;
      if (name.empty() || name[0] == '.') continue;
      if (sysio().lstat(entry->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) names.push_back(name);
    }
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::optional<SiblingFolders> choose_sibling_folders(UserInterface& ui, const std::string& title,
                                                     const std::string& browse_start,
                                                     const FolderPicker& pick) {
  const std::optional<std::string> first = ui.choose_folder(title, browse_start);
  if (!first || first->empty()) return std::nullopt;
  fs::path chosen = fs::path(*first).lexically_normal();
  if (!chosen.has_filename()) chosen = chosen.parent_path();  // a trailing "/"
  SiblingFolders out;
  out.parent = chosen.parent_path().string();
  const std::optional<std::vector<std::string>> names = subfolder_names(out.parent);
  if (!names) {
    alert_printf("Can't access folder");
    return std::nullopt;
  }
  const std::optional<std::vector<std::string>> picked = pick(out.parent, *names);
  if (!picked) return std::nullopt;
  // Only names that were offered: a picker cannot lead outside the parent.
  for (const std::string& name : *picked)
    if (std::binary_search(names->begin(), names->end(), name)) out.names.push_back(name);
  std::sort(out.names.begin(), out.names.end());
  out.names.erase(std::unique(out.names.begin(), out.names.end()), out.names.end());
  if (out.names.empty()) return std::nullopt;
  return out;
}

std::optional<PlanRequest> choose_folders_to_burn(UserInterface& ui,
                                                  const std::string& browse_start,
                                                  const FolderPicker& pick) {
  std::optional<SiblingFolders> chosen = choose_sibling_folders(ui, kBurnTitle, browse_start, pick);
  if (!chosen) return std::nullopt;
  PlanRequest plan;
  plan.root = chosen->parent;
  plan.folders = std::move(chosen->names);
  plan.title = "Selected Folders";
  plan.subfolders = true;
  return plan;
}

}  // namespace cw
