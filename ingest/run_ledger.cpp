// The run's ledger entries, their copies and read-backs, and the checkpoints that store them.
#include "ingest/run_ledger.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>
#include <tuple>

#include "database/database.h"
#include "foundation/path_guard.h"
#include "foundation/sysio.h"
#include "foundation/text.h"
#include "ingest/card_time.h"
#include "ingest/copy_io.h"
#include "ingest/damaged_copy.h"
#include "ingest/engine_context.h"
#include "ingest/image_record.h"
#include "ingest/unique_target.h"

namespace cw {

namespace {

constexpr auto kStoreInterval = std::chrono::seconds(1);
// Entries stored only as written, with those about to be stored, that make a store flush the
// file systems first.
constexpr std::size_t kMaxWaitingForFlush = 2000;

// Keeps the fingerprint a read-back took, unless it was taken too soon after the file's last
// change to stand for the file later.
void keep_fingerprint(LedgerCopy& c, const VerifyResult& r) {
  if (r.fingerprint &&
      fingerprint_settled(*r.fingerprint, r.fingerprint_taken_ns, r.fingerprint_tick_ns))
    c.fingerprint = r.fingerprint;
  else
    c.fingerprint.reset();
}

// The read of copy `c` made ahead of the run, when it stands for the file as it is now
// (`st`, none when it is gone): the read expected the hash recorded now, and the file's
// fingerprint, settled when the read began, is unchanged since. Nothing otherwise: the copy
// is then read now.
std::optional<VerifyResult> read_ahead_of(RunState& state, const LedgerCopy& c,
                                          const struct stat* st) {
  if (!state.read_ahead || !c.hash) return std::nullopt;
  std::optional<VerifyResult> early = state.read_ahead->take(c.path);
  if (!early || !st || early->job.expected != *c.hash ||
      early->outcome == VerifyOutcome::kUnreadable || !early->fingerprint ||
      !fingerprint_settled(*early->fingerprint, early->fingerprint_taken_ns,
                           early->fingerprint_tick_ns) ||
      fingerprint_of(*st) != *early->fingerprint)
    return std::nullopt;
  return early;
}

// A copy of an earlier run in the tree that does not count as recorded, read back: true when it
// matches and counts in this run (see the header), false after it was marked bad.
bool read_back_earlier_copy(EngineContext& ctx, std::size_t entry, std::size_t copy) {
  LedgerCopy& c = ctx.ledger.at(entry).copies[copy];
  struct stat st;
  const bool there = sysio().lstat(c.path.c_str(), &st) == 0;
  VerifyResult result;
  if (std::optional<VerifyResult> early = read_ahead_of(ctx, c, there ? &st : nullptr)) {
    result = std::move(*early);
  } else {
    // Changed a moment ago: read once its times have settled, so the new fingerprint can stand.
    if (there)
      if (const std::int64_t wait = fingerprint_settle_wait_ns(fingerprint_of(st), real_time_ns(),
                                                               change_time_tick_ns(c.path)))
        std::this_thread::sleep_for(std::chrono::nanoseconds(wait));
    // A DNG whose run ended before it was hashed has only the converter's word, as one found
    // at its name has (second_copy.cpp): its hash is made now.
    Hash128 made;
    if (!c.hash && c.state == CopyState::kConverted && there && ensure_read_buffer(ctx) &&
        hash_file(c.path, made, ctx.read_buffer.get(), kCopyBufferSize))
      c.hash = made;
    if (c.hash) result = ctx.verifier.verify_now(VerifyJob{c.path, *c.hash, entry, copy, {}});
  }
  c.stored = false;
  if (c.hash && result.outcome == VerifyOutcome::kMatch) {
    // A copy whose change this run makes again stays "changing": it gets its state, hash and
    // fingerprint when the change is over.
    if (c.state != CopyState::kChanging) {
      if (c.state != CopyState::kConverted) c.state = CopyState::kVerified;
      keep_fingerprint(c, result);
    }
    c.checked = true;
    ++ctx.counts.files_verified;
    return true;
  }
  c.state = CopyState::kBad;
  c.fingerprint.reset();
  c.changed_since_proven = true;
  const std::string why = !c.hash ? "has no recorded hash to prove it by"
                          : result.outcome == VerifyOutcome::kMismatch
                              ? "no longer matches the card"
                              : std::string("cannot be read back (") + std::strerror(result.error) + ")";
  ctx.report_printf("\nWARNING: The archived copy \"%s\" %s; it is kept as it is.\n",
                    c.path.c_str(), why.c_str());
  return false;
}

}  // namespace

bool RunLedger::holds_time(const SizeTimes& known, std::uint64_t size, std::int64_t modified,
                           bool local_times) {
  return known.any(size, earliest_card_time(modified, local_times),
                   latest_card_time(modified, local_times), [&](std::int64_t time) {
                     return same_card_time(time, modified, local_times);
                   });
}

std::optional<std::size_t> RunLedger::find(const Hash128& hash, std::uint64_t size) {
  if (const std::optional<std::size_t> held = by_content_.find(hash, size)) return held;
  if (!db_) return std::nullopt;
  // Known to hold no file of this size: nothing to ask.
  if (asked_sizes_.count(size) != 0 && !stored_sizes_and_times_.holds_size(size))
    return std::nullopt;
  if (found_ahead_sizes_.count(size) == 0) find_ahead(size);
  if (found_ahead_sizes_.count(size) != 0) {
    const auto it = found_ahead_.find({hash.high, hash.low, size});
    if (it == found_ahead_.end()) return std::nullopt;
    LedgerEntry stored = std::move(it->second);
    found_ahead_.erase(it);
    return take_stored(std::move(stored));
  }
  // The entries could not be asked for ahead: this one is asked for on its own.
  std::optional<LedgerEntry> stored = ledger_find(*db_, hash, size);
  if (!stored) return std::nullopt;
  return take_stored(std::move(*stored));
}

void RunLedger::find_ahead(std::uint64_t size) {
  std::vector<std::uint64_t> sizes{size};
  if (const auto at = recorded_at_.find(size); at != recorded_at_.end())
    for (std::size_t i = at->second + 1; i < recorded_order_.size() && sizes.size() < kFindAhead;
         ++i)
      sizes.push_back(recorded_order_[i]);
  std::optional<std::vector<LedgerEntry>> found = ledger_entries_of_sizes(*db_, sizes);
  if (!found) return;
  // The entries asked for before and not taken belong to files the run has passed.
  found_ahead_.clear();
  found_ahead_sizes_.clear();
  found_ahead_sizes_.insert(sizes.begin(), sizes.end());
  for (LedgerEntry& e : *found) {
    const auto key = std::make_tuple(e.hash.high, e.hash.low, e.size);
    found_ahead_.emplace(key, std::move(e));
  }
}

std::size_t RunLedger::take_stored(LedgerEntry stored) {
  for (const LedgerCopy& c : stored.copies)
    if (!c.unmapped_root.empty()) unmapped_roots_.insert(c.unmapped_root);
  const std::size_t index = slots_.size();
  const Hash128 hash = stored.hash;
  const std::uint64_t size = stored.size;
  slots_.push_back(Slot{std::make_unique<LedgerEntry>(std::move(stored)), nullptr});
  ++unpacked_;
  mark(index);
  created_.push_back(false);
  looked_.push_back(false);
  by_content_.insert(hash, size, index);
  return index;
}

bool RunLedger::may_hold(std::uint64_t size, std::int64_t modified, bool local_times) {
  if (holds_time(sizes_and_times_, size, modified, local_times)) return true;
  if (asked_sizes_.count(size) != 0)
    return holds_time(stored_sizes_and_times_, size, modified, local_times);
  if (!db_) return false;
  if (!local_times) return ledger_knows_size_and_time(*db_, size, modified);
  // The recorded times of this size are compared here; a failed query finds nothing, as the
  // exact question does.
  learn_sizes({size});
  return asked_sizes_.count(size) != 0 &&
         holds_time(stored_sizes_and_times_, size, modified, local_times);
}

void RunLedger::learn_sizes(const std::vector<std::uint64_t>& sizes) {
  if (!db_) return;
  std::vector<std::uint64_t> asking;
  for (std::uint64_t size : sizes)
    if (asked_sizes_.count(size) == 0) asking.push_back(size);
  std::sort(asking.begin(), asking.end());
  asking.erase(std::unique(asking.begin(), asking.end()), asking.end());
  if (asking.empty()) return;
  // On a failed query the files are asked about one by one, as without this.
  const auto known = ledger_sizes_and_times(*db_, asking);
  if (!known) return;
  asked_sizes_.insert(asking.begin(), asking.end());
  stored_sizes_and_times_.insert(*known);
  for (std::uint64_t size : sizes)
    if (stored_sizes_and_times_.holds_size(size) &&
        recorded_at_.try_emplace(size, recorded_order_.size()).second)
      recorded_order_.push_back(size);
}

std::size_t RunLedger::add(LedgerEntry entry) {
  const std::size_t index = slots_.size();
  by_content_.insert(entry.hash, entry.size, index);
  sizes_and_times_.insert(entry.size, entry.modified);
  slots_.push_back(Slot{std::make_unique<LedgerEntry>(std::move(entry)), nullptr});
  ++unpacked_;
  mark(index);
  created_.push_back(true);
  looked_.push_back(false);
  return index;
}

LedgerEntry& RunLedger::live(std::size_t index) const {
  Slot& slot = slots_[index];
  if (!slot.live) {
    slot.live = std::make_unique<LedgerEntry>(unpack_entry(slot.packed.get(), texts_));
    slot.packed.reset();
    ++unpacked_;
    mark(index);  // packed again once released
  }
  return *slot.live;
}

const LedgerEntry& RunLedger::read(std::size_t index, LedgerEntry& scratch) const {
  const Slot& slot = slots_[index];
  if (slot.live) return *slot.live;
  unpack_entry_into(slot.packed.get(), texts_, scratch);
  return scratch;
}

void RunLedger::change_copies(const std::function<bool(const LedgerCopy&)>& wanted,
                              const std::function<void(LedgerCopy&)>& change) {
  LedgerEntry scratch;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const std::vector<LedgerCopy>& copies = read(i, scratch).copies;
    if (std::none_of(copies.begin(), copies.end(), wanted)) continue;
    for (LedgerCopy& c : at(i).copies)
      if (wanted(c)) change(c);
    release(i);
  }
}

LedgerEntry& RunLedger::at(std::size_t index) {
  LedgerEntry& e = live(index);
  mark(index);
  return e;
}

const LedgerEntry& RunLedger::at(std::size_t index) const { return live(index); }

void RunLedger::mark(std::size_t index) const {
  if (is_marked_.size() <= index) is_marked_.resize(slots_.size());
  if (is_marked_[index]) return;
  is_marked_[index] = true;
  marked_.push_back(index);
}

bool RunLedger::settled_and_stored(const LedgerEntry& e) const {
  if (!db_) return true;
  if (e.key < 0 || !e.damage_stored) return false;
  for (const LedgerCopy& c : e.copies)
    if (!c.stored || c.state == CopyState::kPending) return false;
  return true;
}

void RunLedger::end_lookups() {
  by_content_.clear();
  sizes_and_times_.clear();
  asked_sizes_ = {};
  stored_sizes_and_times_.clear();
  recorded_order_ = {};
  recorded_at_ = {};
  found_ahead_sizes_ = {};
  found_ahead_.clear();
}

void RunLedger::release(std::size_t index) {
  Slot& slot = slots_[index];
  if (!slot.live || !settled_and_stored(*slot.live)) return;
  slot.packed = pack_entry(*slot.live, texts_);
  slot.live.reset();
  --unpacked_;
}

void RunLedger::release_stored() {
  std::size_t kept = 0;
  for (const std::size_t index : marked_) {
    release(index);
    if (slots_[index].live)
      marked_[kept++] = index;
    else
      is_marked_[index] = false;
  }
  marked_.resize(kept);
}

bool RunLedger::store(bool durable) {
  if (!db_) return true;
  // In the order of their indexes, as a walk of them all would store them.
  std::sort(marked_.begin(), marked_.end());
  std::vector<LedgerEntry*> ready;
  for (const std::size_t index : marked_) {
    // An entry released since it was asked for has nothing to store.
    if (!slots_[index].live) continue;
    LedgerEntry& e = *slots_[index].live;
    bool settled = true, changed = e.key < 0 || !e.damage_stored;
    for (const LedgerCopy& c : e.copies) {
      if (c.state == CopyState::kPending) settled = false;
      if (!c.stored) changed = true;
    }
    if (settled && changed && !e.copies.empty()) ready.push_back(&e);
  }
  if (ready.empty()) return true;
  if (!ledger_store(*db_, ready, durable)) return false;
  waiting_for_flush_ = 0;
  for (const LedgerEntry* e : ready)
    waiting_for_flush_ += std::any_of(e->copies.begin(), e->copies.end(),
                                      [](const LedgerCopy& c) { return !c.stored; });
  return true;
}

namespace {
// "\"a\", \"b\"" for the names given.
std::string quoted_names(const std::set<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "\"" : ", \"") + n + "\"";
  return out;
}
}  // namespace

bool has_unmapped_copy(const LedgerEntry& entry) {
  return std::any_of(entry.copies.begin(), entry.copies.end(),
                     [](const LedgerCopy& c) { return !c.unmapped_root.empty(); });
}

std::string unmapped_roots_note(const RunLedger& ledger) {
  const std::set<std::string>& names = ledger.unmapped_roots();
  if (names.empty()) return {};
  const bool one = names.size() == 1;
  return std::string("Copies recorded below the archive root") + (one ? " " : "s ") +
         quoted_names(names) + " were not taken as proof: this station does not map " +
         (one ? "it" : "them") + " (preference ArchiveRoots).\n";
}

std::optional<std::size_t> copy_in_tree(const LedgerEntry& entry, const std::string& root) {
  for (std::size_t i = 0; i < entry.copies.size(); ++i) {
    const LedgerCopy& c = entry.copies[i];
    const bool present = copy_counts(c.state) || c.state == CopyState::kPending ||
                         c.state == CopyState::kChanging;
    if (c.root != root || !present) continue;
    struct stat st;
    if (sysio().lstat(c.path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uint64_t>(st.st_size) == c.size)
      return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> standing_copy_in_tree(LedgerEntry& entry, const std::string& root,
                                                 const CopyProof& proof,
                                                 const CopyReadBack& read_back) {
  for (;;) {
    const std::optional<std::size_t> copy = copy_in_tree(entry, root);
    if (!copy) return std::nullopt;
    LedgerCopy& c = entry.copies[*copy];
    // Without read-backs copies are taken by their size, as when they are made.
    if (c.checked || c.state == CopyState::kPending || !proof.verify_copies) return copy;
    struct stat st;
    if (!proof.reverify && copy_proven(c.state) && c.fingerprint &&
        sysio().lstat(c.path.c_str(), &st) == 0 && fingerprint_of(st) == *c.fingerprint) {
      c.checked = true;
      return copy;
    }
    if (read_back(*copy)) return copy;
    entry.copies[*copy].state = CopyState::kBad;  // refused: the next copy there is tried
  }
}

std::optional<std::size_t> proven_copy_in_tree(EngineContext& ctx, std::size_t entry,
                                               CopyTree tree) {
  const std::string root = tree_root(ctx.options(), ctx.state(), tree);
  return standing_copy_in_tree(
      ctx.ledger.at(entry), root, CopyProof{ctx.verify_copies, ctx.reverify},
      [&ctx, entry](std::size_t copy) { return read_back_earlier_copy(ctx, entry, copy); });
}

bool has_changed_copy(const LedgerEntry& entry, CopyTree tree) {
  for (const LedgerCopy& c : entry.copies)
    if (c.tree == tree && c.changed_since_proven) return true;
  return false;
}

std::string target_beside_changed(const RunOptions& options, const RunState& state,
                                  std::size_t entry, CopyTree tree, const std::string& target,
                                  const std::string& source) {
  if (!has_changed_copy(state.ledger.at(entry), tree)) return target;
  // The sources of the primary and post-conversion copies are files on disk, never a camera's.
  SourceFacts facts;
  if (!source_facts(source, facts, nullptr)) return target;
  facts.local_times = options.card_local_times;
  const TargetName name = find_target_name(target, facts, 0);
  if (name.exhausted) return target;  // the copy then refuses to replace it
  return name.duplicate.value_or(name.path);
}

void announce_copy_beside(RunState& state, RunReporter& reporter, std::size_t entry, CopyTree tree,
                          const std::string& new_path) {
  for (LedgerCopy& c : state.ledger.at(entry).copies) {
    if (c.tree != tree || !c.changed_since_proven || c.path == new_path) continue;
    reporter.report_printf(
        "Changed archive copy kept: \"%s\" -- the card's file is copied beside it: \"%s\"\n",
        c.path.c_str(), new_path.c_str());
    c.changed_since_proven = false;
  }
}

namespace {

struct DamageCount {
  Damage damage;
  int RunCounters::*counter;
  const char* name;  // as the checks name it
};

constexpr DamageCount kDamageCounts[] = {
    {Damage::kCorruptRaw, &RunCounters::raws_corrupt, "Corrupt raw"},
    {Damage::kDamagedJpeg, &RunCounters::damaged_jpegs, "Damaged JPEG data"},
    {Damage::kCorruptJpeg, &RunCounters::jpegs_corrupt, "Corrupt JPEG"},
};

}  // namespace

void remember_damage(RunState& state, const ImageRecord& r, Damage damage,
                     const std::string& text) {
  if (r.ledger < 0) return;
  LedgerEntry& e = state.ledger.at(static_cast<std::size_t>(r.ledger));
  if (e.damage == damage && e.damage_text == text) return;
  e.damage = damage;
  e.damage_text = text;
  e.damage_stored = false;
}

void recall_damage(RunCounters& counts, RunReporter& reporter, const LedgerEntry& e,
                   const std::string& path) {
  for (const DamageCount& d : kDamageCounts) {
    if (d.damage != e.damage) continue;
    ++(counts.*d.counter);
    reporter.report_append(std::string(d.name) + ": \"" + path + "\"" +
                           (e.damage_text.empty() ? "" : ": " + e.damage_text) +
                           " (found when it was first ingested)\n");
  }
}

std::size_t put_copy(LedgerEntry& entry, LedgerCopy copy) {
  if (const std::optional<std::size_t> same = copy_at(entry, copy.path)) {
    entry.copies[*same] = std::move(copy);
    return *same;
  }
  entry.copies.push_back(std::move(copy));
  return entry.copies.size() - 1;
}

std::optional<std::size_t> copy_at(const LedgerEntry& entry, const std::string& real_path) {
  for (std::size_t i = 0; i < entry.copies.size(); ++i)
    if (entry.copies[i].path == real_path) return i;
  return std::nullopt;
}

std::string root_text(const RunOptions& options, CopyTree tree) {
  switch (tree) {
    case CopyTree::kFirst: return options.first_copy_root;
    case CopyTree::kPrimary: return options.primary_root.value_or(options.first_copy_root);
    case CopyTree::kPost: return options.post_backup_root.value_or("");
  }
  return options.first_copy_root;
}

std::string tree_root(const RunOptions& options, RunState& state, CopyTree tree) {
  std::string& known = state.real_roots[static_cast<std::size_t>(tree)];
  if (!known.empty()) return known;
  const std::string root = root_text(options, tree);
  std::optional<std::string> real = real_path_of(root);
  if (!real) return root;  // not made yet: asked again later
  known = *real;
  return known;
}

std::size_t record_copy(EngineContext& ctx, std::size_t entry, CopyTree tree,
                        const std::string& path, std::uint64_t size, const Hash128& expected,
                        bool now, const std::optional<Fingerprint>& named) {
  LedgerEntry& e = ctx.ledger.at(entry);
  LedgerCopy copy;
  copy.tree = tree;
  copy.root = tree_root(ctx.options(), ctx.state(), tree);
  copy.path = path;
  copy.size = size;
  copy.hash = expected;
  copy.state = ctx.verify_copies ? CopyState::kPending : CopyState::kWritten;
  copy.checked = true;
  const std::size_t index = put_copy(e, std::move(copy));
  announce_copy_beside(ctx.state(), ctx, entry, tree, path);
  if (!ctx.verify_copies) return index;
  VerifyJob job{path, expected, entry, index, named};
  if (now) {
    ctx.verifier_results.push_back(ctx.verifier.verify_now(job));
    settle_read_backs(ctx.state(), ctx.counts, ctx, false);
  } else {
    ctx.verifier.submit(std::move(job));
  }
  return index;
}

std::size_t settle_read_backs(RunState& state, RunCounters& counts, RunReporter& reporter,
                              bool wait) {
  std::vector<VerifyResult> results =
      wait ? state.verifier.finish() : state.verifier.take_results();
  results.insert(results.begin(), state.verifier_results.begin(), state.verifier_results.end());
  state.verifier_results.clear();
  // The readers finish in any order; the report names failures in the order of the copies.
  std::sort(results.begin(), results.end(), [](const VerifyResult& a, const VerifyResult& b) {
    return std::tie(a.job.entry, a.job.copy) < std::tie(b.job.entry, b.job.copy);
  });
  std::size_t aside = 0;
  for (const VerifyResult& r : results) {
    LedgerCopy& c = state.ledger.at(r.job.entry).copies[r.job.copy];
    switch (r.outcome) {
      case VerifyOutcome::kMatch:
        c.state = CopyState::kVerified;
        keep_fingerprint(c, r);
        ++counts.files_verified;
        break;
      case VerifyOutcome::kMismatch:
        c.state = CopyState::kBad;
        reporter.image_failed("copy differs from its source (checksum)", c.path);
        break;
      case VerifyOutcome::kUnreadable:
        c.state = CopyState::kBad;
        reporter.image_failed(
            std::string("copy cannot be read back (") + std::strerror(r.error) + ")", c.path);
        break;
    }
    if (c.state == CopyState::kBad) {
      set_damaged_copy_aside(state, reporter, r.job.entry, r.job.copy);
      ++aside;
    }
  }
  return aside;
}

namespace {

bool flush_failed(RunReporter& reporter, const std::string& folder, int error) {
  reporter.report_printf("\nERROR: copies in %s may not be on the disk: %s\n", folder.c_str(),
                         std::strerror(error));
  return reporter.fail(text_with_path("write error -- check drives for sufficient space", folder));
}

// The end of a phase: the copies' file systems are flushed on a thread of their own while the
// run waits for its last read-backs (each of which waits for its copy's times to settle), as
// both wait for the disk and neither needs the other. A copy a read-back found damaged was
// renamed meanwhile, maybe after the flush passed it: the file systems are flushed once more
// then, so that the ledger never records a name the disk does not hold yet.
bool settle_and_flush(RunState& state, RunCounters& counts, RunReporter& reporter) {
  if (state.disk_flush.empty()) {
    settle_read_backs(state, counts, reporter, true);
    return true;
  }
  DiskFlush again = state.disk_flush;
  std::string folder;
  int error = 0;
  bool flushed = false;
  std::jthread flusher;
  try {
    flusher = std::jthread([&] {
      flushed = state.disk_flush.flush(folder);
      error = errno;
    });
  } catch (const std::system_error&) {
    settle_read_backs(state, counts, reporter, true);
    return flush_copies(state, reporter);
  }
  const std::size_t aside = settle_read_backs(state, counts, reporter, true);
  flusher.join();
  if (flushed && aside > 0) {
    flushed = again.flush(folder);
    error = errno;
  }
  return flushed || flush_failed(reporter, folder, error);
}

}  // namespace

bool flush_copies(RunState& state, RunReporter& reporter) {
  std::string folder;
  return state.disk_flush.flush(folder) || flush_failed(reporter, folder, errno);
}

bool ledger_checkpoint(RunState& state, RunCounters& counts, RunReporter& reporter, bool final) {
  const auto now = std::chrono::steady_clock::now();
  if (!final && now - state.ledger.last_store < kStoreInterval) return true;
  if (!final) settle_read_backs(state, counts, reporter, false);
  state.ledger.last_store = now;
  // Only the end of a phase waits for the disk: a flush every second would stop the copying
  // until the disk caught up, where the system otherwise writes while the run reads on. A
  // copy proven since the last flush is stored again by every store until the next one, so
  // a store that would leave that many waiting flushes first: each store then has a bounded
  // number of rows to write, a card of any size is recorded in linear time, and a phase of
  // many small files stores each entry once, as proven, instead of as written first.
  const std::size_t waiting = state.ledger.waiting_for_flush() + state.ledger.asked_since_store();
  const bool flush = final || waiting >= kMaxWaitingForFlush;
  if (final ? !settle_and_flush(state, counts, reporter)
            : flush && !flush_copies(state, reporter))
    return false;
  // A store between flushes records copies only as written, which a later run proves before
  // it trusts them: its commit need not wait for the disk either (the next store after a
  // flush takes it there with its own). That wait would grow with the card, as a commit's
  // sync also writes the journal of everything the file system did since the last one.
  Database* const db = state.ledger.database();
  const bool stored = flush || !db
                          ? state.ledger.store(flush)
                          : db->write_unflushed([&state] { return state.ledger.store(false); });
  if (stored) {
    state.ledger.release_stored();
    // The phase's entries join the index of contents in one statement, now that no store of
    // the phase follows. Lookups find them without it, so the statement need not wait for the
    // disk: lost to a power cut or failed (reported), it costs nothing but speed, and the
    // next run's phase folds them in.
    if (final && db) db->write_unflushed([db] { return ledger_index_recent(*db); });
    return true;
  }
  // As when a disk is full: the run ends here, and its copies stay where they are. The ledger
  // keeps what it stored before, whole (each store is one transaction), so the next run of
  // the card finds those copies and completes the rest.
  const std::string where = db ? db->path() : std::string();
  reporter.report_printf(
      "\nERROR: Can't write the ingest ledger to the catalogue %s. The copies made so far stay "
      "in place; the next run of the card completes the ingestion.\n",
      where.c_str());
  return reporter.fail(text_with_path("Can't write the ingest ledger", where));
}

}  // namespace cw
