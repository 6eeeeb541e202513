// The drive list from the mount table, with udisks2 or the kernel for names and devices.
#include "platform/linux_drive_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

#include "platform/block_device.h"

namespace cw {

bool is_not_ready_error(int error) {
  switch (error) {
    case ENOENT:
    case ENOTCONN:
    case ESTALE:
    case EIO:
    case ENOMEDIUM:
    case EHOSTDOWN:
    case ETIMEDOUT:
      return true;
    default:
      return false;
  }
}

LinuxDriveSource::LinuxDriveSource() {
  if (!mountinfo_replaced()) change_fd_ = open(mountinfo_path().c_str(), O_RDONLY | O_CLOEXEC);
}

LinuxDriveSource::~LinuxDriveSource() {
  if (change_fd_ >= 0) close(change_fd_);
}

std::optional<std::vector<std::string>> LinuxDriveSource::roots() {
  std::optional<std::vector<MountEntry>> table = read_mountinfo();
  if (!table) return std::nullopt;
  mounts_ = drive_mounts(*table);
  objects_.reset();
  // Connected when the drives are first listed: a run that is given its card's folder never
  // lists them, and so never opens the bus library.
  if (!udisks_tried_) {
    udisks_ = Udisks::connect();
    udisks_tried_ = true;
  }
  if (udisks_) objects_ = udisks_->objects();
  std::vector<std::string> list;
  list.reserve(mounts_.size());
  for (const MountEntry& e : mounts_)
    if (faccessat(AT_FDCWD, e.mount_point.c_str(), F_OK, AT_EACCESS) == 0 || errno != EACCES)
      list.push_back(e.mount_point);
  return list;
}

const MountEntry* LinuxDriveSource::mount(const std::string& root) const {
  return find_mount(mounts_, root);
}

const UdisksBlock* LinuxDriveSource::udisks_block(const MountEntry& entry) const {
  if (!objects_) return nullptr;
  return objects_->block_for(entry.source, makedev(entry.major, entry.minor));
}

bool LinuxDriveSource::has_dcim(const std::string& root) {
  // A FUSE mount holds a card when a block device is behind it: a card read by a FAT or exFAT
  // program (fuseblk names the device; other FUSE programs do when mounted with
  // fsname=DEVICE). The others (sshfs, gvfs and the like) are gateways to network places or
  // to other programs, never a card in a reader, and looking into them can wait on those.
  if (const MountEntry* e = mount(root); e && is_fuse_filesystem(e->fs_type) &&
                                         !is_block_device(e->source))
    return false;
  std::string folder = root + (root.ends_with('/') ? "" : "/") + "DCIM";
  struct stat st {};
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

VolumeInfo LinuxDriveSource::volume_info(const std::string& root) {
  VolumeInfo info;
  struct stat st {};
  if (stat(root.c_str(), &st) != 0) {
    info.error = errno;
    info.status = is_not_ready_error(info.error) ? VolumeStatus::kNotReady : VolumeStatus::kFailed;
    return info;
  }
  const MountEntry* entry = mount(root);
  if (!entry) return info;
  if (const UdisksBlock* block = udisks_block(*entry)) {
    info.name = block->label;
    return info;
  }
  struct stat dev {};
  if (stat(entry->source.c_str(), &dev) == 0 && S_ISBLK(dev.st_mode))
    info.name = block_device_label(entry->source, dev.st_rdev);
  return info;
}

std::string LinuxDriveSource::volume_uuid(const std::string& root) {
  const MountEntry* entry = mount(root);
  if (!entry) return {};
  if (const UdisksBlock* block = udisks_block(*entry)) return block->uuid;
  struct stat dev {};
  if (stat(entry->source.c_str(), &dev) != 0 || !S_ISBLK(dev.st_mode)) return {};
  return block_device_uuid(entry->source, dev.st_rdev);
}

bool LinuxDriveSource::keeps_local_times(const std::string& root) {
  const MountEntry* entry = mount(root);
  if (!entry) return false;
  if (is_fat_family(entry->fs_type)) return true;
  // A FUSE mount is named after the program: the device tells what file system it holds.
  return is_fuse_filesystem(entry->fs_type) && is_block_device(entry->source) &&
         is_fat_family(block_device_type(entry->source));
}

DeviceRecord LinuxDriveSource::device_record(const std::string& root) {
  DeviceRecord record;
  const MountEntry* entry = mount(root);
  if (!entry) {
    record.status = DeviceStatus::kMissing;
    return record;
  }
  if (const UdisksBlock* block = udisks_block(*entry)) {
    if (const UdisksDrive* drive = objects_->drive_at(block->drive)) {
      record.vendor = drive->vendor;
      record.product = drive->model;
    }
    return record;
  }
  struct stat dev {};
  if (entry->source.empty() || entry->source[0] != '/') {
    record.status = DeviceStatus::kMissing;
  } else if (stat(entry->source.c_str(), &dev) != 0) {
    record.error = errno;
    bool gone = record.error == ENOENT || record.error == ENOTDIR;
    record.status = gone ? DeviceStatus::kMissing : DeviceStatus::kFailed;
  } else if (!S_ISBLK(dev.st_mode)) {
    record.status = DeviceStatus::kMissing;
  } else {
    BlockDeviceInfo info = block_device_info(dev.st_rdev);
    record.vendor = info.vendor;
    record.product = info.model;
  }
  return record;
}

}  // namespace cw
