// A small pool of worker threads, one for each processor the process may run on, that runs
// jobs in the order they were queued. An ingestion run uses one to verify its copies (decode
// JPEGs, unpack raws) while it goes on copying: decoding is processor work, copying mostly
// waits on the disks, so the two overlap.
//
// Jobs carry their own state and report back through it; the pool knows nothing of them.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace cw {

// Processors this process may run on (its affinity mask), at least 1.
unsigned processors_available();

class WorkerPool {
 public:
  explicit WorkerPool(unsigned workers = processors_available());
  // Jobs not started yet are dropped; running ones are waited for.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues a job (runs it at once when no worker thread could be started).
  void submit(std::function<void()> job);

 private:
  void work();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace cw
