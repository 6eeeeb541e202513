// Earlier copies read back ahead of the run, when every copy of an earlier run is to be read
// again (`reverify`). The run would otherwise read each copy only after it has hashed the
// card's file and found its entry, one file after the other. Before the card's file is hashed,
// the copies the ledger records of files of its size and modification time are queued here,
// and two threads of their own read them from the disk (as a read-back does, the pages dropped
// from the cache afterwards) while the run hashes the card's files.
//
// A read ahead proves nothing by itself: the run takes its result only for the copy it checks
// (same path, same recorded hash) and only when the file's fingerprint is still the one taken
// as the read began, settled then; otherwise it reads the copy itself, as without this.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "database/ledger_store.h"
#include "ingest/copy_verifier.h"

namespace cw {

struct RunOptions;
struct RunState;

class ReadAhead {
 public:
  ReadAhead() = default;
  // Drops the reads not started and waits for those under way.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Queues the read of the file at `path`, expected to hash to `expected`; nothing when that
  // path was queued before. The threads start with the first one.
  void queue(const std::string& path, const Hash128& expected);
  // The read of `path`, taken: waited for when under way; nothing when it was never queued or
  // not started yet (it is then dropped: the caller reads the file itself at once).
  std::optional<VerifyResult> take(const std::string& path);

  // The copies the ledger records of the card's files (by size and modification time), and
  // how far the run has queued their reads (an index into the run's images).
  std::multimap<std::pair<std::uint64_t, std::int64_t>, RecordedCopy> recorded;
  std::size_t next_image = 0;

 private:
  enum class Stage { kQueued, kReading, kDone };
  struct Read {
    Stage stage = Stage::kQueued;
    VerifyResult result;
  };
  void work();

  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::deque<VerifyJob> jobs_;
  std::map<std::string, Read> reads_;
  bool quit_ = false;
  std::vector<std::thread> threads_;
};

// With `reverify` (and read-backs, and a ledger in a database), sets up the run's reads ahead
// for its images; otherwise none.
void start_read_ahead(const RunOptions& options, RunState& state);
// Queues the reads of the earlier copies of the run's images from `image` on, a few images
// ahead of it, in the trees the run checks.
void read_ahead_from(const RunOptions& options, RunState& state, std::size_t image);

}  // namespace cw
