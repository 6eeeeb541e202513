// The record of what multi-camera syncs wrote, so that a later ingestion of the same folders,
// perhaps by another command, can correct the capture times a sync cannot reach: the times
// inside the files (EXIF dates, movie header times), which it never touches.
//
// The record is kept in the user's folder, never beside the images (a card or a camera's
// folder is the photographer's, and what is put there travels with it). One line per image:
// the total shift in seconds its syncs gave it, the size and modification time (seconds and
// nanoseconds) the last sync left it with, and its real path. A record counts only while the
// file still has that size and that time: a file changed since then is said to be so and is
// not corrected, since nothing would show by how much. No shift is ever guessed from a
// difference between a file's time and its EXIF date.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace cw {

// The journal of this user: $XDG_DATA_HOME/CardwrightPro/multicam-sync.txt.
std::string default_sync_journal_path();

enum class SyncState {
  kNone,          // no sync moved this file
  kSynced,        // syncs moved it by `shift` seconds, and it is as they left it
  kChangedSince,  // syncs moved it, but its size or time changed afterwards
};

struct SyncLookup {
  SyncState state = SyncState::kNone;
  std::int64_t shift = 0;  // with kSynced
};

class SyncJournal {
 public:
  // Reads the journal at `path`; an empty path keeps the records in memory only. A file that
  // does not exist yet is an empty journal; lines that cannot be read are left out.
  explicit SyncJournal(std::string path);

  const std::string& path() const { return path_; }
  // What syncs did to the file at `real_path`, which now has `st`.
  SyncLookup lookup(const std::string& real_path, const struct stat& st) const;
  // A sync moved the file at `real_path` by `delta` seconds; it had `before` and has `after`.
  void wrote(const std::string& real_path, const struct stat& before, std::int64_t delta,
             const struct stat& after);
  // Writes the records changed since this journal was read into its file, merged with what
  // other programs recorded meanwhile (under a lock, replacing the file whole). True when
  // nothing was to be written; false after a message naming the file when it could not be.
  bool save();

 private:
  struct Entry {
    std::int64_t shift = 0;
    std::uint64_t size = 0;
    std::int64_t seconds = 0;
    long nanoseconds = 0;
  };
  static std::map<std::string, Entry> read(const std::string& path);

  std::string path_;
  std::map<std::string, Entry> entries_;
  std::map<std::string, std::optional<Entry>> changed_;  // none: the record is removed
};

}  // namespace cw
