// The read-back of one copy, and a run's queue of copies to read back.
#include "ingest/copy_verifier.h"

#include <fcntl.h>
#include <sys/mman.h>
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
constexpr std::size_t kHugePage = 2097152;

bool aligned(const char* buffer, std::size_t size) {
  return reinterpret_cast<std::uintptr_t>(buffer) % kReadBackAlignment == 0 &&
         size % kReadBackAlignment == 0;
}

}  // namespace

int open_for_read_back(VerifyResult& result, bool direct, std::uint64_t* size) {
  const char* path = result.job.path.c_str();
  UniqueFd fd(sysio().open(path, O_RDONLY | O_CLOEXEC | (direct ? O_DIRECT : 0), 0));
  // A file system that refuses direct reads at the open is read through the cache.
  if (!fd.valid() && direct && errno == EINVAL)
    fd.reset(sysio().open(path, O_RDONLY | O_CLOEXEC, 0));
  if (!fd.valid()) {
    result.error = errno;
    return -1;
  }
  const std::int64_t now = real_time_ns();
  struct stat st;
  if (sysio().fstat(fd.get(), &st) == 0) {
    result.fingerprint = fingerprint_of(st);
    result.fingerprint_taken_ns = now;
    result.fingerprint_tick_ns = change_time_tick_ns(fd.get());
    if (size) *size = static_cast<std::uint64_t>(st.st_size);
  }
  const int opened = fd.get();
  fd.release();
  return opened;
}

void drop_cached_pages(int fd) {
  ::sync_file_range(fd, 0, 0,
                    SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                        SYNC_FILE_RANGE_WAIT_AFTER);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
}

VerifyResult read_back(const VerifyJob& job, char* buffer, std::size_t size) {
  VerifyResult result;
  result.job = job;
  if (!buffer || size == 0) {
    result.error = ENOMEM;
    return result;
  }
  UniqueFd fd(open_for_read_back(result, aligned(buffer, size)));
  if (!fd.valid()) return result;
  // A file system that takes the flag but refuses direct reads at the first read is read
  // through the cache.
  const auto read_through_cache = [&fd] {
    const int flags = ::fcntl(fd.get(), F_GETFL);
    return flags >= 0 && ::fcntl(fd.get(), F_SETFL, flags & ~O_DIRECT) == 0 &&
           ::lseek(fd.get(), 0, SEEK_SET) == 0;
  };
  bool direct = (::fcntl(fd.get(), F_GETFL) & O_DIRECT) != 0;
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
    drop_cached_pages(fd.get());
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

void ReadBackUnmap::operator()(char* p) const { ::munmap(p, length); }

void ReadBackMemory::release_pages() const {
  if (bytes) ::madvise(bytes.get(), bytes.get_deleter().length, MADV_DONTNEED);
}

void ReadBackMemory::use_huge_pages() const {
  // Only advice: without huge pages the memory is small pages, read as before.
  if (bytes) ::madvise(bytes.get(), bytes.get_deleter().length, MADV_HUGEPAGE);
}

ReadBackMemory read_back_memory(std::size_t size, bool huge) {
  // Whole huge pages at a huge page's boundary: the mapping is made one page larger and the
  // parts outside the aligned stretch are given back.
  const std::size_t length = (size + kHugePage - 1) / kHugePage * kHugePage;
  void* mapped = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return {};
  char* const raw = static_cast<char*>(mapped);
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(raw);
  char* const start = raw + ((kHugePage - at % kHugePage) % kHugePage);
  const std::size_t before = static_cast<std::size_t>(start - raw);
  if (before > 0) ::munmap(raw, before);
  ::munmap(start + length, kHugePage - before);  // the rest of the page more: never empty
  ReadBackMemory memory;
  memory.bytes = std::unique_ptr<char[], ReadBackUnmap>(start, ReadBackUnmap{length});
  if (huge) memory.use_huge_pages();
  return memory;
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

VerifyResult CopyVerifier::verify_now(const VerifyJob& job) {
  if (!own_buffer_) own_buffer_ = read_back_memory(kReadBackBuffer);
  if (!own_buffer_) {
    VerifyResult result;
    result.job = job;
    result.error = ENOMEM;
    return result;
  }
  return read_back(job, own_buffer_.get(), kReadBackBuffer);
}

std::vector<VerifyResult> CopyVerifier::take_results() { return sink_->take(false); }

std::vector<VerifyResult> CopyVerifier::finish() {
  if (scheduler_) scheduler_->hurry(*sink_);
  return sink_->take(true);
}

bool CopyVerifier::busy() { return sink_->busy(); }

}  // namespace cw
