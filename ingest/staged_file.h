// How a copy lands in an archive tree. Every copy (image, sidecar, backup copy) is written in
// its target folder, under a temporary name or, made through the folder's descriptor where the
// file system allows, as a file without a name, and given its final name only once it is
// complete, never replacing what is there: a stopped, failed or killed copy leaves no partial
// file under an image's name, and two runs writing into one tree never see each other's
// partial copies. A file without a name costs its folder one entry instead of a temporary one
// made and removed, and a killed run leaves nothing of it. The bytes reach the disk once per
// phase: the run notes the file systems it wrote to and flushes each with one syncfs before
// anything is reported as done (one flush per file system is several times faster than an
// fsync per file on a card of small images, see bench/durability, and gives the same
// guarantee: the copies are on the disk before the record says SUCCESS).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "database/ledger_store.h"
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

  // Creates the temporary file in `folder`: without a name where the file system can make
  // one (open_unnamed_at), else under a name beginning with "." (which scans pass over);
  // false with errno set. With `folder_fd`, an open descriptor of that folder (see
  // FolderHandles; it must stay open until the file is committed or dropped), the file is
  // made, named and removed relative to it; without, through the paths.
  bool create(const std::string& folder, int folder_fd = -1);
  int fd() const { return fd_.get(); }
  // The temporary file's path; empty for a file without a name.
  const std::string& temp_path() const { return temp_; }
  // Closes the descriptor: 0, or -1 with errno set. A file of at least kEarlyWriteback bytes
  // (`written`: its size) is handed to the disk first, without waiting, so that the disk
  // writes it while the run goes on and the phase's flush finds little left to write. A
  // smaller one is left to its read-back or the flush, which write it off the copying thread.
  // A file without a name stays open until it is named (its descriptor names it).
  int close(std::uint64_t written = 0);
  // Moves the file to `target`, replacing an existing file only when `replace`: false with
  // errno set (EEXIST when the name is taken). With `named`, a file without a name that is
  // named in place also gives its fingerprint as it lies there, read through its descriptor
  // (which spares the caller a lookup of its path); otherwise `named` is left empty.
  bool commit(const std::string& target, bool replace, std::optional<Fingerprint>* named = nullptr);

 private:
  // The name within the folder (after its last "/") when `path` lies directly in it.
  const char* name_in_folder(const std::string& path) const;
  // Names the file without a name at `path`: relative to the folder's descriptor when it is
  // held and `path` lies directly in the folder, else through the whole path.
  int link_unnamed(const std::string& path) const;

  UniqueFd fd_;
  std::string temp_;
  std::string folder_;
  int folder_fd_ = -1;  // not owned
  bool committed_ = false;
  bool unnamed_ = false;  // made by open_unnamed_at: named by commit, or gone when dropped
};

// Descriptors of the folders a run writes its copies and sidecars into, opened once and kept
// for the run, so that each file there is made and named relative to its folder instead of
// through its whole path. A bounded number is held: the folders of a card are visited mostly
// in turn, so reaching the bound simply closes them all.
class FolderHandles {
 public:
  // A descriptor of `folder`, opened now unless held: -1 when it cannot be opened, or when
  // the folder-relative calls are not usable (sysio.h). It stays valid until a call for
  // another folder, or clear().
  int get(const std::string& folder);
  void clear() { held_.clear(); }
  std::size_t held() const { return held_.size(); }

  static constexpr std::size_t kMaxHeld = 16;

 private:
  std::map<std::string, UniqueFd> held_;
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
  // True when nothing was noted since the last flush.
  bool empty() const { return noted_.empty(); }
  // A folder of each file system noted since the last flush, by its device.
  const std::map<dev_t, std::string>& noted() const { return noted_; }

 private:
  std::string last_;                     // the folder noted last (most notes repeat it)
  std::map<dev_t, std::string> noted_;   // one folder per file system
  std::set<std::string> swept_;          // folders cleared of stale temporary copies
};

}  // namespace cw
