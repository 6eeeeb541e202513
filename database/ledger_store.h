// The ingest ledger in the database: for every file an ingestion took, the card it came from
// (volume label, file-system UUID, camera serial), its path there, size, times and content
// hash, and for each copy made of it the tree, the path, the state of its verification and
// the hash of the file as it lies there. Duplicate detection asks it first (the same content
// is the same image, whatever its name, folder or later metadata), a stopped ingestion is
// completed from what it records, and the manifests written for each ingestion are listed.
//
// A copy is recorded only once it is on the disk (the engine flushes the file system first),
// so a record never claims a copy that a power cut could take back. A copy that was read back
// keeps the stat fingerprint its file had when the read began: a later run that finds the
// same fingerprint knows the file was not written since, and need not read it again.
//
// Damage that the checks found in a file's own bytes (a corrupt raw, a damaged JPEG) is kept
// with the file's entry, by content, so that every later run of the same card reports it.
//
// Paths below an archive root shared by name (Database::archive_roots) are recorded as the
// root's name and the path inside it, and come back as this station's paths; a copy recorded
// below a root this station does not map comes back marked so (LedgerCopy::unmapped_root).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/content_hash.h"

namespace cw {

class Database;

// The trees of an ingestion: the first copies (the pre-conversion backup, or the primary tree
// without one), the primary tree filled by the second copy, the post-conversion backup.
enum class CopyTree { kFirst = 0, kPrimary = 1, kPost = 2 };

enum class CopyState {
  kPending,    // written, its read-back not done yet (never stored)
  kWritten,    // written and size-checked; not read back (verification off)
  kVerified,   // read back from the disk with the source's hash
  kConverted,  // a DNG the converter made and reported no error for
  kBad,        // read back with another hash: not a copy of the source
  // A change of the file is due or under way (XMP merged, GPS tags written): its hash and size
  // are the file's before the change, and the file is that or the change's complete result
  // (changes are renamed over the copy). Stored at once, so a later run knows the changed
  // copy as this image's; it hashes the file again and finishes the change.
  kChanging,
};

// Stored and verified copies count as copies; pending and bad ones do not.
inline bool copy_counts(CopyState s) {
  return s == CopyState::kWritten || s == CopyState::kVerified || s == CopyState::kConverted;
}
// Copies that prove the image is safe elsewhere: read back, or checked by the converter.
inline bool copy_proven(CopyState s) {
  return s == CopyState::kVerified || s == CopyState::kConverted;
}

// What the system says of a file without reading it: device, inode, size, modification and
// change times in nanoseconds. Any write to the file, or its replacement by another file,
// changes at least one of them (the change time cannot be set back by any program).
struct Fingerprint {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;

  bool operator==(const Fingerprint&) const = default;
  // "device:inode:size:modified:changed", as the ledger keeps it.
  std::string text() const;
  static std::optional<Fingerprint> from_text(const std::string& text);
};
Fingerprint fingerprint_of(const struct stat& st);

// A write within one tick of the file system's clock after a fingerprint was taken may leave
// the times as they were. A fingerprint taken that soon after the file's last change is
// therefore not kept: the next run reads the copy again, as a version-control tool does with
// its "racily clean" entries. Where the change time has no fraction of a second the tick is
// taken as 2 s (FAT keeps times to 2 s); otherwise it is the file system's own (see
// change_time_tick_ns), 50 ms where that is not known.
inline constexpr std::int64_t kFingerprintSettleNs = 50'000'000;
inline constexpr std::int64_t kCoarseFingerprintSettleNs = 2'000'000'000;
// The tick of the clock that stamps the change times of the file system holding the open file
// `fd` (or `path`). The local file systems that stamp files from the kernel's coarse clock in
// nanoseconds (ext2-4, XFS, Btrfs, F2FS, tmpfs) get two of that clock's ticks and a
// millisecond, a few milliseconds in all: once that has passed since a change, the coarse clock
// has moved past the change time, so any later write stamps a later one. Every other file
// system (a file server's clock, a user-space file system's, one that keeps coarser times)
// gets kFingerprintSettleNs.
std::int64_t change_time_tick_ns(int fd);
std::int64_t change_time_tick_ns(const std::string& path);
// The tick of the file system holding `folder`, proven there: 0 when a file written, looked
// at and written again at once gets new times, four times over, each within a millisecond
// (multigrain times, as ext4, XFS, Btrfs and tmpfs stamp them from Linux 6.13: a change made
// after the times were looked at always stamps later ones, so a fingerprint stands as soon as
// it is taken); else change_time_tick_ns(folder). It writes a file without a name in `folder`,
// which nothing else sees and which is gone when it is closed.
std::int64_t proven_change_time_tick_ns(const std::string& folder);
// How long after `now_ns` (real time) a fingerprint of the file may be taken to stand for it
// later, on a file system whose tick is `tick_ns`: 0 once a tick has passed since its last
// change.
std::int64_t fingerprint_settle_wait_ns(const Fingerprint& fp, std::int64_t now_ns,
                                        std::int64_t tick_ns);
// True when the fingerprint, taken at `taken_ns` (real time), may stand for the file later.
inline bool fingerprint_settled(const Fingerprint& fp, std::int64_t taken_ns,
                                std::int64_t tick_ns) {
  return fingerprint_settle_wait_ns(fp, taken_ns, tick_ns) == 0;
}
// The real time in nanoseconds, as file times count it.
std::int64_t real_time_ns();

// Damage a check found in a file's own bytes, remembered with its entry.
enum class Damage { kNone, kCorruptRaw, kDamagedJpeg, kCorruptJpeg };

struct LedgerCopy {
  CopyTree tree = CopyTree::kFirst;
  std::string root;  // the tree's root as the system resolves it
  std::string path;
  std::uint64_t size = 0;       // as written: a file of another size is no longer this copy
  std::optional<Hash128> hash;  // of the file as it lies there; none until known
  CopyState state = CopyState::kPending;
  // The file's fingerprint when it was last proven; none: never proven, or changed since.
  std::optional<Fingerprint> fingerprint;
  CopyState before_change = CopyState::kVerified;  // in a run: the state a change returns to
  bool stored = false;  // the database holds it as it is now
  // Proven by this run (made and read back, or read again), or found with its fingerprint
  // unchanged; never stored. A copy of an earlier run counts only once it is checked.
  bool checked = false;
  // Found changed since it was proven: kept as it is, and the card's file is copied beside it.
  bool changed_since_proven = false;
  // Recorded below an archive root that this station does not map (database/archive_roots.h):
  // its name. `root` and `path` are then the paths inside that root and name no file here, so
  // the copy is never found in a tree nor taken as proof.
  std::string unmapped_root;
  bool operator==(const LedgerCopy&) const = default;
};

struct LedgerEntry {
  long long key = -1;  // database key; -1 until stored
  int ingestion_id = -1;
  std::string card_label;
  std::string card_uuid;
  std::string camera_serial;
  std::string source;  // the file's path below the card folder
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // seconds since the epoch
  std::string captured;       // capture time "YYYYMMDD_hhmmss"; empty when the file has none
  Hash128 hash;
  Damage damage = Damage::kNone;
  std::string damage_text;     // what the check said
  bool damage_stored = true;   // false while new damage waits to be stored
  std::vector<LedgerCopy> copies;
  bool operator==(const LedgerEntry&) const = default;
};

// The entry of this content with every copy recorded of it (several entries of one content,
// from runs that met it at the same moment, come back as one). Nothing when there is none
// or the query failed (reported).
std::optional<LedgerEntry> ledger_find(Database& db, const Hash128& hash, std::uint64_t size);
// ledger_find for every content of one of `sizes` (a stretch of a card's), in a few queries
// instead of two per content: each entry as ledger_find gives it. Nothing when a query failed.
std::optional<std::vector<LedgerEntry>> ledger_entries_of_sizes(
    Database& db, const std::vector<std::uint64_t>& sizes);
// For each content (hash and size), whether the ledger holds an entry of it; nothing when the
// database could not be asked.
std::optional<std::vector<bool>> ledger_holds(
    Database& db, const std::vector<std::pair<Hash128, std::uint64_t>>& contents);
// True when some recorded file has this size and modification time: only then can a file be
// already archived, and only then is it worth hashing before it is copied.
bool ledger_knows_size_and_time(Database& db, std::uint64_t size, std::int64_t modified);
// The size and modification time of every recorded file whose size is one of `sizes`: a
// card's worth of ledger_knows_size_and_time in a few queries. Nothing when a query failed.
std::optional<std::vector<std::pair<std::uint64_t, std::int64_t>>> ledger_sizes_and_times(
    Database& db, const std::vector<std::uint64_t>& sizes);
// A copy the ledger records of a file of some size and modification time.
struct RecordedCopy {
  std::uint64_t size = 0;     // of the file it is a copy of
  std::int64_t modified = 0;  // the file's, seconds since the epoch
  CopyTree tree = CopyTree::kFirst;
  std::string root;
  std::string path;
  std::optional<Hash128> hash;
  CopyState state = CopyState::kPending;
};
// Every copy recorded of a file whose size is one of `sizes`, so that a run can read the
// copies of a card's files before it knows their contents. Nothing when a query failed.
std::optional<std::vector<RecordedCopy>> ledger_copies_of_sizes(
    Database& db, const std::vector<std::uint64_t>& sizes);
// The newest copy the ledger records at `path` (a real path) that counts as a copy and has a
// hash, with the card and camera its image came from. Nothing when there is none.
struct RecordedOrigin {
  Hash128 hash;
  int ingestion_id = 0;
  std::string card_label, card_uuid, camera_serial, captured;
};
std::optional<RecordedOrigin> ledger_origin_at(Database& db, const std::string& path);
// The same for many paths at once, in a few queries: the origin of each path that has one.
std::map<std::string, RecordedOrigin> ledger_origins_at(Database& db,
                                                        const std::vector<std::string>& paths);
// Inserts the entries without a key and every copy not stored yet, in one transaction;
// keys and flags are set on success. False after a failure (reported; nothing stored).
// Unless the copies are `durable` (their file systems flushed since they were written), a
// verified or converted copy is stored as only written and stays to be stored again: a run
// that is killed before its next flush leaves copies a later run proves before it trusts them.
bool ledger_store(Database& db, const std::vector<LedgerEntry*>& entries, bool durable);
// Brings the index of contents up to date with the entries stored since (ledger_store adds
// them apart from it, where its rows end, so that a store costs the rows it writes and not
// pages all over that index): one statement, best made once a run's phase has stored its last.
// Lookups find those entries before and after. False after a failure (reported).
bool ledger_index_recent(Database& db);
// A folder was renamed: every recorded copy below `from` now lies below `to`.
bool ledger_rename_folder(Database& db, const std::string& from, const std::string& to);

struct ManifestRecord {
  std::string root;  // the tree whose files it lists (its paths are relative to it)
  std::string path;
  // As LedgerCopy's: the archive root it lies below when this station does not map it.
  std::string unmapped_root;
};
bool manifest_add(Database& db, int ingestion_id, const ManifestRecord& manifest);
// The manifests written for an ingestion, oldest first; nothing when the query failed.
std::optional<std::vector<ManifestRecord>> manifests_of(Database& db, int ingestion_id);

}  // namespace cw
