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

void FlushAhead::wrote(std::uint64_t bytes, const DiskFlush& noted) {
  unflushed_ += bytes;
  if (unflushed_ < step_ || running_.load(std::memory_order_acquire)) return;
  std::vector<std::pair<dev_t, std::string>> taken;
  for (const auto& [device, folder] : noted.noted())
    if (!gate_ || gate_->take(device)) taken.emplace_back(device, folder);
  if (taken.empty()) return;
  auto give_back = [this](const std::vector<std::pair<dev_t, std::string>>& systems) {
    if (gate_)
      for (const auto& system : systems) gate_->give_back(system.first);
  };
  if (thread_.joinable()) thread_.join();  // ended already: it said so last
  running_.store(true, std::memory_order_relaxed);
  try {
    thread_ = std::jthread([this, give_back, taken] {
      for (const auto& system : taken) sync_(system.second);
      give_back(taken);
      running_.store(false, std::memory_order_release);
    });
  } catch (const std::system_error&) {
    // No thread: the phase's own flush writes it all.
    give_back(taken);
    running_.store(false, std::memory_order_relaxed);
    return;
  }
  unflushed_ = 0;
}

}  // namespace cw
