// How a copy lands in an archive tree. Every copy (image, sidecar, backup copy) is written
// under a temporary name in its target folder and moved to its final name only once it is
// complete, never replacing what is there: a stopped, failed or killed copy leaves no partial
// file under an image's name, and two runs writing into one tree never see each other's
// partial copies. The bytes reach the disk once per phase: the run notes the file systems it
// wrote to and flushes each with one syncfs before anything is reported as done (one flush
// per file system is several times faster than an fsync per file on a card of small images,
// see bench/durability, and gives the same guarantee: the copies are on the disk before the
// record says SUCCESS).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <set>
#include <string>

#include "foundation/sysio.h"

namespace cw {

// Size from which a copy's writeback is started as it is closed.
inline constexpr std::uint64_t kEarlyWriteback = 1024 * 1024;

class StagedFile {
 public:
  StagedFile() = default;
  // Closes, and removes the temporary file unless it was committed.
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Creates the temporary file in `folder` (a name beginning with ".", which scans pass
  // over): false with errno set.
  bool create(const std::string& folder);
  int fd() const { return fd_.get(); }
  const std::string& temp_path() const { return temp_; }
  // Closes the descriptor: 0, or -1 with errno set. A file of at least kEarlyWriteback bytes
  // (`written`: its size) is handed to the disk first, without waiting, so that the disk
  // writes it while the run goes on and the phase's flush finds little left to write. A
  // smaller one is left to its read-back or the flush, which write it off the copying thread.
  int close(std::uint64_t written = 0);
  // Moves the file to `target`, replacing an existing file only when `replace`: false with
  // errno set (EEXIST when the name is taken).
  bool commit(const std::string& target, bool replace);

 private:
  UniqueFd fd_;
  std::string temp_;
  bool committed_ = false;
};

// The file systems a run has written to, each flushed to the disk once per phase.
// The temporary copies a killed run left in `folder` (its process, on this machine, is gone)
// are removed; those of runs still writing, here or on another machine sharing the folder,
// are left alone.
void remove_stale_staged_files(const std::string& folder);

class DiskFlush {
 public:
  // Notes the file system that holds `folder`; the first time a folder is noted, it is also
  // cleared of a killed run's temporary copies.
  void note(const std::string& folder);
  // Flushes every noted file system and forgets them: false with errno set and `folder`
  // naming a folder of the file system that failed.
  bool flush(std::string& folder);

 private:
  std::string last_;                     // the folder noted last (most notes repeat it)
  std::map<dev_t, std::string> noted_;   // one folder per file system
  std::set<std::string> swept_;          // folders cleared of stale temporary copies
};

}  // namespace cw
