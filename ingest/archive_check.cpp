// Archived files found by content, and the ledger entries of a run's files.
#include "ingest/archive_check.h"

#include <sys/stat.h>

#include <memory>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/path_guard.h"
#include "foundation/sysio.h"
#include "foundation/text.h"
#include "ingest/card_layout.h"
#include "ingest/copy_io.h"
#include "ingest/copy_steps.h"
#include "ingest/run_metadata.h"
#include "ingest/sidecar_placement.h"
#include "metadata/macro_exif.h"
#include "platform/camera_source.h"

namespace cw {

namespace {

// True when, with a backup, the primary or the post-conversion tree lacks a proven copy.
bool lacks_copies(EngineContext& ctx, std::size_t entry) {
  if (!ctx.want_backup) return false;
  if (!proven_copy_in_tree(ctx, entry, CopyTree::kPrimary)) return true;
  return ctx.want_backup_post && !proven_copy_in_tree(ctx, entry, CopyTree::kPost);
}

void take_archived(EngineContext& ctx, ImageRecord& r, std::size_t entry, std::size_t copy,
                   bool earlier) {
  const LedgerEntry& e = ctx.ledger.at(entry);
  log_printf("Copy %s\n\t\t\t\t--> %s", r.source_path().c_str(), e.copies[copy].path.c_str());
  log_printf("\tDuplicate skipped.");
  ++ctx.counts.duplicates;
  r.ledger = static_cast<long>(entry);
  if (!earlier) return;  // a second file of one content on this card
  ++ctx.counts.already_archived;
  recall_damage(ctx.counts, ctx, e, e.copies[copy].path);
  if (!lacks_copies(ctx, entry)) return;
  r.set_first_copy(ctx.folders, run_path(ctx.options(), ctx.state(), CopyTree::kFirst,
                                         ctx.ledger.at(entry).copies[copy].path));
  r.from_earlier_run = true;
}

}  // namespace

std::string run_path(const RunOptions& options, RunState& state, CopyTree tree,
                     const std::string& real_path) {
  const std::string real_root = tree_root(options, state, tree);
  if (real_path.size() <= real_root.size() || !path_is_inside(real_root, real_path))
    return real_path;
  std::string root = root_text(options, tree);
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root + real_path.substr(real_root.size());
}

Archived find_archived(EngineContext& ctx, ImageRecord& r, SourceFacts& facts,
                       std::string& message) {
  if (!ctx.ledger.may_hold(r.size, r.modified, ctx.card_local_times)) return Archived::kNo;
  if (!source_hash(facts)) {
    message = text_with_path("read error", r.source_path());
    return Archived::kFailed;
  }
  const std::optional<std::size_t> entry = ctx.ledger.find(*facts.hash, r.size);
  if (!entry) return Archived::kNo;
  if (ctx.ledger.first_look(*entry)) finish_interrupted_changes(ctx, *entry, r.source_path());
  // A copy found changed is kept; the image is then copied again, beside it.
  const std::optional<std::size_t> copy = proven_copy_in_tree(ctx, *entry, CopyTree::kFirst);
  if (!copy) return Archived::kNo;
  take_archived(ctx, r, *entry, *copy, !ctx.ledger.created_here(*entry));
  return Archived::kYes;
}

void take_archived_name(EngineContext& ctx, ImageRecord& r, SourceFacts& facts,
                        const std::string& path) {
  const std::size_t entry = entry_for(ctx, r, *facts.hash);
  LedgerCopy copy;
  copy.tree = CopyTree::kFirst;
  copy.root = tree_root(ctx.options(), ctx.state(), CopyTree::kFirst);
  copy.path = real_path_of(path).value_or(path);
  copy.size = facts.size;
  copy.hash = facts.hash;
  copy.state = CopyState::kVerified;  // its content was just read and hashed
  copy.checked = true;
  announce_copy_beside(ctx.state(), ctx, entry, CopyTree::kFirst, copy.path);
  const std::size_t index = put_copy(ctx.ledger.at(entry), std::move(copy));
  take_archived(ctx, r, entry, index, true);
}

EntryExif entry_exif(MacroEnvironment& env, const std::string& source) {
  EntryExif exif;
  if (has_no_exif_by_design(source)) return exif;
  exif.camera_serial = exif_macro_value(env, "SerialNumber", source);
  exif.captured = exif_capture_datetime(env, source).value_or("");
  return exif;
}

std::size_t entry_for(EngineContext& ctx, const ImageRecord& r, const Hash128& hash,
                      const EntryExif* exif) {
  if (std::optional<std::size_t> known = ctx.ledger.find(hash, r.size)) return *known;
  LedgerEntry e;
  e.ingestion_id = ctx.ingestion_id;
  e.card_label = ctx.card_label;
  e.card_uuid = ctx.card_uuid;
  // The source as a path below the scan root; a clip a DCIM scan took from the card's video
  // folders as its path below the card (PRIVATE/M4ROOT/CLIP/C0001.MP4), as the verdict names it.
  e.source = r.source_path();
  auto strip = [&e](const std::string& root) {
    if (e.source.size() <= root.size() + 1 || e.source.compare(0, root.size(), root) != 0 ||
        !(is_separator(e.source[root.size()]) || is_separator(root.back())))
      return false;
    e.source.erase(0, root.size() + (is_separator(e.source[root.size()]) ? 1 : 0));
    return true;
  };
  if (!is_camera_path(ctx.scan_root) && !strip(ctx.scan_root))
    if (std::optional<std::string> card = card_root_of_dcim(ctx.scan_root)) strip(*card);
  e.size = r.size;
  e.modified = r.modified;
  e.hash = hash;
  EntryExif read;
  if (!exif) {
    // The run's remembered values: naming read this image already.
    auto held = ctx.metadata().hold();
    read = entry_exif(ctx.macro_environment(), r.source_path());
    exif = &read;
  }
  e.camera_serial = exif->camera_serial;
  e.captured = exif->captured;
  return ctx.ledger.add(std::move(e));
}

bool measure_file(RunState& state, const std::string& path, Hash128& hash, std::uint64_t& size,
                  std::optional<Fingerprint>* fingerprint) {
  const std::int64_t now = real_time_ns();
  struct stat st;
  if (!ensure_read_buffer(state) || sysio().stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      !hash_file(path, hash, state.read_buffer.get(), kCopyBufferSize))
    return false;
  size = static_cast<std::uint64_t>(st.st_size);
  if (fingerprint) {
    const Fingerprint fp = fingerprint_of(st);
    *fingerprint = fingerprint_settled(fp, now, change_time_tick_ns(path))
                       ? std::optional<Fingerprint>(fp)
                       : std::nullopt;
  }
  return true;
}

void hash_changed_copies(RunState& state) {
  state.ledger.change_copies([](const LedgerCopy& c) { return !c.hash && copy_counts(c.state); },
                             [&state](LedgerCopy& c) {
                               Hash128 h;
                               std::uint64_t size = 0;
                               if (!measure_file(state, c.path, h, size, &c.fingerprint)) return;
                               c.hash = h;
                               c.size = size;
                               c.stored = false;
                             });
}

}  // namespace cw
