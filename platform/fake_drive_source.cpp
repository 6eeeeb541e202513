// The made-up drive list.
#include "platform/fake_drive_source.h"

#include <algorithm>
#include <cerrno>

namespace cw {

std::optional<std::vector<std::string>> FakeDriveSource::roots() {
  if (list_error != 0) {
    errno = list_error;
    return std::nullopt;
  }
  std::vector<std::string> list;
  for (const FakeDrive& d : drives) list.push_back(d.root);
  return list;
}

const FakeDrive* FakeDriveSource::find(const std::string& root) const {
  for (const FakeDrive& d : drives)
    if (d.root == root) return &d;
  return nullptr;
}

bool FakeDriveSource::has_dcim(const std::string& root) {
  const FakeDrive* d = find(root);
  return d && d->dcim;
}

VolumeInfo FakeDriveSource::volume_info(const std::string& root) {
  const FakeDrive* d = find(root);
  if (!d) return {VolumeStatus::kNotReady, "", ENOENT};
  return d->volume;
}

DeviceRecord FakeDriveSource::device_record(const std::string& root) {
  const FakeDrive* d = find(root);
  if (!d) return {DeviceStatus::kMissing, "", "", 0};
  return d->device;
}

FakeDrive& FakeDriveSource::add_card(const std::string& root, const std::string& volume_name,
                                     const std::string& vendor, const std::string& product) {
  FakeDrive& d = add_drive(root);
  d.dcim = true;
  d.volume.name = volume_name;
  d.device.vendor = vendor;
  d.device.product = product;
  return d;
}

FakeDrive& FakeDriveSource::add_drive(const std::string& root) {
  drives.push_back(FakeDrive{root, false, {}, {}});
  return drives.back();
}

void FakeDriveSource::remove(const std::string& root) {
  std::erase_if(drives, [&](const FakeDrive& d) { return d.root == root; });
}

}  // namespace cw
