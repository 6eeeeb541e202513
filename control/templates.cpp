// Start-up installation of the shipped metadata templates.
#include "control/templates.h"

#include <sys/stat.h>

#include <cerrno>
#include <ctime>
#include <filesystem>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/sysio.h"

namespace cw {

namespace {

bool file_exists(const std::string& path, struct stat* st = nullptr) {
  struct stat local;
  return sysio().stat(system_path(path).c_str(), st ? st : &local) == 0;
}

// Copies of the IPTC template older than this are from before its current field set.
std::time_t oldest_current_template_time() {
  std::tm t{};
  t.tm_year = 2007 - 1900;
  t.tm_mon = 7;  // August
  t.tm_mday = 31;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

}  // namespace

void install_metadata_templates(const std::string& program_folder,
                                const std::string& template_folder) {
  std::error_code ec;
  std::filesystem::create_directories(template_folder, ec);
  if (ec) log_printf("Can't create: %s (%s)", template_folder.c_str(), ec.message().c_str());

  const std::string plain_source = program_folder + "/Cardwright.xmp";
  const std::string plain_target = template_folder + "/Cardwright.xmp";
  if (file_exists(plain_source) && !file_exists(plain_target)) {
    ui_print("\nInstalling " + plain_target + "\n");
    copy_file_standalone(plain_source, plain_target, true);
  }

  const std::string name = std::string(kIptcTemplateName) + ".xmp";
  const std::string source = program_folder + "/" + name;
  const std::string target = template_folder + "/" + name;
  if (!file_exists(source)) {
    log_printf("Unable to access %s in EXE folder.", name.c_str());
    log_printf("Test for %s = %d", target.c_str(), file_exists(target) ? 0 : -1);
    return;
  }
  struct stat st;
  if (!file_exists(target, &st) || st.st_mtime < oldest_current_template_time()) {
    ui_print("Installing new Cardwright-IPTC.3.4 template.\n");
    copy_file_standalone(source, target, false);
  }
}

}  // namespace cw
