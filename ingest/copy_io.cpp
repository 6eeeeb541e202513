// Copy loop and descriptor ownership.
#include "ingest/copy_io.h"

#include <fcntl.h>
#include <liburing.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
  if (!state.read_buffer) state.read_buffer = direct_io_memory(2 * kCopyBufferSize);
  return static_cast<bool>(state.read_buffer);
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

namespace {

// Sets or clears the direct flag of the open file `fd`: true when it is as asked.
bool set_direct(int fd, bool direct) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  const int wanted = direct ? flags | O_DIRECT : flags & ~O_DIRECT;
  return wanted == flags || ::fcntl(fd, F_SETFL, wanted) == 0;
}

// Reads up to `n` bytes into `buffer`, fewer only at the end of the file: the count, or -1.
long long read_piece(int in, char* buffer, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = read_some(in, buffer + got, n - got);
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return static_cast<long long>(got);
}

// The writes of one direct copy, in order, each piece at the end of those before it. Through
// io_uring one piece is on its way to the disk while the caller reads and hashes the next;
// where the ring cannot be set up, or the system-call table is not the system's own (a fault
// injected into writes must be met), each piece is written before the call returns. A piece
// of whole blocks is written directly; a piece that ends within a block (the file's last),
// the rest of a short write, and every piece after a direct write the file system refused,
// go through the cache.
class DirectWrites {
 public:
  explicit DirectWrites(int out) : out_(out) {
    use_ring_ = sysio().write == system_sysio().write && io_uring_queue_init(1, &ring_, 0) == 0;
  }
  ~DirectWrites() {
    settle();
    if (use_ring_) io_uring_queue_exit(&ring_);
    if (direct_) set_direct(out_, false);
  }
  DirectWrites(const DirectWrites&) = delete;
  DirectWrites& operator=(const DirectWrites&) = delete;

  // Waits for the piece on its way: false (errno set) when it could not be written.
  bool settle() {
    if (!pending_) return true;
    io_uring_cqe* cqe = nullptr;
    int rc;
    do rc = io_uring_wait_cqe(&ring_, &cqe);
    while (rc == -EINTR);
    const char* data = pending_;
    pending_ = nullptr;
    if (rc < 0) {  // the ring lost track of the write: it is known to be over only now
      errno = -rc;
      return false;
    }
    const int res = cqe->res;
    io_uring_cqe_seen(&ring_, cqe);
    return finish(data, pending_size_, pending_at_, res < 0 ? -1 : res, res < 0 ? -res : 0);
  }

  // Writes `n` bytes of `data`, or starts to: `data` stays untouched until the next call or
  // settle(). False (errno set) when this piece or the one before could not be written.
  bool put(const char* data, std::size_t n) {
    if (!settle()) return false;
    const std::uint64_t at = end_;
    end_ += n;
    if (!direct_ || n % kReadBackAlignment != 0) return finish(data, n, at, 0, 0);
    if (use_ring_) {
      if (io_uring_sqe* sqe = io_uring_get_sqe(&ring_)) {
        io_uring_prep_write(sqe, out_, data, static_cast<unsigned>(n), at);
        if (io_uring_submit(&ring_) == 1) {
          pending_ = data;
          pending_size_ = n;
          pending_at_ = at;
          return true;
        }
      }
      use_ring_ = false;
    }
    const ssize_t w = sysio().write(out_, data, n);
    return finish(data, n, at, w, w < 0 ? errno : 0);
  }

 private:
  // Completes the piece `data` of `n` bytes at `at`, of which a direct write wrote `done`
  // bytes (-1: it failed with `error`): the rest goes through the cache.
  bool finish(const char* data, std::size_t n, std::uint64_t at, ssize_t done, int error) {
    if (done < 0 && error != EINVAL && error != EINTR) {
      errno = error;
      return false;
    }
    const std::size_t written = done > 0 ? static_cast<std::size_t>(done) : 0;
    if (written == n) return true;
    if (direct_ && !set_direct(out_, false)) return false;
    direct_ = false;
    // Ring writes name their offsets and leave the file's own position behind.
    if (::lseek(out_, static_cast<off_t>(at + written), SEEK_SET) < 0) return false;
    return write_all(out_, data + written, n - written) == IoStatus::kOk;
  }

  int out_;
  bool direct_ = true;
  bool use_ring_ = false;
  io_uring ring_{};
  const char* pending_ = nullptr;  // the piece on its way, if any
  std::size_t pending_size_ = 0;
  std::uint64_t pending_at_ = 0;
  std::uint64_t end_ = 0;  // bytes written or on their way
};

}  // namespace

CopyOutcome copy_direct(RunState& state, RunReporter& reporter, int in, int out,
                        const std::string& target, ContentHasher& hash) {
  if (!ensure_read_buffer(state)) return CopyOutcome::kReadError;
  if (!set_direct(out, true)) return copy_fd(state, reporter, in, out, target, &hash);
  const auto write_failed = [&target] {
    log_printf("copy: write to %s failed: %s", target.c_str(), std::strerror(errno));
    return CopyOutcome::kWriteError;
  };
  // The copy's room is taken at once, as the source's size: direct writes would otherwise
  // take it a piece at a time, wherever each piece finds room, and the copy would go to the
  // disk (and be read back) in as many pieces. Only a hint: the file keeps its size as
  // written, so a source that changes size still fails the size check after the copy.
  struct stat st;
  if (sysio().fstat(in, &st) == 0 && st.st_size > 0)
    ::fallocate(out, FALLOC_FL_KEEP_SIZE, 0, st.st_size);
  // The buffer's two pieces take turns: one is read and hashed while the other is written.
  char* const pieces[2] = {state.read_buffer.get(), state.read_buffer.get() + kCopyBufferSize};
  DirectWrites writes(out);
  for (std::size_t turn = 0;; turn ^= 1) {
    if (reporter.stop_requested()) return CopyOutcome::kStopped;
    char* const piece = pieces[turn];
    const long long n = read_piece(in, piece, kCopyBufferSize);
    if (n < 0) return CopyOutcome::kReadError;
    if (n == 0) return writes.settle() ? CopyOutcome::kOk : write_failed();
    const std::size_t size = static_cast<std::size_t>(n);
    hash.update(piece, size);
    if (!writes.put(piece, size)) return write_failed();
    reporter.progress_bytes(size);
  }
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

int open_regular_file(const std::string& path, bool& regular) {
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
  const int out = fd.get();
  fd.release();
  return out;
}

}  // namespace cw
