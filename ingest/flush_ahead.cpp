// Flushing ahead of a phase's end (see flush_ahead.h).
#include "ingest/flush_ahead.h"

#include <fcntl.h>
#include <unistd.h>

#include <system_error>
#include <utility>
#include <vector>

#include "ingest/staged_file.h"

namespace cw {

void sync_file_system(const std::string& folder) {
  // Straight system calls, the descriptor's close included, rather than the run's I/O layer:
  // nothing this sync meets is reported or relied upon, and the thread that makes it must
  // not use what the run's thread may replace meanwhile.
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::syncfs(fd);
  ::close(fd);
}

bool FlushAheadGate::take(dev_t device) {
  std::lock_guard lock(mutex_);
  return busy_.insert(device).second;
}

void FlushAheadGate::give_back(dev_t device) {
  std::lock_guard lock(mutex_);
  busy_.erase(device);
}

FlushAhead::~FlushAhead() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  asked_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void FlushAhead::give_back(const Systems& systems) {
  if (gate_)
    for (const auto& system : systems) gate_->give_back(system.first);
}

void FlushAhead::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    // A flush asked for before the end is still made: the end waits for it.
    asked_.wait(lock, [this] { return quit_ || !asked_systems_.empty(); });
    if (asked_systems_.empty()) return;
    const Systems systems = std::move(asked_systems_);
    asked_systems_.clear();
    lock.unlock();
    for (const auto& system : systems) sync_(system.second);
    give_back(systems);
    running_.store(false, std::memory_order_release);
    lock.lock();
  }
}

void FlushAhead::wrote(std::uint64_t bytes, const DiskFlush& noted) {
  unflushed_ += bytes;
  if (unflushed_ < step_ || running_.load(std::memory_order_acquire)) return;
  Systems taken;
  for (const auto& [device, folder] : noted.noted())
    if (!gate_ || gate_->take(device)) taken.emplace_back(device, folder);
  if (taken.empty()) return;
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { work(); });
    } catch (const std::system_error&) {
      // No thread: the phase's own flush writes it all.
      give_back(taken);
      return;
    }
  }
  running_.store(true, std::memory_order_relaxed);
  {
    std::lock_guard lock(mutex_);
    asked_systems_ = std::move(taken);
  }
  asked_.notify_one();
  unflushed_ = 0;
}

}  // namespace cw
