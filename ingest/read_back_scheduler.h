// The read-backs of a batch's copies, scheduled per destination disk. Every run of a batch
// (one card, or eight at once) hands the copies it wrote here; they are read from the disk
// that holds them (the device of their file system, st_dev), each disk with its own bounded
// number of reads in flight, whatever the number of runs writing to it. Eight slots writing
// to one disk thus share one queue of a fixed depth instead of each keeping its own readers
// and thrashing the disk between them; two disks are read side by side.
//
// A disk's reads are made through io_uring where the system offers it, by two threads that
// share the disk's pieces (so that hashing what comes back does not wait for one processor):
// the copies are read with direct I/O (past the page cache, so the bytes hashed come from the
// disk) in 1 MiB pieces, several pieces of several copies in flight at once, and each copy
// hashed in order as its pieces arrive. Where io_uring cannot be set up (a kernel without it,
// a container's system-call filter), or is switched off, the disk gets as many threads as it
// would have reads in flight, each reading one copy after another with read_back().
//
// A copy is read once a tick of the file system's clock has passed since it was written (its
// fingerprint can then stand for it later, ledger_store.h), and a moment later still unless
// its run waits for it (Settings::gather); the copying never waits for the reads. Results go
// to the submitting run's ReadBackSink, taken on the run's own thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "ingest/copy_verifier.h"

namespace cw {

// The results of one run's read-backs, and how many are still to come. Shared between the
// run and the scheduler, so a read finishing after its run has gone lands nowhere harmful.
class ReadBackSink {
 public:
  // Counts a read to come.
  void expect();
  // A read's result, or (with nothing) a read dropped before it started.
  void deliver(std::optional<VerifyResult> result);
  // The results so far, taken; with `wait`, once every expected read has come.
  std::vector<VerifyResult> take(bool wait);
  bool busy();

 private:
  std::mutex mutex_;
  std::condition_variable idle_;
  std::vector<VerifyResult> results_;
  std::size_t outstanding_ = 0;
};

class ReadBackScheduler {
 public:
  // How a disk's reads are made, and how many it has in flight.
  enum class Method { kRing, kThreads };
  struct Settings {
    // Reads in flight per disk: pieces of 1 MiB on the rings, copies with threads.
    std::size_t depth = 8;
    // False: threads only, as where io_uring cannot be set up.
    bool allow_ring = true;
    // How long a copy waits in its disk's queue for others to join it before it is read,
    // unless its run waits for its results or the queue holds the disk's depth of copies.
    // Taken one by one as they are written, the readers would be woken for every copy, each
    // time taking a processor from the copying for a moment; gathered, they are woken once
    // for several.
    std::chrono::milliseconds gather{2};
    // The processors the readers run on; empty: those of the thread that makes a disk's
    // readers.
    std::vector<int> processors;
  };

  ReadBackScheduler();
  explicit ReadBackScheduler(Settings settings);
  // Drops the reads not started and waits for those under way.
  ~ReadBackScheduler();
  ReadBackScheduler(const ReadBackScheduler&) = delete;
  ReadBackScheduler& operator=(const ReadBackScheduler&) = delete;

  // Queues the read-back of `job` on the disk that holds it; its result goes to `sink`. A copy
  // that cannot even be looked at is reported unreadable at once.
  void submit(VerifyJob job, const std::shared_ptr<ReadBackSink>& sink);
  // Has the queued reads of `sink` made as soon as they may be, without waiting for others to
  // join them (its run now waits for their results).
  void hurry(const ReadBackSink& sink);
  // Drops the queued reads of `sink` (their results never come; the sink is told).
  void cancel(const ReadBackSink* sink);
  // How the disk `device` is read, once a copy on it was submitted.
  std::optional<Method> method_of(dev_t device);

 private:
  struct Disk;

  Settings settings_;
  std::mutex mutex_;
  std::map<dev_t, std::unique_ptr<Disk>> disks_;
};

}  // namespace cw
