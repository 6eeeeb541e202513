// The processor split of a run copying alone.
#include "ingest/processor_split.h"

#include <algorithm>
#include <utility>

#include "platform/processors.h"

namespace cw {

int quietest_processor(const std::vector<int>& processors,
                       const std::vector<std::uint64_t>& interrupts) {
  int best = -1;
  std::uint64_t fewest = 0;
  for (const int cpu : processors) {
    const auto at = static_cast<std::size_t>(cpu);
    const std::uint64_t n = cpu >= 0 && at < interrupts.size() ? interrupts[at] : 0;
    if (best < 0 || n < fewest) {
      best = cpu;
      fewest = n;
    }
  }
  return best;
}

ProcessorSplit::ProcessorSplit() : all_(allowed_processors()), copying_processor_(-1) {}

ProcessorSplit::ProcessorSplit(std::vector<int> processors, int copying)
    : all_(std::move(processors)), copying_processor_(copying) {}

ProcessorSplit::Copying ProcessorSplit::begin_copying() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (++copying_runs_ > 1) {
    give_back_locked();
    return Copying(this, 0);
  }
  if (all_.size() < 2) return Copying(this, 0);
  // Read once: which processor serves the devices does not change while the program runs.
  if (copying_processor_ < 0)
    copying_processor_ = quietest_processor(all_, device_interrupts_per_processor());
  const pid_t thread = current_thread_id();
  if (!confine_thread(thread, {copying_processor_})) return Copying(this, 0);
  confined_.push_back(thread);
  standing_ = ++last_;
  return Copying(this, standing_);
}

void ProcessorSplit::end_copying(std::uint64_t split) {
  std::lock_guard<std::mutex> lock(mutex_);
  --copying_runs_;
  if (split != 0 && split == standing_) give_back_locked();
}

ProcessorSplit::Helper ProcessorSplit::join(std::uint64_t split) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (split == 0 || split != standing_) return {};
  std::vector<int> helpers;
  for (const int cpu : all_)
    if (cpu != copying_processor_) helpers.push_back(cpu);
  const pid_t thread = current_thread_id();
  if (!confine_thread(thread, helpers)) return {};
  confined_.push_back(thread);
  return Helper(this, Leave{thread});
}

void ProcessorSplit::leave(pid_t thread) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = std::find(confined_.begin(), confined_.end(), thread);
  if (it == confined_.end()) return;  // given back already
  confined_.erase(it);
  confine_thread(thread, all_);
}

void ProcessorSplit::give_back_locked() {
  for (const pid_t thread : confined_) confine_thread(thread, all_);
  confined_.clear();
  standing_ = 0;
}

ProcessorSplit::Helper ProcessorSplit::Helpers::join() const {
  return owner ? owner->join(split) : Helper();
}

bool ProcessorSplit::Copying::split() const {
  const std::uint64_t id = lease_.get_deleter().split;
  if (!lease_ || id == 0) return false;
  std::lock_guard<std::mutex> lock(lease_->mutex_);
  return id == lease_->standing_;
}

}  // namespace cw
