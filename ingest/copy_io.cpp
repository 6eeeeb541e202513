// Copy loop and descriptor ownership.
#include "ingest/copy_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "foundation/log.h"
#include "foundation/sysio.h"

namespace cw {

namespace {

// Bytes a copy puts in the cache between two requests to start writing them to the disk.
constexpr std::uint64_t kWritebackStep = 8 * 1048576;

// Starts the disk writing a copy every kWritebackStep bytes as the copy goes, without waiting
// for it: the disk works from the first pieces on instead of from the copy's close, and the
// read-back, which can only read what has reached the disk, finds the copy written instead of
// waiting for its writeback. Only a hint: the phase's flush writes whatever it did not start.
// The copy never waits for a step to be written: keeping fewer writes queued lets the
// read-back's reads pass sooner (they wait behind every write queued), but the disk then
// spends the same time on them during the copying instead of after it, and the copy that
// waits holds up the run (a card of 1 GiB spent 0.16 s more blocked): it measured slower.
struct WriteBehind {
  int fd;
  std::uint64_t unsent = 0;
  void wrote(std::uint64_t n) {
    unsent += n;
    if (unsent < kWritebackStep) return;
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    unsent = 0;
  }
};

}  // namespace

bool ensure_read_buffer(RunState& state) {
  if (state.read_buffer) return true;
  state.read_buffer.reset(new (std::nothrow) char[kCopyBufferSize]);
  return state.read_buffer != nullptr;
}

CopyOutcome copy_chunks(RunState& state, RunReporter& reporter, const ChunkReader& read, int out,
                        const std::string& target, ContentHasher* hash) {
  if (!ensure_read_buffer(state)) return CopyOutcome::kReadError;
  char* buffer = state.read_buffer.get();
  WriteBehind behind{out};
  for (;;) {
    if (reporter.stop_requested()) return CopyOutcome::kStopped;
    long long n = read(buffer, kCopyBufferSize);
    if (n < 0) return CopyOutcome::kReadError;
    if (n == 0) return CopyOutcome::kOk;
    if (hash) hash->update(buffer, static_cast<std::size_t>(n));
    if (write_all(out, buffer, static_cast<std::size_t>(n)) != IoStatus::kOk) {
      log_printf("copy: write to %s failed: %s", target.c_str(), std::strerror(errno));
      return CopyOutcome::kWriteError;
    }
    behind.wrote(static_cast<std::uint64_t>(n));
    reporter.progress_bytes(static_cast<std::uint64_t>(n));
  }
}

namespace {

// Feeds `n` bytes of `in` from `at` to `hash`. They were just moved by the kernel's copy, so
// they come from the source's page cache, not from the card again.
bool hash_piece(RunState& state, int in, off_t at, std::size_t n, ContentHasher& hash) {
  char* buffer = state.read_buffer.get();
  while (n > 0) {
    ssize_t got;
    do got = ::pread(in, buffer, n, at);
    while (got < 0 && errno == EINTR);
    if (got <= 0) return false;
    hash.update(buffer, static_cast<std::size_t>(got));
    at += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

CopyOutcome copy_fd(RunState& state, RunReporter& reporter, int in, int out,
                    const std::string& target, ContentHasher* hash) {
  if (!ensure_read_buffer(state)) return CopyOutcome::kReadError;
  off_t at = copy_range_usable() && hash ? ::lseek(in, 0, SEEK_CUR) : 0;
  if (copy_range_usable() && at >= 0) {
    WriteBehind behind{out};
    for (;;) {
      if (reporter.stop_requested()) return CopyOutcome::kStopped;
      ssize_t n = sysio().copy_range(in, out, kCopyBufferSize);
      if (n == 0) return CopyOutcome::kOk;
      // On any failure (file systems that cannot, a full disk, a read error) the buffered
      // loop carries on from the current positions and names the failure itself.
      if (n < 0) break;
      if (hash && !hash_piece(state, in, at, static_cast<std::size_t>(n), *hash))
        return CopyOutcome::kReadError;
      at += n;
      behind.wrote(static_cast<std::uint64_t>(n));
      reporter.progress_bytes(static_cast<std::uint64_t>(n));
    }
  }
  ChunkReader reader = [in](void* buf, std::size_t n) -> long long {
    return read_some(in, buf, n);
  };
  return copy_chunks(state, reporter, reader, out, target, hash);
}

bool set_file_times(const std::string& path, std::time_t when) {
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = when;
  times[0].tv_nsec = times[1].tv_nsec = 0;
  return sysio().utimens(path.c_str(), times) == 0;
}

bool set_fd_times(int fd, std::time_t when) {
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = when;
  times[0].tv_nsec = times[1].tv_nsec = 0;
  return sysio().futimens(fd, times) == 0;
}

int open_regular_file(const std::string& path, bool& regular, struct stat* info) {
  UniqueFd fd(sysio().open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
  struct stat st;
  if (!fd.valid()) {
    // ELOOP: the name is a symbolic link now.
    const int err = errno;
    regular = err != ELOOP && (sysio().lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode));
    errno = err;
    return -1;
  }
  regular = sysio().fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
  if (!regular) return -1;
  if (info) *info = st;
  const int out = fd.get();
  fd.release();
  return out;
}

}  // namespace cw
