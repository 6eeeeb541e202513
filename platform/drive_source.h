// The drives that card detection looks at, behind a small interface: the list of mounted
// roots, whether a root holds a DCIM folder, the volume name of a root and the identity of the
// device behind it. The Linux implementation (linux_drive_source.h) reads the mount table;
// FakeDriveSource (fake_drive_source.h) serves made-up lists, drive letters included, so that
// the detection rules can be exercised without mounting anything.
//
// A root is a mount point on Linux ("/media/ann/EOS_DIGITAL"); a fake may give drive roots in
// the lettered form ("E:\").
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cw {

// What asking for a root's volume name gave.
enum class VolumeStatus {
  kOk,        // `name` holds the volume name (empty when the volume has none)
  kNotReady,  // the medium or the share is not there (skipped without a word)
  kFailed,    // any other failure; `error` holds the errno value
};

struct VolumeInfo {
  VolumeStatus status = VolumeStatus::kOk;
  std::string name;
  int error = 0;
};

// What asking for the device behind a root gave.
enum class DeviceStatus {
  kFound,        // `vendor` and `product` hold what the device says (either may be empty)
  kMissing,      // no device record: the root is not backed by a block device
  kTableFailed,  // the table of devices could not be opened
  kFailed,       // the record could not be read; `error` holds the errno value
};

struct DeviceRecord {
  DeviceStatus status = DeviceStatus::kFound;
  std::string vendor;
  std::string product;
  int error = 0;
};

class DriveSource {
 public:
  virtual ~DriveSource() = default;
  // The mounted roots in list order; nothing when the list cannot be read (errno says why).
  // The other operations answer for the roots of the latest list.
  virtual std::optional<std::vector<std::string>> roots() = 0;
  // True when the root holds a folder named DCIM.
  virtual bool has_dcim(const std::string& root) = 0;
  virtual VolumeInfo volume_info(const std::string& root) = 0;
  // The UUID of the file system at a root ("3A5C-1F02" on a FAT card); empty when unknown.
  virtual std::string volume_uuid(const std::string& /*root*/) { return {}; }
  virtual DeviceRecord device_record(const std::string& root) = 0;
  // True when the file system at a root keeps file times as wall-clock time without a zone
  // (FAT, exFAT): the same file then reads with another time once the system that mounts it
  // is in another zone.
  virtual bool keeps_local_times(const std::string& /*root*/) { return false; }
  // A descriptor that signals POLLPRI when the list may have changed, or -1 when the list has
  // to be read again on a timer to notice changes.
  virtual int change_fd() { return -1; }
};

}  // namespace cw
