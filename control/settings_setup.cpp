// The set-up of a new archive.
#include "control/settings_setup.h"

#include <cstdlib>
#include <filesystem>

namespace cw {

namespace {

std::string home_folder(const char* below) {
  const char* home = std::getenv("HOME");
  return std::string(home ? home : ".") + "/" + below;
}

}  // namespace

bool archive_setup_due(CWParam& param) {
  return first_run(param) && param.master().get_str("PrimaryFolder").value_or("").empty();
}

std::optional<ArchiveFolders> ask_archive_folders(UserInterface& ui, const ArchiveFolders& start) {
  auto answer = ui.ask_text("Archive folder (the root of your photo library)",
                            start.archive.empty() ? home_folder("Pictures/Archive") : start.archive);
  if (!answer || answer->empty()) return std::nullopt;
  ArchiveFolders folders{*answer, std::nullopt};
  answer = ui.ask_text("Backup folder (every image is copied there first; best on another disk;\n"
                       "empty for no backup)",
                       start.backup.value_or(""));
  if (!answer || answer->empty()) return folders;
  std::error_code ec;
  if (!std::filesystem::is_directory(*answer, ec) &&
      ui.ask_yes_no("\"" + *answer + "\" does not exist. Create it now?"))
    std::filesystem::create_directories(*answer, ec);
  folders.backup = *answer;
  return folders;
}

bool save_archive_folders(CWParam& param, const ArchiveFolders& folders, std::string& why) {
  return save_archive_setup(param, folders.archive, folders.backup, why);
}

}  // namespace cw
