// Cleaning of names and folder paths, and the real-path containment check.
#include "foundation/path_guard.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "foundation/fs.h"
#include "foundation/sysio.h"

namespace cw {

namespace {

// Characters the Windows family of file systems refuses in a name (separators aside).
constexpr std::string_view kRefused = "\"*:<>?|";

// U+0080 to U+009F: 0xC2 followed by 0x80 to 0x9F.
bool is_c1_control(const std::string& s, std::size_t i) {
  if (static_cast<unsigned char>(s[i]) != 0xC2 || i + 1 >= s.size()) return false;
  const unsigned char next = static_cast<unsigned char>(s[i + 1]);
  return next >= 0x80 && next <= 0x9F;
}

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string safe_path_component(std::string_view name) {
  std::string utf8, why;
  if (!to_utf8(name, utf8, why)) utf8.clear();  // only an unusable converter fails
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x20 || c == 0x7F) continue;
    if (is_c1_control(utf8, i)) {
      ++i;
      continue;
    }
    const bool refused = is_separator(utf8[i]) || kRefused.find(utf8[i]) != std::string_view::npos;
    out += refused ? '-' : utf8[i];
  }
  if (out.size() > kMaxPathComponent) {
    std::size_t cut = kMaxPathComponent;
    while (cut > 0 && is_continuation(out[cut])) --cut;
    out.resize(cut);
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
  return out;
}

std::string safe_relative_path(std::string_view path) {
  std::string out;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !is_separator(path[end])) ++end;
    std::string part = safe_path_component(path.substr(start, end - start));
    if (!part.empty()) {
      if (!out.empty()) out += '/';
      out += part;
    }
    start = end + 1;
  }
  return out;
}

std::optional<std::string> real_path_of(const std::string& path) {
  std::string absolute = system_path(path);
  if (absolute.empty() || absolute[0] != '/') {
    std::unique_ptr<char, decltype(&::free)> cwd(::getcwd(nullptr, 0), &::free);
    if (!cwd) return std::nullopt;
    absolute = std::string(cwd.get()) + "/" + absolute;
  }
  // Components that do not exist yet, innermost last.
  std::vector<std::string> missing;
  std::string existing = absolute;
  int made_meanwhile = 0;
  for (;;) {
    char resolved[PATH_MAX];
    if (::realpath(existing.c_str(), resolved)) {
      std::string out = resolved;
      for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (*it == "." || it->empty()) continue;
        if (*it == "..") {
          out.resize(std::max<std::size_t>(1, out.rfind('/')));
          continue;
        }
        if (out.back() != '/') out += '/';
        out += *it;
      }
      return out;
    }
    // Only a name that is not there at all may be taken as a folder still to be made: a link
    // that leads nowhere would be followed by the folder creation.
    // A name that appears between the two calls was made meanwhile (another run creating the
    // same folder): it is resolved again.
    struct stat st;
    if (errno != ENOENT) return std::nullopt;
    if (sysio().lstat(existing.c_str(), &st) == 0) {
      if (++made_meanwhile > 3) return std::nullopt;
      continue;
    }
    const std::size_t sep = existing.rfind('/');
    if (sep == std::string::npos || existing.size() <= 1) return std::nullopt;
    missing.push_back(existing.substr(sep + 1));
    existing.resize(sep == 0 ? 1 : sep);
  }
}

bool path_is_inside(std::string_view root, std::string_view path) {
  if (path.substr(0, root.size()) != root) return false;
  return path.size() == root.size() || (!root.empty() && root.back() == '/') ||
         path[root.size()] == '/';
}

bool lands_inside(const std::string& real_root, const std::string& path) {
  if (real_root.empty()) return false;
  const std::optional<std::string> real = real_path_of(path);
  return real && path_is_inside(real_root, *real);
}

}  // namespace cw
