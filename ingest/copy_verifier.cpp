// The read-back of one copy, and a run's queue of copies to read back.
#include "ingest/copy_verifier.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "foundation/sysio.h"
#include "ingest/read_back_scheduler.h"

namespace cw {

namespace {

constexpr std::size_t kReadBackBuffer = 1048576;

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
  if (sysio().fstat(fd.get(), &st) == 0) {
    result.fingerprint = fingerprint_of(st);
    result.fingerprint_taken_ns = now;
  }
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

CopyVerifier::CopyVerifier() : sink_(std::make_shared<ReadBackSink>()) {}

CopyVerifier::~CopyVerifier() {
  if (scheduler_) scheduler_->cancel(sink_.get());
  sink_->take(true);
}

void CopyVerifier::use(std::shared_ptr<ReadBackScheduler> scheduler) {
  scheduler_ = std::move(scheduler);
}

void CopyVerifier::submit(VerifyJob job) {
  if (!scheduler_) scheduler_ = std::make_shared<ReadBackScheduler>();
  scheduler_->submit(std::move(job), sink_);
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

std::vector<VerifyResult> CopyVerifier::take_results() { return sink_->take(false); }

std::vector<VerifyResult> CopyVerifier::finish() { return sink_->take(true); }

bool CopyVerifier::busy() { return sink_->busy(); }

}  // namespace cw
