// What the kernel itself tells about a block device, for systems where the desktop's disk
// manager does not run: the volume label (libblkid, or the links under /dev/disk/by-label
// when the device cannot be read), vendor and model and the kind of drive (sysfs).
#pragma once

#include <sys/types.h>

#include <string>

namespace cw {

enum class DriveKind {
  kFixed,      // an internal disk: never ejected
  kRemovable,  // removable media, or a drive on USB, MMC/SD or FireWire
  kOptical,    // CD/DVD drive
  kLoop,       // a file attached as a block device
};

struct BlockDeviceInfo {
  std::string disk;    // kernel name of the whole disk ("sdb" for sdb1)
  std::string vendor;  // spaces at either end removed; empty when the device does not say
  std::string model;
  DriveKind kind = DriveKind::kFixed;
};

// Vendor, model and drive kind of the device with this number.
BlockDeviceInfo block_device_info(dev_t device_number);

// The file-system label on the device node; empty when it has none or it cannot be found.
std::string block_device_label(const std::string& device_node, dev_t device_number);
// The file system's UUID (libblkid, or the links under /dev/disk/by-uuid); empty when it has
// none or it cannot be found.
std::string block_device_uuid(const std::string& device_node, dev_t device_number);

// The type of the file system on the device as libblkid names it ("vfat", "exfat", "ext4");
// empty when it cannot be read (this user may not open the device) or is not recognised.
std::string block_device_type(const std::string& device_node);

// True when `path` names a block device node (a link to one included).
bool is_block_device(const std::string& path);

}  // namespace cw
