// A drive source that serves a list the caller makes up: roots with or without a DCIM folder,
// volume names and failures, device records and their failures. Tests of card detection and
// of the card monitor use it; its roots may carry drive letters ("E:\").
#pragma once

#include <string>
#include <vector>

#include "platform/drive_source.h"

namespace cw {

struct FakeDrive {
  std::string root;
  bool dcim = false;
  VolumeInfo volume;
  DeviceRecord device;
};

class FakeDriveSource : public DriveSource {
 public:
  std::optional<std::vector<std::string>> roots() override;
  bool has_dcim(const std::string& root) override;
  VolumeInfo volume_info(const std::string& root) override;
  DeviceRecord device_record(const std::string& root) override;

  // A card: a root with a DCIM folder, the volume name, a found device record. The returned
  // reference, for changing the drive further, holds until the next drive is added.
  FakeDrive& add_card(const std::string& root, const std::string& volume_name = "",
                      const std::string& vendor = "", const std::string& product = "");
  // A drive without a DCIM folder.
  FakeDrive& add_drive(const std::string& root);
  // Takes a root off the list (a card pulled out).
  void remove(const std::string& root);

  std::vector<FakeDrive> drives;
  int list_error = 0;  // non-zero: roots() fails with this errno value

 private:
  const FakeDrive* find(const std::string& root) const;
};

}  // namespace cw
