// Locations of the program's per-user and installed files on Linux (XDG base directories).
#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "foundation/fs.h"
#include "foundation/log.h"

namespace cw {

namespace {

std::string home() {
  const char* h = std::getenv("HOME");
  return h && *h ? h : "/tmp";
}

std::string xdg(const char* variable, const char* fallback_below_home) {
  const char* v = std::getenv(variable);
  if (v && *v == '/') return v;
  return home() + "/" + fallback_below_home;
}

// `relative` below the folder the program's bin folder is in (bin/../relative): where an
// installed program finds what was installed with it, whatever prefix it was installed under
// (a package installs into /usr what was configured for /usr/local). Empty when the program's
// own path cannot be read.
std::string beside_program(const char* relative) {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : (exe.parent_path().parent_path() / relative).string();
}

}  // namespace

std::string user_data_location() { return xdg("XDG_DATA_HOME", ".local/share"); }

std::string user_folder() { return user_data_location() + "/" + kUserFolderName; }

std::string ensure_user_folder() {
  std::string location = user_data_location();
  // The data location itself may not exist on a fresh account.
  std::string partial;
  for (std::size_t i = 1; i <= location.size(); ++i) {
    if (i == location.size() || location[i] == '/') {
      partial = location.substr(0, i);
      if (!is_folder(partial)) ::mkdir(partial.c_str(), 0700);
    }
  }
  std::string folder = user_folder();
  if (::mkdir(folder.c_str(), 0700) != 0 && (errno != EEXIST || !is_folder(folder)))
    alert_printf("Can't create: %s", folder.c_str());
  return folder;
}

std::string profile_path() {
  return xdg("XDG_CONFIG_HOME", ".config") + "/" + kUserFolderName + "/" + kUserFolderName +
         ".conf";
}

std::string program_data_folder() {
  if (const char* v = std::getenv("CARDWRIGHT_DATA_DIR"); v && *v) return v;
  if (const std::string beside = beside_program("share/cardwright"); is_folder(beside))
    return beside;
  if (is_folder(CARDWRIGHT_INSTALL_DATA_DIR)) return CARDWRIGHT_INSTALL_DATA_DIR;
  return CARDWRIGHT_SOURCE_DATA_DIR;
}

std::string program_module_path(const std::string& name) {
  std::error_code ec;
  if (const std::string folder = beside_program("lib/cardwright"); !folder.empty()) {
    const std::string beside = folder + "/" + name;
    if (std::filesystem::exists(beside, ec)) return beside;
  }
  const std::string built = std::string(CARDWRIGHT_BUILD_MODULE_DIR) + "/" + name;
  if (std::filesystem::exists(built, ec)) return built;
  return std::string(CARDWRIGHT_INSTALL_MODULE_DIR) + "/" + name;
}

}  // namespace cw
