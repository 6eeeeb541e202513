// The byte-moving core shared by every copy of a run: the run's 1 MiB buffer, the chunk loops
// that check the stop request before each chunk of at most 1 MiB, and the opening of sources.
// All system calls go through the replaceable table of foundation/sysio.h.
#pragma once

#include <sys/stat.h>

#include <ctime>
#include <functional>
#include <string>

#include "foundation/content_hash.h"
#include "ingest/engine_context.h"

namespace cw {

// Makes sure the run's copy buffer exists; false (nothing reported) when it cannot be made.
bool ensure_read_buffer(RunState& state);

enum class CopyOutcome { kOk, kStopped, kReadError, kWriteError };

// Reads up to n bytes: the count, 0 at the end, -1 on error.
using ChunkReader = std::function<long long(void* buffer, std::size_t n)>;

// Copies everything `read` yields into `out`, one buffer at a time, looking at the stop
// request before each chunk; every chunk read is fed to `hash` when there is one. A write
// error is logged with `target`. The bytes go through the state's buffer; the reporter is
// asked about the stop and told the progress.
CopyOutcome copy_chunks(RunState& state, RunReporter& reporter, const ChunkReader& read, int out,
                        const std::string& target, ContentHasher* hash = nullptr);

// Copies the rest of the open file `in` into `out`. Between two files the kernel's in-place
// copy moves each piece (see copy_range_usable), and a piece to be hashed is then read from
// the source's page cache, where the copy has just put it (a memory read, not a second read
// of the card; the copy is read back from the disk later anyway); otherwise, or when that
// call fails (between file systems that cannot), the pieces go through the run's buffer with
// copy_chunks, from where the copy stands.
CopyOutcome copy_fd(RunState& state, RunReporter& reporter, int in, int out,
                    const std::string& target, ContentHasher* hash = nullptr);

// Sets a path's access and modification times to `when`: true on success.
bool set_file_times(const std::string& path, std::time_t when);
// The same for an open file.
bool set_fd_times(int fd, std::time_t when);

// Opens a source for reading only when it is a regular file: never through a symbolic link
// (a card's link could lead anywhere), never waiting on a FIFO, and checked on the open
// descriptor so nothing can be swapped in between. The descriptor, or -1: `regular` then says
// whether the path was a regular file that could not be opened (errno set) or no regular
// file at all. With `info`, the open file's status is given back in it.
int open_regular_file(const std::string& path, bool& regular, struct stat* info = nullptr);

}  // namespace cw
