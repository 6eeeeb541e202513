// Block-device facts from sysfs and libblkid.
#include "platform/block_device.h"

#include <blkid/blkid.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cctype>
#include <filesystem>
#include <fstream>

namespace cw {

namespace fs = std::filesystem;

namespace {

std::string trimmed(std::string text) {
  const char* space = " \t\n";
  std::size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

std::string read_attribute(const fs::path& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return trimmed(text);
}

bool starts_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// udev writes unsafe bytes of a label as "\xNN".
std::string unescape_udev(const std::string& name) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
        std::isxdigit(static_cast<unsigned char>(name[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(name[i + 3]))) {
      out.push_back(static_cast<char>(std::stoi(name.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(name[i]);
    }
  }
  return out;
}

std::string name_from_udev_links(const char* folder, dev_t device_number) {
  std::error_code ec;
  for (const fs::directory_entry& link : fs::directory_iterator(folder, ec)) {
    struct stat st {};
    if (stat(link.path().c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == device_number)
      return unescape_udev(link.path().filename().string());
  }
  return "";
}

// One value of the file system's superblock ("LABEL", "UUID", "TYPE"); the udev links in
// `folder` (when given) when the device cannot be read by this user.
std::string superblock_value(const std::string& device_node, dev_t device_number,
                             const char* name, int flag, const char* folder) {
  blkid_probe probe = blkid_new_probe_from_filename(device_node.c_str());
  if (!probe) return folder ? name_from_udev_links(folder, device_number) : "";
  std::string text;
  blkid_probe_enable_superblocks(probe, 1);
  blkid_probe_set_superblocks_flags(probe, flag);
  const char* value = nullptr;
  if (blkid_do_safeprobe(probe) == 0 &&
      blkid_probe_lookup_value(probe, name, &value, nullptr) == 0 && value)
    text = value;
  blkid_free_probe(probe);
  return text;
}

}  // namespace

BlockDeviceInfo block_device_info(dev_t device_number) {
  BlockDeviceInfo info;
  std::error_code ec;
  fs::path dir = fs::canonical("/sys/dev/block/" + std::to_string(major(device_number)) + ":" +
                                   std::to_string(minor(device_number)),
                               ec);
  if (ec) return info;
  if (fs::exists(dir / "partition", ec)) dir = dir.parent_path();
  info.disk = dir.filename().string();
  info.vendor = read_attribute(dir / "device" / "vendor");
  info.model = read_attribute(dir / "device" / "model");
  if (info.model.empty()) info.model = read_attribute(dir / "device" / "name");  // MMC/SD
  const std::string where = dir.string();
  if (starts_with(info.disk, "loop"))
    info.kind = DriveKind::kLoop;
  else if (starts_with(info.disk, "sr") || read_attribute(dir / "device" / "type") == "5")
    info.kind = DriveKind::kOptical;
  else if (read_attribute(dir / "removable") == "1" || where.find("/usb") != std::string::npos ||
           where.find("/firewire") != std::string::npos || starts_with(info.disk, "mmcblk"))
    info.kind = DriveKind::kRemovable;
  return info;
}

std::string block_device_label(const std::string& device_node, dev_t device_number) {
  return superblock_value(device_node, device_number, "LABEL", BLKID_SUBLKS_LABEL,
                          "/dev/disk/by-label");
}

std::string block_device_uuid(const std::string& device_node, dev_t device_number) {
  return superblock_value(device_node, device_number, "UUID", BLKID_SUBLKS_UUID,
                          "/dev/disk/by-uuid");
}

std::string block_device_type(const std::string& device_node) {
  return superblock_value(device_node, 0, "TYPE", BLKID_SUBLKS_TYPE, nullptr);
}

bool is_block_device(const std::string& path) {
  struct stat st {};
  return !path.empty() && path[0] == '/' && stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

}  // namespace cw
