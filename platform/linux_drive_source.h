// The drives of this system: every mounted file system that can hold a card, in mount-table
// order; mounts this user cannot reach (inside another user's private folder) are left out.
// A FUSE mount without a block device behind it (sshfs, gvfs) never holds a card (has_dcim).
// Volume names, vendors and models come from udisks2 when it answers, else from the
// kernel (libblkid, sysfs). A root counts as not ready when looking at it fails the way a
// pulled card or an unreachable share does. One object serves one thread at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/drive_source.h"
#include "platform/mountinfo.h"
#include "platform/udisks.h"

namespace cw {

class LinuxDriveSource : public DriveSource {
 public:
  LinuxDriveSource();
  ~LinuxDriveSource() override;
  LinuxDriveSource(const LinuxDriveSource&) = delete;
  LinuxDriveSource& operator=(const LinuxDriveSource&) = delete;

  std::optional<std::vector<std::string>> roots() override;
  bool has_dcim(const std::string& root) override;
  VolumeInfo volume_info(const std::string& root) override;
  std::string volume_uuid(const std::string& root) override;
  DeviceRecord device_record(const std::string& root) override;
  bool keeps_local_times(const std::string& root) override;
  // The kernel's mount table, open for POLLPRI; -1 when CARDWRIGHT_MOUNTINFO replaces it.
  int change_fd() override { return change_fd_; }

  // The mount-table entry of a root of the latest list; null when it is not listed.
  const MountEntry* mount(const std::string& root) const;

 private:
  const UdisksBlock* udisks_block(const MountEntry& entry) const;

  std::vector<MountEntry> mounts_;
  std::unique_ptr<Udisks> udisks_;
  bool udisks_tried_ = false;
  std::optional<UdisksObjects> objects_;
  int change_fd_ = -1;
};

// True for the stat errors of a root whose medium or share is not there: ENOENT, ENOTCONN,
// ESTALE, EIO, ENOMEDIUM, EHOSTDOWN, ETIMEDOUT.
bool is_not_ready_error(int error);

}  // namespace cw
