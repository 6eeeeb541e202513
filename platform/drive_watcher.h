// Card arrival and removal: the drive list is compared with the one seen before, and every
// root that appeared or went away becomes a notification. The front end waits on fd() (for
// POLLPRI, e.g. with a socket notifier) or calls wait() on a thread or in its loop, then
// takes the changes.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/drive_source.h"

namespace cw {

enum class MediaEvent { kInserted, kRemoved };

struct MediaNotification {
  MediaEvent event = MediaEvent::kInserted;
  std::string path;  // the root that arrived or went away
};

class DriveWatcher {
 public:
  // Takes the source's list as it is now as the starting point (an unreadable list counts as
  // empty).
  explicit DriveWatcher(DriveSource& source);

  // The source's change descriptor (POLLPRI), or -1 when only looking again tells.
  int fd() const { return source_.change_fd(); }
  // Waits at most `timeout` for a sign of change. True when the list should be read again:
  // the descriptor signalled, or the source cannot signal and the time has passed.
  bool wait(std::chrono::milliseconds timeout);
  // Reads the list again and returns what changed since the last look: removals first, in
  // the old order, then arrivals in list order. Nothing when the list cannot be read.
  std::vector<MediaNotification> take_changes();

 private:
  DriveSource& source_;
  std::vector<std::string> known_;
};

}  // namespace cw
