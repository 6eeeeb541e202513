// Arrival and removal as the difference of two drive lists.
#include "platform/drive_watcher.h"

#include <poll.h>

#include <algorithm>
#include <thread>

namespace cw {

namespace {

bool contains(const std::vector<std::string>& list, const std::string& root) {
  return std::find(list.begin(), list.end(), root) != list.end();
}

}  // namespace

DriveWatcher::DriveWatcher(DriveSource& source) : source_(source) {
  if (auto list = source_.roots()) known_ = std::move(*list);
}

bool DriveWatcher::wait(std::chrono::milliseconds timeout) {
  int fd = source_.change_fd();
  if (fd < 0) {
    std::this_thread::sleep_for(timeout);
    return true;
  }
  struct pollfd p {fd, POLLPRI, 0};
  int n = poll(&p, 1, static_cast<int>(timeout.count()));
  return n > 0 && (p.revents & (POLLPRI | POLLERR)) != 0;
}

std::vector<MediaNotification> DriveWatcher::take_changes() {
  std::vector<MediaNotification> changes;
  auto list = source_.roots();
  if (!list) return changes;
  for (const std::string& root : known_)
    if (!contains(*list, root)) changes.push_back({MediaEvent::kRemoved, root});
  for (const std::string& root : *list)
    if (!contains(known_, root)) changes.push_back({MediaEvent::kInserted, root});
  known_ = std::move(*list);
  return changes;
}

}  // namespace cw
