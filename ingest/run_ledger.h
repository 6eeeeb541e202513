// The ingest ledger as one run uses it: the entries of the files it took or met again, the
// copies it made with their read-backs, and the steps that store them.
//
// Entries live in the run until they are stored: every second of copying the run takes the
// read-backs that have finished and stores in one transaction every entry whose copies are
// all settled, without waiting for the disk (neither for the copies nor for the database's
// own commit, which the next store after a flush takes to the disk); at the end of each
// phase it waits for the read-backs, flushes the file systems it wrote to and stores again.
// A run that is killed therefore loses at most the last second of its record, and the record
// never calls a copy verified before it is on the disk: copies stored between flushes are
// only "written", and a later run proves them (reads them back, or at least finds them whole)
// before it trusts them.
// Without a database the entries only serve the run itself (duplicates within the card, the
// completion of missing copies).
//
// Once stored, an entry is kept packed (ledger_packing.h) until the run asks for it again, so
// that a card of a hundred thousand files fits in a bounded share of memory; a store looks
// only at the entries asked for since they were last stored.
//
// A copy an earlier run proved counts in this run only once it is checked again: its stat
// fingerprint unchanged since it was read back, or (fingerprint changed or missing, or every
// copy wanted again with `reverify`) read back now with its recorded hash. One that no longer
// matches is kept as it is (a photo manager may have written keywords into it) and the card's
// file is copied beside it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "database/ledger_store.h"
#include "ingest/ledger_index.h"
#include "ingest/ledger_packing.h"

namespace cw {

class Database;
class EngineContext;
class RunReporter;
struct RunCounters;
struct RunState;
struct RunOptions;
struct ImageRecord;

class RunLedger {
 public:
  // The database that keeps the ledger; none: the entries stay in the run.
  void attach(Database* db) { db_ = db; }
  Database* database() const { return db_; }

  // The entry of this content: one the run holds, else one from the database (taken into the
  // run). Nothing when the content was never taken.
  std::optional<std::size_t> find(const Hash128& hash, std::uint64_t size);
  // True when a file of this size and modification time was taken before, by this run or an
  // earlier one: only such a file can be in the archive already. With `local_times` (a FAT or
  // exFAT card) a time shifted by a change of zone counts as the same (card_time.h).
  bool may_hold(std::uint64_t size, std::int64_t modified, bool local_times = false);
  // Asks the database at once what it records of files of these sizes (a card's, in the order
  // the run takes them), so that may_hold needs no question of its own for those files, and
  // find asks for the entries of the next kFindAhead recorded sizes of the card at once
  // rather than for each file on its own (two round trips per file to a catalogue on a
  // server). Later entries of other runs are then not seen, as they would not have been a
  // moment earlier: a run writing the same images at the same time is met by its copies
  // instead (the names compared).
  void learn_sizes(const std::vector<std::uint64_t>& sizes);
  static constexpr std::size_t kFindAhead = 256;
  // A new entry; its index.
  std::size_t add(LedgerEntry entry);
  // The entry at `index`. A reference stays valid until the entry is released (below); an
  // entry held packed is unpacked first. Every entry asked for through the non-const form is
  // looked at by the next store.
  LedgerEntry& at(std::size_t index);
  const LedgerEntry& at(std::size_t index) const;
  // The entry at `index` for reading only: the entry itself when it is held unpacked, else
  // `scratch` with the entry unpacked into it. The entry is neither taken into the run nor
  // looked at by the next store, so a walk over a large card's entries (the end of a run)
  // neither unpacks them for good nor packs them again, and one scratch entry serves it all.
  // The reference is valid until `scratch` is used again or the entry changes.
  const LedgerEntry& read(std::size_t index, LedgerEntry& scratch) const;
  // Calls `change` on every copy of the run's entries for which `wanted` holds. Each entry is
  // read first, and only one holding such a copy is taken into the run (and released after).
  void change_copies(const std::function<bool(const LedgerCopy&)>& wanted,
                     const std::function<void(LedgerCopy&)>& change);
  std::size_t size() const { return slots_.size(); }
  // True for the entries this run created (not found in the database).
  bool created_here(std::size_t index) const {
    return index < created_.size() && created_[index];
  }
  // True the first time it is asked about an entry taken from the database: the run settles
  // once what an earlier run left unfinished in it.
  bool first_look(std::size_t index) {
    if (index >= looked_.size() || created_here(index) || looked_[index]) return false;
    looked_[index] = true;
    return true;
  }

  // Stores every entry whose copies are settled and not stored yet; `durable` when the file
  // systems were flushed since the copies were written (see ledger_store). False when the
  // database refused (reported). Only the entries asked for since they were last found
  // stored are looked at, so a store costs what changed, not what the run holds.
  bool store(bool durable);
  // Entries whose copies were stored only as written: each store stores them again until
  // the file systems are flushed.
  std::size_t waiting_for_flush() const { return waiting_for_flush_; }
  // Entries asked for and not released since: at most what the next store writes.
  std::size_t asked_since_store() const { return marked_.size(); }

  // Packs entry `index` when nothing of it waits to be stored; the caller holds no reference
  // into it. A card of many files keeps its entries in about a quarter of the memory.
  void release(std::size_t index);
  // Releases every entry the store has nothing left to do for; no reference into any entry
  // may be held.
  void release_stored();
  // Entries held unpacked.
  std::size_t unpacked() const { return unpacked_; }
  // The run has ended: only its entries are asked for from now on (the report, the manifests,
  // renamed folders), never looked up by content, size or time, so the indexes for those
  // lookups are given back. find, may_hold and add no longer see the run's entries.
  void end_lookups();

  std::chrono::steady_clock::time_point last_store{};

  // The archive roots, not mapped on this station, that copies of the entries taken from the
  // database lie below: those copies stood for nothing in this run.
  const std::set<std::string>& unmapped_roots() const { return unmapped_roots_; }

 private:
  // True when `known` holds a time of this size that same_card_time takes for `modified`.
  static bool holds_time(const SizeTimes& known, std::uint64_t size, std::int64_t modified,
                         bool local_times);
  // An entry is held unpacked while the run works on it and packed once released.
  struct Slot {
    std::unique_ptr<LedgerEntry> live;
    std::unique_ptr<std::uint8_t[]> packed;
  };
  LedgerEntry& live(std::size_t index) const;
  // The entry is asked for: the next store looks at it.
  void mark(std::size_t index) const;
  // Nothing of the entry waits to be stored (always so without a database).
  bool settled_and_stored(const LedgerEntry& e) const;
  Database* db_ = nullptr;
  std::size_t waiting_for_flush_ = 0;
  // Unpacking for a const caller changes only how the entry is held, never what it is.
  mutable std::vector<Slot> slots_;  // stable: records keep indexes; live entries do not move
  mutable PackedTexts texts_;
  mutable std::size_t unpacked_ = 0;
  // Entries asked for since they were last found stored, each once (a bit by index).
  mutable std::vector<std::size_t> marked_;
  mutable std::vector<bool> is_marked_;
  ContentIndex by_content_;
  SizeTimes sizes_and_times_;
  // By entry index, a bit each (a card's worth of entries): made by this run; looked at.
  std::vector<bool> created_;
  std::vector<bool> looked_;
  // What learn_sizes found: the sizes asked about, and the sizes and times recorded of them.
  std::unordered_set<std::uint64_t> asked_sizes_;
  SizeTimes stored_sizes_and_times_;
  // The recorded sizes learn_sizes was given, each once in the order given, with its place.
  std::vector<std::uint64_t> recorded_order_;
  std::unordered_map<std::uint64_t, std::size_t> recorded_at_;
  // The entries of the sizes find asked for last (from one size of recorded_order_ on), not
  // taken into the run yet, by content; find asks the database again for no size of these.
  void find_ahead(std::uint64_t size);
  std::unordered_set<std::uint64_t> found_ahead_sizes_;
  std::map<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>, LedgerEntry> found_ahead_;
  // Takes an entry from the database into the run: its index.
  std::size_t take_stored(LedgerEntry stored);
  std::set<std::string> unmapped_roots_;
};

// True when a copy of `entry` lies below an archive root this station does not map.
bool has_unmapped_copy(const LedgerEntry& entry);
// The report's line on the archive roots of `ledger.unmapped_roots()`; empty when there are none.
std::string unmapped_roots_note(const RunLedger& ledger);

// The copy of `entry` that lies in the tree rooted at `root` (as the system resolves it) and
// is still there with its size: written, verified, converted, being read back or due to change.
// Nothing when the tree has none.
std::optional<std::size_t> copy_in_tree(const LedgerEntry& entry, const std::string& root);

// How copies of earlier runs are proven before they stand for an image: without read-backs
// they are taken by their size, as when they are made; with `reverify` they are read back even
// when their fingerprints are unchanged.
struct CopyProof {
  bool verify_copies = true;
  bool reverify = false;
};

// Reads copy `copy` back and compares it with its recorded hash: true when it matches.
using CopyReadBack = std::function<bool(std::size_t copy)>;

// The copy of `entry` in the tree rooted at `root` (as the system resolves it) that stands for
// the image, as a run decides it and the image chooser shows it: the first one there
// (copy_in_tree) that counts as recorded (checked already, still pending, taken by its size
// without read-backs, or proven and its fingerprint unchanged since; then it is marked
// checked), else the first one `read_back` proves. A copy `read_back` refuses is marked bad in
// `entry` and the next one is tried. Nothing when no copy there stands.
std::optional<std::size_t> standing_copy_in_tree(LedgerEntry& entry, const std::string& root,
                                                 const CopyProof& proof,
                                                 const CopyReadBack& read_back);

// The copy of entry `entry` in `tree` that is proven for this run: a copy made by this run, or
// one of an earlier run that is checked now (see above). A copy that fails its check is marked
// bad, named in the report, and the next copy in the tree (if any) is tried.
std::optional<std::size_t> proven_copy_in_tree(EngineContext& ctx, std::size_t entry,
                                               CopyTree tree);

// True when this run found a copy of `entry` in `tree` changed since it was proven: the card's
// file then goes beside it.
bool has_changed_copy(const LedgerEntry& entry, CopyTree tree);
// Where a copy of `source` into `tree` goes when it was wanted at `target`: `target` itself,
// unless a copy of the entry in that tree was found changed; then the first name with the
// unique-name suffix that is free or holds the same content, so the changed file stays.
std::string target_beside_changed(const RunOptions& options, const RunState& state,
                                  std::size_t entry, CopyTree tree, const std::string& target,
                                  const std::string& source);
// A copy of the card's file was placed (or found) at `new_path` in `tree`: the report names
// each copy of that tree found changed since it was proven beside it, on a line of its own.
void announce_copy_beside(RunState& state, RunReporter& reporter, std::size_t entry, CopyTree tree,
                          const std::string& new_path);

// Damage a check found in the bytes of image `r`'s file, kept with its entry (stored with
// the ledger), so that every later run of the same card reports it.
void remember_damage(RunState& state, const ImageRecord& r, Damage damage,
                     const std::string& text);
// An archived image of an earlier run whose file was found damaged then: counted and named as
// the checks count and name it, so the card's verdict is the same on every run.
void recall_damage(RunCounters& counts, RunReporter& reporter, const LedgerEntry& e,
                   const std::string& path);

// Records `copy` in `entry`: in place of an earlier record of the same path (a file deleted
// and made again is one copy, which the database keeps by its path), else as a new one. Its
// index in the entry.
std::size_t put_copy(LedgerEntry& entry, LedgerCopy copy);

// The recorded copy of `entry` at this path (as the system resolves it), whatever its state.
std::optional<std::size_t> copy_at(const LedgerEntry& entry, const std::string& real_path);

// The root of one of the run's trees as its parameters give it.
std::string root_text(const RunOptions& options, CopyTree tree);
// The same root as the system resolves it (its text when it cannot be resolved).
std::string tree_root(const RunOptions& options, RunState& state, CopyTree tree);

// A copy has been placed: records it in the entry and, with verification on, has it read
// back, at once when `now` (the run is about to change the file) or on the verifier's thread;
// without verification it counts as written. `expected` is the hash of the bytes that went
// into it; `named` the copy's fingerprint as it was named, when it was read then. The index of
// the copy in the entry.
std::size_t record_copy(EngineContext& ctx, std::size_t entry, CopyTree tree,
                        const std::string& path, std::uint64_t size, const Hash128& expected,
                        bool now, const std::optional<Fingerprint>& named = std::nullopt);

// Records the read-backs that have finished (all of them when `wait`): a copy whose hash
// differs, or that cannot be read, is named in the report and counts as failed, and is moved
// aside. The number of copies moved aside.
std::size_t settle_read_backs(RunState& state, RunCounters& counts, RunReporter& reporter,
                              bool wait);

// Every file this phase wrote is on the disk before the run goes on (and before anything can
// report it done). False after reporting which file system failed.
bool flush_copies(RunState& state, RunReporter& reporter);

// Stores what is settled, once a second while copying, or now with `final` (after waiting for
// every read-back, the copies' file systems being flushed meanwhile), and releases the entries
// stored: the caller holds no reference into any entry. False when the flush or the database
// failed (reported).
bool ledger_checkpoint(RunState& state, RunCounters& counts, RunReporter& reporter, bool final);

}  // namespace cw
