// Read-back verification of finished copies. A copy is read back from the disk, not from the
// page cache that still holds what was written: with direct I/O where the file system allows
// it (the system writes what is still cached first, then reads the disk itself, with no round
// trip through the cache); on a file system without direct reads it is first written out (a
// page that is still dirty cannot be dropped) and its cached pages dropped before it is read.
// Either way it is hashed and the hash compared with the one of the bytes that went into it,
// and its pages are dropped from the cache afterwards.
//
// A run's copies are read back by its batch's read-back scheduler (read_back_scheduler.h) while
// the run copies the next files, so that reading back costs little more than the time the disk
// needs for it; a copy that the run is about to change (XMP merged into a JPEG, GPS tags
// written) is read back at once. The results are handed back to the run's own thread, which
// records them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "database/ledger_store.h"
#include "foundation/content_hash.h"

namespace cw {

struct VerifyJob {
  std::string path;
  Hash128 expected;
  std::size_t entry = 0;  // which copy of the run it is (see RunLedger)
  std::size_t copy = 0;
  // The copy's fingerprint as it was named, when the copying read it then: the read-back is
  // scheduled from it instead of from a lookup of the path.
  std::optional<Fingerprint> named;
};

enum class VerifyOutcome { kMatch, kMismatch, kUnreadable };

struct VerifyResult {
  VerifyJob job;
  VerifyOutcome outcome = VerifyOutcome::kUnreadable;
  int error = 0;  // errno of an unreadable copy
  // The file's fingerprint as the read began, and the real time just before it was taken.
  std::optional<Fingerprint> fingerprint;
  std::int64_t fingerprint_taken_ns = 0;
  // The tick of its file system's clock (change_time_tick_ns).
  std::int64_t fingerprint_tick_ns = kFingerprintSettleNs;
};

// Reads one copy back from the disk (through the system-call table) and compares its hash.
// `buffer` holds `size` bytes; both are multiples of kReadBackAlignment for direct reads
// (a buffer that is not is read through the cache).
inline constexpr std::size_t kReadBackAlignment = 4096;
VerifyResult read_back(const VerifyJob& job, char* buffer, std::size_t size);

// Memory for direct reads: at least `size` bytes, aligned for them, on huge pages where the
// system grants them. A direct read goes to the disk as one request per stretch of contiguous
// memory the device takes at once; a megabyte on scattered small pages is one page too many
// for a common device and goes as a long request plus a tiny one, which costs the disk
// nearly as much again, while a megabyte within a huge page is one request. Empty when no
// memory is left. With `huge` false the memory is asked for on huge pages only later
// (use_huge_pages): a huge page is cleared whole when it is first touched, which costs
// more than reading a small copy into it.
struct ReadBackUnmap {
  std::size_t length = 0;
  void operator()(char* p) const;
};
struct ReadBackMemory {
  std::unique_ptr<char[], ReadBackUnmap> bytes;
  char* get() const { return bytes.get(); }
  // Gives the pages back to the system; they come back zeroed when next written.
  void release_pages() const;
  // Asks for huge pages from now on; the stretches already touched keep their small pages.
  void use_huge_pages() const;
  explicit operator bool() const { return bytes != nullptr; }
};
ReadBackMemory read_back_memory(std::size_t size, bool huge = true);

// Opens `result.job`'s copy to be read back: with direct reads when `direct` asks for them and
// the file system allows them, else through the cache. The fingerprint (and the size, when
// `size` is given) is taken before the first byte is read, so that a write during or after
// the read changes the file's times from those recorded. -1 with `result.error` set when the
// copy cannot be opened.
int open_for_read_back(VerifyResult& result, bool direct, std::uint64_t* size = nullptr);
// Writes out what of the copy is still cached and drops its pages, so that a read through the
// cache reaches the disk. Both are requests the system may decline (a file system without a
// page cache of its own); the read then comes from wherever the system keeps the bytes.
void drop_cached_pages(int fd);

class ReadBackScheduler;
class ReadBackSink;

class CopyVerifier {
 public:
  CopyVerifier();
  // Drops the jobs not started and waits for those under way.
  ~CopyVerifier();
  CopyVerifier(const CopyVerifier&) = delete;
  CopyVerifier& operator=(const CopyVerifier&) = delete;

  // Reads the copies back through `scheduler`, shared with the other runs of the batch; set
  // before the first copy is queued. Without one, the verifier makes its own.
  void use(std::shared_ptr<ReadBackScheduler> scheduler);
  // Queues a copy.
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
  std::shared_ptr<ReadBackScheduler> scheduler_;
  std::shared_ptr<ReadBackSink> sink_;
  ReadBackMemory own_buffer_;  // the caller's, for verify_now
};

}  // namespace cw
