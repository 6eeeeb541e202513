// The read-back of copies and its thread.
#include "ingest/copy_verifier.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cstdlib>

#include "foundation/sysio.h"

namespace cw {

namespace {

constexpr std::size_t kReadBackBuffer = 1048576;
// Largest copy read back with direct reads (in one read of the buffer).
constexpr std::uint64_t kDirectReadMax = kReadBackBuffer;
// Two copies read back at once keep a disk's queue fuller than one: the read-back then keeps
// up with the copying.
constexpr std::size_t kReaders = 2;

bool aligned(const char* buffer, std::size_t size) {
  return reinterpret_cast<std::uintptr_t>(buffer) % kReadBackAlignment == 0 &&
         size % kReadBackAlignment == 0;
}

}  // namespace

VerifyResult read_back(const VerifyJob& job, char* buffer, std::size_t size) {
  VerifyResult result;
  result.job = job;
  if (!buffer || size == 0) {
    result.error = ENOMEM;
    return result;
  }
  const bool may_go_direct = aligned(buffer, size);
  UniqueFd fd(sysio().open(job.path.c_str(), O_RDONLY | O_CLOEXEC | (may_go_direct ? O_DIRECT : 0),
                           0));
  // A file system that refuses direct reads, at the open or at the first read, is read
  // through the cache.
  if (!fd.valid() && may_go_direct && errno == EINVAL)
    fd.reset(sysio().open(job.path.c_str(), O_RDONLY | O_CLOEXEC, 0));
  if (!fd.valid()) {
    result.error = errno;
    return result;
  }
  const auto read_through_cache = [&fd] {
    const int flags = ::fcntl(fd.get(), F_GETFL);
    return flags >= 0 && ::fcntl(fd.get(), F_SETFL, flags & ~O_DIRECT) == 0 &&
           ::lseek(fd.get(), 0, SEEK_SET) == 0;
  };
  bool direct = (::fcntl(fd.get(), F_GETFL) & O_DIRECT) != 0;
  // The fingerprint is taken before the first byte is read: a write during or after the read
  // then changes the file's times from those recorded.
  const std::int64_t now = real_time_ns();
  struct stat st;
  const bool have_stat = sysio().fstat(fd.get(), &st) == 0;
  if (have_stat) {
    result.fingerprint = fingerprint_of(st);
    result.fingerprint_taken_ns = now;
  }
  // A large copy is read through the cache all the same: the system's read-ahead keeps the
  // disk busier than one direct read after another.
  if (direct && (!have_stat || static_cast<std::uint64_t>(st.st_size) > kDirectReadMax))
    direct = !read_through_cache();
  ContentHasher hasher;
  if (direct && !hash_fd(fd.get(), hasher, buffer, size)) {
    if (errno != EINVAL || !read_through_cache()) {
      result.error = errno;
      return result;
    }
    direct = false;
    hasher.reset();
  }
  if (!direct) {
    // Both calls are requests the system may decline (a file system without a page cache of
    // its own); the read then comes from wherever the system keeps the bytes.
    ::sync_file_range(
        fd.get(), 0, 0,
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    if (!hash_fd(fd.get(), hasher, buffer, size)) {
      result.error = errno;
      return result;
    }
  }
  // The copy's pages leave the cache too: the copies of a large card would otherwise push the
  // card's own pages out.
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
  result.outcome =
      hasher.digest() == job.expected ? VerifyOutcome::kMatch : VerifyOutcome::kMismatch;
  return result;
}

CopyVerifier::~CopyVerifier() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    jobs_.clear();
  }
  wake_.notify_all();
  settle_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void CopyVerifier::submit(VerifyJob job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
    if (threads_.empty())
      for (std::size_t i = 0; i < kReaders; ++i) threads_.emplace_back(&CopyVerifier::work, this);
  }
  wake_.notify_one();
}

void CopyVerifier::FreeBuffer::operator()(char* p) const { std::free(p); }

VerifyResult CopyVerifier::verify_now(const VerifyJob& job) {
  if (!own_buffer_)
    own_buffer_.reset(static_cast<char*>(std::aligned_alloc(kReadBackAlignment, kReadBackBuffer)));
  if (!own_buffer_) {
    VerifyResult result;
    result.job = job;
    result.error = ENOMEM;
    return result;
  }
  return read_back(job, own_buffer_.get(), kReadBackBuffer);
}

std::vector<VerifyResult> CopyVerifier::take_results() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<VerifyResult> out;
  out.swap(results_);
  return out;
}

std::vector<VerifyResult> CopyVerifier::finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return jobs_.empty() && working_ == 0; });
  std::vector<VerifyResult> out;
  out.swap(results_);
  return out;
}

bool CopyVerifier::busy() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !jobs_.empty() || working_ > 0;
}

void CopyVerifier::work() {
  const std::unique_ptr<char[], FreeBuffer> buffer(
      static_cast<char*>(std::aligned_alloc(kReadBackAlignment, kReadBackBuffer)));
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
    if (quit_) break;
    VerifyJob job = std::move(jobs_.front());
    jobs_.pop_front();
    ++working_;
    // A copy written a moment ago is read once a tick of the file system's clock has passed
    // since, so that the fingerprint the read-back takes can stand for it later (ledger_store.h):
    // the readers lag the copying by that much at most, and the copying never waits for them.
    lock.unlock();
    struct stat st;
    if (sysio().lstat(job.path.c_str(), &st) == 0)
      if (const std::int64_t wait = fingerprint_settle_wait_ns(fingerprint_of(st), real_time_ns())) {
        lock.lock();
        settle_.wait_for(lock, std::chrono::nanoseconds(wait), [this] { return quit_; });
        lock.unlock();
      }
    VerifyResult result = read_back(job, buffer.get(), kReadBackBuffer);
    lock.lock();
    --working_;
    results_.push_back(std::move(result));
    if (jobs_.empty() && working_ == 0) idle_.notify_all();
  }
  idle_.notify_all();
}

}  // namespace cw
