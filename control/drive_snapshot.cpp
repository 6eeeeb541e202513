// A drive list read once and answered from memory.
#include "control/drive_snapshot.h"

#include <cerrno>

namespace cw {

DriveSnapshot DriveSnapshot::take(DriveSource& live) {
  DriveSnapshot s;
  std::optional<std::vector<std::string>> roots = live.roots();
  if (!roots) {
    s.list_error_ = errno;
    return s;
  }
  s.listed_ = true;
  for (const std::string& root : *roots) {
    Drive d;
    d.root = root;
    d.dcim = live.has_dcim(root);
    d.volume = live.volume_info(root);
    d.device = live.device_record(root);
    s.drives_.push_back(std::move(d));
  }
  return s;
}

DriveSnapshot DriveSnapshot::of(std::vector<Drive> drives) {
  DriveSnapshot s;
  s.listed_ = true;
  s.drives_ = std::move(drives);
  return s;
}

DriveWatch::DriveWatch(std::unique_ptr<DriveSource> source)
    : source_(std::move(source)), watcher_(*source_) {}

const DriveSnapshot::Drive* DriveSnapshot::find(const std::string& root) const {
  for (const Drive& d : drives_)
    if (d.root == root) return &d;
  return nullptr;
}

std::optional<std::vector<std::string>> DriveSnapshot::roots() {
  if (!listed_) {
    errno = list_error_;
    return std::nullopt;
  }
  std::vector<std::string> out;
  for (const Drive& d : drives_) out.push_back(d.root);
  return out;
}

bool DriveSnapshot::has_dcim(const std::string& root) {
  const Drive* d = find(root);
  return d && d->dcim;
}

VolumeInfo DriveSnapshot::volume_info(const std::string& root) {
  const Drive* d = find(root);
  if (!d) return VolumeInfo{VolumeStatus::kNotReady, "", 0};
  return d->volume;
}

DeviceRecord DriveSnapshot::device_record(const std::string& root) {
  const Drive* d = find(root);
  if (!d) return DeviceRecord{DeviceStatus::kMissing, "", "", 0};
  return d->device;
}

}  // namespace cw
