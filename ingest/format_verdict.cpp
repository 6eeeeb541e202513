// The safe-to-format verdict.
#include "ingest/format_verdict.h"

#include <strings.h>

#include "foundation/text.h"
#include "ingest/run_ledger.h"
#include "ingest/sidecar_placement.h"

namespace cw {

namespace {

// Names shown in the line before "and N more".
constexpr std::size_t kNamesShown = 5;

// `e`: r's ledger entry.
bool proven_everywhere(const RunOptions& options, RunState& state, const ImageRecord& r,
                       const LedgerEntry& e, const std::vector<CopyTree>& trees) {
  for (const CopyTree tree : trees) {
    const SettledCopy settled = state.settled_copies.look(options, state, r, e, tree);
    const std::optional<std::size_t> c = settled.copy;
    // A copy of an earlier run counts only once this run checked it (run_ledger.h).
    if (!c || !copy_proven(e.copies[*c].state) || !e.copies[*c].checked) return false;
    if (!settled.sidecar || !settled.companions) return false;
  }
  return true;
}

std::string plural(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The first names of a list, then "and N more".
std::string first_names(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size() && i < kNamesShown; ++i)
    out += (i ? ", " : "") + names[i];
  if (names.size() > kNamesShown)
    out += " and " + std::to_string(names.size() - kNamesShown) + " more";
  return out;
}

// "N things (NAME, ...)" for files the scan left on the card; `count` may exceed the names
// kept (a name that could not be kept is counted all the same).
std::string left_files(int count, const std::vector<std::string>& names, const char* why) {
  std::string reason = plural(count, "file", "files") + why;
  if (!names.empty()) reason += " (" + first_names(names) + ")";
  return reason;
}

}  // namespace

std::vector<CopyTree> wanted_trees(const RunOptions& options) {
  std::vector<CopyTree> trees{CopyTree::kFirst};
  if (options.want_backup) trees.push_back(CopyTree::kPrimary);
  if (options.want_backup && options.want_backup_post) trees.push_back(CopyTree::kPost);
  return trees;
}

const char* tree_name(const RunOptions& options, CopyTree tree) {
  switch (tree) {
    case CopyTree::kFirst: return options.want_backup ? "the backup tree" : "the primary tree";
    case CopyTree::kPrimary: return "the primary tree";
    case CopyTree::kPost: return "the post-conversion backup tree";
  }
  return "the primary tree";
}

bool is_taken_image(const ImageRecord& r) {
  return strcasecmp(r.extension().c_str(), "xmp") != 0;
}

void make_verdict(const RunOptions& options, RunState& state, RunResult& result, bool run_ok) {
  FormatVerdict& v = result.verdict;
  v = FormatVerdict{};
  v.made = true;
  const std::vector<CopyTree> trees = wanted_trees(options);
  v.trees = static_cast<int>(trees.size());
  std::vector<std::string> unsafe;
  int unmapped = 0;  // unsafe images with copies below archive roots this station does not map
  LedgerEntry scratch;
  for (const ImageRecord& r : state.images) {
    if (!is_taken_image(r)) continue;
    ++v.images;
    const LedgerEntry* e =
        r.ledger >= 0 ? &state.ledger.read(static_cast<std::size_t>(r.ledger), scratch) : nullptr;
    if (!e || !proven_everywhere(options, state, r, *e, trees)) {
      unsafe.push_back(r.base_name + (r.extension().empty() ? "" : ".") + r.extension());
      unmapped += e && has_unmapped_copy(*e);
    }
  }
  const RunCounters& c = result.counts;
  std::vector<std::string> reasons;
  if (!unsafe.empty()) {
    std::string names;
    for (std::size_t i = 0; i < unsafe.size() && i < kNamesShown; ++i)
      names += (i ? ", " : "") + unsafe[i];
    if (unsafe.size() > kNamesShown)
      names += " and " + std::to_string(unsafe.size() - kNamesShown) + " more";
    std::string reason = std::to_string(unsafe.size()) + " of " +
                         plural(v.images, "image", "images") +
                         " lack a verified copy in every tree (" + names + ")";
    if (!options.verify_copies) reason += "; copies are read back only with --verify-copies";
    if (unmapped > 0)
      reason += "; " + std::to_string(unmapped) +
                " of them have copies below archive roots this station does not map";
    reasons.push_back(reason);
  }
  if (c.damaged_jpegs > 0)
    reasons.push_back(plural(c.damaged_jpegs, "damaged JPEG", "damaged JPEGs"));
  if (c.jpegs_corrupt > 0)
    reasons.push_back(plural(c.jpegs_corrupt, "corrupt JPEG", "corrupt JPEGs"));
  if (c.raws_corrupt > 0)
    reasons.push_back(plural(c.raws_corrupt, "corrupt raw file", "corrupt raw files"));
  if (c.skipped_by_extension > 0)
    reasons.push_back(left_files(c.skipped_by_extension, state.card_files.left_by_filter,
                                 " left on the card by the extension filter"));
  if (c.skipped_by_scan > 0)
    reasons.push_back(left_files(c.skipped_by_scan, state.card_files.skipped,
                                 " skipped by the scan"));
  if (options.file_array) reasons.push_back("only chosen images were taken from the card");
  if (!run_ok) reasons.push_back("the ingestion ended with an error");
  v.safe = reasons.empty();
  if (v.safe) {
    v.line = "Card safe to format: all " + plural(v.images, "image has", "images have") +
             " verified copies in " + plural(v.trees, "tree", "trees");
  } else {
    v.line = "Card not yet safe to format: ";
    for (std::size_t i = 0; i < reasons.size(); ++i) v.line += (i ? "; " : "") + reasons[i];
  }
  result.report += "\n" + unmapped_roots_note(state.ledger) + v.line + "\n";
}

}  // namespace cw
