// The drives as they were at one moment, read once from a live drive source and then answered
// from memory. A desktop program reads the drives on a worker thread (a card that does not
// answer must never freeze a window) and hands the snapshot to its window, where card
// detection and the card monitor's Refresh run on it without touching a disk.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/drive_source.h"

namespace cw {

class DriveSnapshot : public DriveSource {
 public:
  struct Drive {
    std::string root;
    bool dcim = false;
    VolumeInfo volume;
    DeviceRecord device;
  };

  // Reads every root of `live`, with what card detection and the monitor ask of each.
  static DriveSnapshot take(DriveSource& live);

  std::optional<std::vector<std::string>> roots() override;
  bool has_dcim(const std::string& root) override;
  VolumeInfo volume_info(const std::string& root) override;
  DeviceRecord device_record(const std::string& root) override;

  const std::vector<Drive>& drives() const { return drives_; }

 private:
  const Drive* find(const std::string& root) const;
  bool listed_ = false;  // false: the live list could not be read
  int list_error_ = 0;
  std::vector<Drive> drives_;
};

}  // namespace cw
