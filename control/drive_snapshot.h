// The drives as they were at one moment, read once from a live drive source and then answered
// from memory. A desktop program reads the drives on a worker thread (a card that does not
// answer must never freeze a window) and hands the snapshot to its window, where card
// detection and the card monitor's Refresh run on it without touching a disk.
//
// DriveWatch is the session's drive source as one thread watches it: what arrived and went
// away since the last look, and snapshots. The desktop program's drive worker and `cardwright
// watch` stand on it.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/drive_source.h"
#include "platform/drive_watcher.h"

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
  // A list made up by the caller (a demonstration, a test), answered as if read.
  static DriveSnapshot of(std::vector<Drive> drives);

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

class DriveWatch {
 public:
  // Watches `source` from the list it holds now (see DriveWatcher).
  explicit DriveWatch(std::unique_ptr<DriveSource> source);
  DriveWatch(const DriveWatch&) = delete;
  DriveWatch& operator=(const DriveWatch&) = delete;

  // Waits at most `timeout` for a sign of change; true when the list should be read again.
  bool wait(std::chrono::milliseconds timeout) { return watcher_.wait(timeout); }
  // What arrived and went away since the last look.
  std::vector<MediaNotification> take_changes() { return watcher_.take_changes(); }
  // The drives now.
  DriveSnapshot snapshot() { return DriveSnapshot::take(*source_); }
  // The live source, for card detection on this thread.
  DriveSource& source() { return *source_; }

 private:
  std::unique_ptr<DriveSource> source_;
  DriveWatcher watcher_;
};

}  // namespace cw
