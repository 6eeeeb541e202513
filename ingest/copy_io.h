// The byte-moving core shared by every copy of a run: a file descriptor that closes itself,
// the run's 1 MiB buffer, and the chunk loops that check the stop request before each chunk
// of at most 1 MiB. All system calls go through the replaceable table of foundation/sysio.h.
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "ingest/engine_context.h"

namespace cw {

// Owns one open descriptor; close() reports the result of closing it.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  // Takes ownership of `fd`, closing the one held before.
  void reset(int fd) {
    close();
    fd_ = fd;
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now: 0, or -1 with errno set.
  int close();

 private:
  int fd_;
};

// Makes sure the run's copy buffer exists; false (nothing reported) when it cannot be made.
bool ensure_read_buffer(EngineContext& ctx);

enum class CopyOutcome { kOk, kStopped, kReadError, kWriteError };

// Reads up to n bytes: the count, 0 at the end, -1 on error.
using ChunkReader = std::function<long long(void* buffer, std::size_t n)>;

// Copies everything `read` yields into `out`, one buffer at a time, looking at the stop
// request before each chunk. A write error is logged with `target`.
CopyOutcome copy_chunks(EngineContext& ctx, const ChunkReader& read, int out,
                        const std::string& target);

// Copies the rest of the open file `in` into `out`. Between two files the kernel's in-place
// copy moves each piece (see copy_range_usable); otherwise, or when that call fails, the
// pieces go through the run's buffer with copy_chunks, from where the copy stands.
CopyOutcome copy_fd(EngineContext& ctx, int in, int out, const std::string& target);

// Sets a path's access and modification times to `when`: true on success.
bool set_file_times(const std::string& path, std::time_t when);

}  // namespace cw
