// Locating the outside GPS tools.
#include "gps/tool_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace cw {

namespace {

bool is_executable_file(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::optional<std::string> find_program_on_path(const std::string& name) {
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string::npos)
    return is_executable_file(name) ? std::optional<std::string>(name) : std::nullopt;
  const char* path = std::getenv("PATH");
  std::string_view folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
  for (;;) {
    std::size_t colon = folders.find(':');
    std::string folder(folders.substr(0, colon));
    std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
    if (is_executable_file(candidate)) return candidate;
    if (colon == std::string_view::npos) return std::nullopt;
    folders.remove_prefix(colon + 1);
  }
}

std::string resolve_tool(const std::string& configured, const std::string& name) {
  if (!configured.empty()) return configured;
  return find_program_on_path(name).value_or(name);
}

bool program_exists(const std::string& program) {
  return find_program_on_path(program).has_value();
}

}  // namespace cw
