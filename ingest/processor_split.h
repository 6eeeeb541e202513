// Which processors the threads of the runs copying at once run on.
//
// For every image, a run's copying thread and the threads that prepare images ahead of it
// (naming, sidecars) hand work to each other. A scheduler that packs threads onto few
// processors, as a virtual machine's does, wakes such a helper on the processor of the thread
// that woke it, where the two then take turns while another processor idles. So while one run
// copies alone and the process may use two processors or more, the split gives its copying
// thread one processor and its helpers the others: the copying gets the processor that has
// served the fewest device interrupts (a disk's completions then interrupt the helpers, not
// the copying). Once a second run begins to copy, every thread of the split gets all the
// processors back, and runs side by side share them as the scheduler sees fit. The threads
// that read the copies back are no helpers: they keep all the processors.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace cw {

// Of `processors`, the one that served the fewest of `interrupts` (indexed by processor, as
// device_interrupts_per_processor gives them; a processor past its end counts none); the
// first one on a tie. -1 when `processors` is empty.
int quietest_processor(const std::vector<int>& processors,
                       const std::vector<std::uint64_t>& interrupts);

class ProcessorSplit {
 public:
  // Shares out the processors the calling thread may use; the copying takes the quietest.
  ProcessorSplit();
  // Shares out `processors`; the copying takes `copying`, one of them.
  ProcessorSplit(std::vector<int> processors, int copying);
  ProcessorSplit(const ProcessorSplit&) = delete;
  ProcessorSplit& operator=(const ProcessorSplit&) = delete;

  // Gives a helper thread all the processors back when destroyed (on that thread).
  struct Leave {
    pid_t thread;
    void operator()(ProcessorSplit* owner) const { owner->leave(thread); }
  };
  // A helper thread's place in the split; null when the thread was not confined.
  using Helper = std::unique_ptr<ProcessorSplit, Leave>;

  // What a run's helper threads need to join its split: a value, taken by each helper thread
  // when it is made.
  struct Helpers {
    ProcessorSplit* owner = nullptr;
    std::uint64_t split = 0;  // 0: nothing to join
    // Called first on a helper thread: it runs on the helpers' processors while the split
    // stands, and on all of them again once the returned value is destroyed (on that thread).
    Helper join() const;
  };

  // A run's copying, from its beginning on the copying thread to its destruction there.
  class Copying {
   public:
    Copying() = default;
    Helpers helpers() const { return {lease_.get(), lease_.get_deleter().split}; }
    // Whether this run's copying has a processor of its own now.
    bool split() const;

   private:
    friend class ProcessorSplit;
    struct End {
      std::uint64_t split;  // 0: the run copies beside others, nothing confined
      void operator()(ProcessorSplit* owner) const { owner->end_copying(split); }
    };
    Copying(ProcessorSplit* owner, std::uint64_t split) : lease_(owner, End{split}) {}
    std::unique_ptr<ProcessorSplit, End> lease_;  // null: nothing counted
  };

  // Called on a run's copying thread as its copying begins.
  Copying begin_copying();
  // Every processor shared out.
  const std::vector<int>& processors() const { return all_; }

 private:
  void end_copying(std::uint64_t split);
  Helper join(std::uint64_t split);
  void leave(pid_t thread);
  void give_back_locked();

  std::mutex mutex_;
  const std::vector<int> all_;
  int copying_processor_;  // -1 until first needed (ProcessorSplit())
  int copying_runs_ = 0;
  std::uint64_t standing_ = 0;  // the split that stands, 0 when none
  std::uint64_t last_ = 0;
  std::vector<pid_t> confined_;  // the threads running on part of the processors now
};

}  // namespace cw
