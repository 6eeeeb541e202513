// Read-back verification of finished copies. A copy is read back from the disk, not from the
// page cache that still holds what was written: a copy of up to a megabyte is read with
// direct I/O where the file system allows it (the system writes what is still cached first,
// then reads the disk itself, with no round trip through the cache); a larger one, or one on a
// file system without direct reads, is first written out (a page that is still dirty cannot be
// dropped) and its cached pages dropped before it is read with the system's read-ahead.
// Either way it is hashed and the hash compared with the one of the bytes that went into it,
// and its pages are dropped from the cache afterwards.
//
// A run's copies are read back on two threads of their own while the run copies the next files,
// so that reading back costs little more than the time the disk needs for it; a copy that the
// run is about to change (XMP merged into a JPEG, GPS tags written) is read back at once. The
// results are handed back to the run's own thread, which records them.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "database/ledger_store.h"
#include "foundation/content_hash.h"

namespace cw {

struct VerifyJob {
  std::string path;
  Hash128 expected;
  std::size_t entry = 0;  // which copy of the run it is (see RunLedger)
  std::size_t copy = 0;
};

enum class VerifyOutcome { kMatch, kMismatch, kUnreadable };

struct VerifyResult {
  VerifyJob job;
  VerifyOutcome outcome = VerifyOutcome::kUnreadable;
  int error = 0;  // errno of an unreadable copy
  // The file's fingerprint as the read began, and the real time just before it was taken.
  std::optional<Fingerprint> fingerprint;
  std::int64_t fingerprint_taken_ns = 0;
};

// Reads one copy back from the disk (through the system-call table) and compares its hash.
// `buffer` holds `size` bytes; both are multiples of kReadBackAlignment for direct reads
// (a buffer that is not is read through the cache).
inline constexpr std::size_t kReadBackAlignment = 4096;
VerifyResult read_back(const VerifyJob& job, char* buffer, std::size_t size);

class CopyVerifier {
 public:
  CopyVerifier() = default;
  // Drops the jobs not started and waits for the one under way.
  ~CopyVerifier();
  CopyVerifier(const CopyVerifier&) = delete;
  CopyVerifier& operator=(const CopyVerifier&) = delete;

  // Queues a copy; the threads start with the first one.
  void submit(VerifyJob job);
  // Reads one copy back now, on the calling thread.
  VerifyResult verify_now(const VerifyJob& job);
  // The results finished so far, taken.
  std::vector<VerifyResult> take_results();
  // Waits until every queued copy is read back, then takes the results.
  std::vector<VerifyResult> finish();
  // True while copies are queued or being read.
  bool busy();

 private:
  void work();

  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::condition_variable settle_;  // a reader waiting for a copy's times to settle; quit
  std::deque<VerifyJob> jobs_;
  std::vector<VerifyResult> results_;
  int working_ = 0;  // copies being read back
  bool quit_ = false;
  std::vector<std::thread> threads_;
  struct FreeBuffer {
    void operator()(char* p) const;
  };
  std::unique_ptr<char[], FreeBuffer> own_buffer_;  // the caller's, for verify_now
};

}  // namespace cw
