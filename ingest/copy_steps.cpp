// Recorded changes of copies: the ledger's "changing" state around each change, the XMP merge
// of a JPEG copy, and the settling of changes a killed run left.
#include "ingest/copy_steps.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/sysio.h"
#include "gps/tagging_list.h"
#include "ingest/archive_check.h"
#include "ingest/copy_io.h"
#include "ingest/exif_times.h"
#include "ingest/gps_phase.h"
#include "ingest/run_ledger.h"
#include "ingest/run_metadata.h"
#include "ingest/sidecar_placement.h"
#include "metadata/jpeg_xmp.h"

namespace cw {

namespace {

// The temporary file a change writes beside the copy (the merge's and ExifTool's alike).
std::string change_temp_path(const std::string& copy) { return copy + "-cwtmp"; }

std::string sidecar_of(const std::string& jpeg) {
  return jpeg.size() > 4 ? jpeg.substr(0, jpeg.size() - 4) + ".xmp" : "";
}

bool is_jpg_path(const std::string& path) {
  return path.size() > 4 && strcasecmp(path.c_str() + path.size() - 4, ".jpg") == 0;
}

// The state of a copy a killed run left changing, once it is measured again: what it was before
// is not recorded, but a change begins only on a copy read back (or, without verification,
// written).
CopyState settled_state(const RunOptions& options) {
  return options.verify_copies ? CopyState::kVerified : CopyState::kWritten;
}

}  // namespace

bool begin_copy_change(RunState& state, RunReporter& reporter, CopyRef ref, bool store) {
  LedgerCopy& c = state.ledger.at(ref.entry).copies[ref.copy];
  if (c.state != CopyState::kChanging && !copy_counts(c.state)) return false;
  if (!c.hash) {
    Hash128 hash;
    std::uint64_t size = 0;
    if (!measure_file(state, c.path, hash, size)) return false;
    c.hash = hash;
    c.size = size;
  }
  const CopyState before = c.state;
  if (before != CopyState::kChanging) c.before_change = before;
  c.state = CopyState::kChanging;
  c.fingerprint.reset();  // the file is about to change
  c.stored = false;
  if (!store) return true;
  // Stored only when all its copies are settled: without that record the change could leave a
  // copy the next run takes for another image's.
  if (state.ledger.store(false) && (c.stored || !state.ledger.database())) return true;
  reporter.report_printf("\nWARNING: Can't write the ingest ledger; %s is left unchanged.\n",
                         c.path.c_str());
  c.state = before;
  return false;
}

void end_copy_change(RunState& state, RunReporter& reporter, CopyRef ref) {
  LedgerCopy& c = state.ledger.at(ref.entry).copies[ref.copy];
  if (c.state != CopyState::kChanging) return;
  Hash128 hash;
  std::uint64_t size = 0;
  if (measure_file(state, c.path, hash, size, &c.fingerprint)) {
    c.hash = hash;
    c.size = size;
    c.state = c.before_change;
  } else {
    c.state = CopyState::kBad;
    reporter.image_failed("copy cannot be read after its change", c.path);
  }
  c.stored = false;
}

void continue_copy_change(RunState& state, CopyRef ref) {
  LedgerCopy& c = state.ledger.at(ref.entry).copies[ref.copy];
  Hash128 hash;
  std::uint64_t size = 0;
  if (measure_file(state, c.path, hash, size)) {
    c.hash = hash;
    c.size = size;
    c.stored = false;
  }
}

void merge_sidecar_into_copy(EngineContext& ctx, const std::string& jpeg,
                             std::optional<CopyRef> record, bool gps_follows) {
  // The sidecar's placement and the merge share the metadata state.
  auto held = ctx.metadata().hold();
  const std::string sidecar = sidecar_of(jpeg);
  if (!path_exists(sidecar)) {
    if (record && gps_follows) begin_copy_change(ctx.state(), ctx, *record, false);
    return;
  }
  if (record && !begin_copy_change(ctx.state(), ctx, *record, true)) return;
  const bool merged = merge_xmp_into_jpeg(jpeg, SidecarAfterMerge::kKeep);
  if (!merged) {
    ctx.report_printf("\nWARNING: can't write XMP to JPEG: %s; its sidecar %s stays beside it.\n",
                      jpeg.c_str(), sidecar.c_str());
    log_printf("can't write XMP to JPEG: %s", jpeg.c_str());
  }
  // The new hash is known before the sidecar goes: a kill in between leaves the sidecar, and
  // the next run merges it again.
  if (record && !gps_follows) end_copy_change(ctx.state(), ctx, *record);
  if (record && gps_follows && merged) continue_copy_change(ctx.state(), *record);
  // A raw of the same name keeps the sidecar they share.
  if (merged && !shares_sidecar(jpeg) && sysio().unlink(sidecar.c_str()) != 0 && errno != ENOENT)
    ctx.report_printf("\nWARNING: can't unlink %s\n", sidecar.c_str());
}

void redo_copy_changes(EngineContext& ctx, CopyTree tree, const std::string& path, CopyRef ref,
                       const std::string& source) {
  // Dates first, GPS tags (which record their own change) after.
  if (ctx.want_backup ? tree == CopyTree::kPrimary : tree == CopyTree::kFirst)
    write_corrected_dates(ctx, path, source, ref, false);
  const bool gps_here = gps_tagging_enabled(ctx) &&
                        (ctx.want_backup ? tree == CopyTree::kPrimary : tree == CopyTree::kFirst);
  if (tree == CopyTree::kFirst && ctx.xmp_to_jpg && is_jpg_path(path))
    merge_sidecar_into_copy(ctx, path, ref, gps_here);
  if (!gps_here) return;
  if (tree == CopyTree::kPrimary) {
    gps_tag_file(ctx, path, ref);
  } else if (begin_copy_change(ctx.state(), ctx, ref, false)) {
    register_gps_image(ctx.gps_list, path);
  }
}

void finish_interrupted_changes(EngineContext& ctx, std::size_t entry, const std::string& source) {
  for (std::size_t i = 0; i < ctx.ledger.at(entry).copies.size(); ++i) {
    LedgerCopy& c = ctx.ledger.at(entry).copies[i];
    // Only copies in this run's trees: a tree of another run may be on a disk not connected.
    if (c.state != CopyState::kChanging || c.root != tree_root(ctx.options(), ctx.state(), c.tree))
      continue;
    sysio().unlink(change_temp_path(c.path).c_str());
    const CopyTree tree = c.tree;
    log_printf("Settling the interrupted change of %s", c.path.c_str());
    // The file is the copy as it was or the complete result of its change: either is the
    // image's copy now.
    c.stored = false;
    Hash128 hash;
    std::uint64_t size = 0;
    if (!measure_file(ctx, c.path, hash, size, &c.fingerprint)) {
      c.state = CopyState::kBad;  // gone: the image is copied again
      continue;
    }
    c.hash = hash;
    c.size = size;
    c.state = settled_state(ctx);
    redo_copy_changes(ctx, tree, run_path(ctx.options(), ctx.state(), tree, c.path),
                      CopyRef{entry, i}, source);
  }
}

}  // namespace cw
