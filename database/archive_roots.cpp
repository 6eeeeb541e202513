// Archive roots known by name, and where this station mounts them.
#include "database/archive_roots.h"

#include <algorithm>
#include <cctype>

#include "foundation/path_guard.h"

namespace cw {

namespace {

bool valid_name(const std::string& name) {
  if (name.empty()) return false;
  for (const unsigned char c : name)
    if (!std::isalnum(c) && c != '-' && c != '_' && c != '.') return false;
  return true;
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::optional<ArchiveRoots> ArchiveRoots::parse(const std::string& text, std::string& why) {
  ArchiveRoots roots;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find(';', at), text.size());
    const std::string item = trimmed(text.substr(at, end - at));
    at = end + 1;
    if (item.empty()) continue;
    const std::size_t eq = item.find('=');
    const std::string name = trimmed(item.substr(0, eq));
    const std::string mount = eq == std::string::npos ? "" : trimmed(item.substr(eq + 1));
    if (!valid_name(name)) {
      why = "\"" + item +
            "\" does not start with a root name (letters, digits, '-', '_', '.') and '='";
      return std::nullopt;
    }
    if (mount.empty() || mount.front() != '/') {
      why = "the mount point of \"" + name + "\" is not an absolute path";
      return std::nullopt;
    }
    for (const Root& r : roots.roots_)
      if (r.name == name) {
        why = "the root \"" + name + "\" is given twice";
        return std::nullopt;
      }
    // Copies are recorded by the paths the system resolves, so the mount point is compared the
    // same way (a mount point reached through a link still holds them).
    std::string real = real_path_of(mount).value_or(mount);
    while (real.size() > 1 && real.back() == '/') real.pop_back();
    roots.roots_.push_back({name, real});
  }
  return roots;
}

std::optional<ArchiveRoots::Place> ArchiveRoots::place_of(const std::string& path) const {
  const Root* best = nullptr;
  for (const Root& r : roots_)
    if (path_is_inside(r.mount, path) && (!best || r.mount.size() > best->mount.size()))
      best = &r;
  if (!best) return std::nullopt;
  std::string inside = path.substr(best->mount.size());
  while (!inside.empty() && inside.front() == '/') inside.erase(0, 1);
  return Place{best->name, inside};
}

std::optional<std::string> ArchiveRoots::path_of(const std::string& name,
                                                 const std::string& inside) const {
  for (const Root& r : roots_)
    if (r.name == name) {
      if (inside.empty()) return r.mount;
      return r.mount == "/" ? "/" + inside : r.mount + "/" + inside;
    }
  return std::nullopt;
}

}  // namespace cw
