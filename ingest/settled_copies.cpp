// The kept end-of-run look at each image's copies.
#include "ingest/settled_copies.h"

#include "ingest/engine_context.h"
#include "ingest/run_ledger.h"
#include "ingest/sidecar_placement.h"

namespace cw {

namespace {

constexpr std::size_t kTrees = 3;  // CopyTree's values
constexpr std::uint32_t kLooked = 1, kSidecar = 2, kCompanions = 4;
constexpr unsigned kCopyShift = 3;

// The copy is still one copy_in_tree would find by its record (its file aside).
bool still_recorded(const LedgerEntry& e, std::size_t copy) {
  if (copy >= e.copies.size()) return false;
  const CopyState s = e.copies[copy].state;
  return copy_counts(s) || s == CopyState::kPending || s == CopyState::kChanging;
}

SettledCopy look_now(const RunOptions& options, RunState& state, const ImageRecord& r,
                     const LedgerEntry& e, CopyTree tree) {
  SettledCopy found;
  found.copy = copy_in_tree(e, tree_root(options, state, tree));
  if (!found.copy) return found;
  const LedgerCopy& c = e.copies[*found.copy];
  found.sidecar = sidecar_in_place(options, state.ledger, r, c);
  found.companions = companions_in_place(r, c);
  return found;
}

}  // namespace

SettledCopy SettledCopies::look(const RunOptions& options, RunState& state, const ImageRecord& r,
                                const LedgerEntry& entry, CopyTree tree) {
  const std::size_t images = state.images.size();
  const auto t = static_cast<std::size_t>(tree);
  if (r.index < 0 || static_cast<std::size_t>(r.index) >= images || t >= kTrees)
    return look_now(options, state, r, entry, tree);
  if (looks_.size() != images * kTrees) looks_.assign(images * kTrees, 0);
  std::uint32_t& kept = looks_[static_cast<std::size_t>(r.index) * kTrees + t];
  // A copy the ledger gave up on meanwhile (a late read-back found it bad) is looked at again.
  if (const std::uint32_t copy = kept >> kCopyShift; copy > 0 && !still_recorded(entry, copy - 1))
    kept = 0;
  if (kept == 0) {
    const SettledCopy found = look_now(options, state, r, entry, tree);
    kept = kLooked | (found.sidecar ? kSidecar : 0) | (found.companions ? kCompanions : 0) |
           (found.copy ? static_cast<std::uint32_t>(*found.copy + 1) << kCopyShift : 0);
    return found;
  }
  SettledCopy found;
  if (const std::uint32_t copy = kept >> kCopyShift; copy > 0) found.copy = copy - 1;
  found.sidecar = (kept & kSidecar) != 0;
  found.companions = (kept & kCompanions) != 0;
  return found;
}

}  // namespace cw
