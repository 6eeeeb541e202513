// Reading and parsing the mount table.
#include "platform/mountinfo.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unordered_map>

namespace cw {

namespace {

constexpr const char* kKernelMountinfo = "/proc/self/mountinfo";

// Splits at single spaces; the kernel escapes spaces inside fields.
std::vector<std::string_view> split_fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t pos = 0;
  while (pos < line.size()) {
    std::size_t end = line.find(' ', pos);
    if (end == std::string_view::npos) end = line.size();
    if (end > pos) fields.push_back(line.substr(pos, end - pos));
    pos = end + 1;
  }
  return fields;
}

bool parse_device_number(std::string_view field, unsigned& major, unsigned& minor) {
  std::size_t colon = field.find(':');
  if (colon == std::string_view::npos) return false;
  std::string text(field);
  char* end = nullptr;
  unsigned long ma = std::strtoul(text.c_str(), &end, 10);
  if (end != text.c_str() + colon) return false;
  unsigned long mi = std::strtoul(text.c_str() + colon + 1, &end, 10);
  if (*end != '\0' || end == text.c_str() + colon + 1) return false;
  major = static_cast<unsigned>(ma);
  minor = static_cast<unsigned>(mi);
  return true;
}

bool is_octal(char c) { return c >= '0' && c <= '7'; }

}  // namespace

std::string mountinfo_path() {
  const char* replaced = std::getenv("CARDWRIGHT_MOUNTINFO");
  return replaced && *replaced ? replaced : kKernelMountinfo;
}

bool mountinfo_replaced() { return mountinfo_path() != kKernelMountinfo; }

std::string unescape_mount_field(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && is_octal(field[i + 1]) &&
        is_octal(field[i + 2]) && is_octal(field[i + 3])) {
      int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      out.push_back(static_cast<char>(value & 0xff));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

std::vector<MountEntry> parse_mountinfo(std::string_view text) {
  std::vector<MountEntry> entries;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::vector<std::string_view> f = split_fields(text.substr(pos, end - pos));
    pos = end + 1;
    // ID PARENT MAJ:MIN ROOT MOUNT-POINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER-OPTIONS
    if (f.size() < 9) continue;
    std::size_t dash = 6;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (dash + 2 >= f.size()) continue;
    MountEntry e;
    if (!parse_device_number(f[2], e.major, e.minor)) continue;
    e.root = unescape_mount_field(f[3]);
    e.mount_point = unescape_mount_field(f[4]);
    e.fs_type = unescape_mount_field(f[dash + 1]);
    e.source = unescape_mount_field(f[dash + 2]);
    if (e.mount_point.empty() || e.mount_point[0] != '/') continue;
    entries.push_back(std::move(e));
  }
  return entries;
}

bool is_pseudo_filesystem(std::string_view fs_type) {
  static constexpr std::string_view kPseudo[] = {
      "autofs",     "proc",     "sysfs",      "devtmpfs", "devpts",    "cgroup",
      "cgroup2",    "mqueue",   "debugfs",    "tracefs",  "securityfs", "pstore",
      "bpf",        "configfs", "fusectl",    "hugetlbfs", "binfmt_misc", "efivarfs",
      "rpc_pipefs", "nsfs",     "selinuxfs",  "nfsd",     "fuse.portal", "ramfs",
      "squashfs"};
  for (std::string_view p : kPseudo)
    if (fs_type == p) return true;
  return false;
}

bool is_fuse_filesystem(std::string_view fs_type) {
  return fs_type == "fuse" || fs_type == "fuseblk" || fs_type.starts_with("fuse.");
}

bool is_fat_family(std::string_view fs_type) {
  return fs_type == "vfat" || fs_type == "msdos" || fs_type == "exfat";
}

const MountEntry* find_mount(const std::vector<MountEntry>& entries,
                             const std::string& mount_point) {
  for (const MountEntry& e : entries)
    if (e.mount_point == mount_point) return &e;
  return nullptr;
}

std::optional<std::vector<MountEntry>> read_mountinfo() {
  std::ifstream in(mountinfo_path(), std::ios::binary);
  if (!in) {
    if (errno == 0) errno = ENOENT;
    return std::nullopt;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    errno = EIO;
    return std::nullopt;
  }
  return parse_mountinfo(text);
}

std::vector<MountEntry> drive_mounts(const std::vector<MountEntry>& table) {
  // A later mount on the same point hides the earlier ones (autofs places its real mounts
  // on top of its own placeholder this way).
  std::unordered_map<std::string, std::size_t> visible;
  for (std::size_t i = 0; i < table.size(); ++i) visible[table[i].mount_point] = i;
  std::vector<MountEntry> drives;
  for (std::size_t i = 0; i < table.size(); ++i) {
    auto it = visible.find(table[i].mount_point);
    if (it == visible.end()) continue;  // already placed
    const MountEntry& e = table[it->second];
    visible.erase(it);
    if (!is_pseudo_filesystem(e.fs_type)) drives.push_back(e);
  }
  return drives;
}

}  // namespace cw
