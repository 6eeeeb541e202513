// copy_image: target folder inside its tree, the source opened, duplicates found, the bytes
// copied under a temporary name and moved into place, the sidecar, then the JPEG steps (XMP
// merge) and the queueing of the copy's verification.
#include "ingest/first_copy.h"

#include <fcntl.h>
#include <limits.h>
#include <strings.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/path_guard.h"
#include "foundation/sysio.h"
#include "foundation/text.h"
#include "gps/tagging_list.h"
#include "ingest/archive_check.h"
#include "ingest/converter.h"
#include "ingest/copy_io.h"
#include "ingest/copy_steps.h"
#include "ingest/extract_jpeg.h"
#include "ingest/exif_times.h"
#include "ingest/gps_phase.h"
#include "ingest/sidecar_placement.h"
#include "ingest/sidecar_worker.h"
#include "ingest/staged_file.h"
#include "ingest/run_ledger.h"
#include "ingest/unique_target.h"
#include "platform/camera_source.h"

namespace cw {

namespace {

// Bytes a unique-name suffix ("_00001") adds to a target path.
constexpr std::size_t kUniqueSuffixRoom = 6;

bool ends_with_separator(const std::string& s) { return !s.empty() && is_separator(s.back()); }

std::string folder_of(const std::string& path) {
  std::size_t sep = path.find_last_of("/\\");
  return sep == std::string::npos ? std::string(".") : path.substr(0, sep);
}

enum class Formed { kOk, kFailed, kOutside, kTooLong };

// Forms the target path and creates its folder. The folder's text was cleaned when it was
// named; the file system has the last word on where it lands (a link inside the archive may
// lead elsewhere), so a folder that is not really inside the tree is not used.
Formed form_target(EngineContext& ctx, const ImageRecord& r, std::string& folder,
                   std::string& target, std::string& message) {
  if (ctx.first_copy_root.empty() || r.target_folder().empty() || r.new_base_name.empty()) {
    message = "unable to form full path";
    return Formed::kFailed;
  }
  folder = ctx.first_copy_root;
  if (r.target_folder() != ".") {
    if (!ends_with_separator(folder)) folder += '/';
    folder += r.target_folder();
  }
  target = folder;
  if (!ends_with_separator(target)) target += '/';
  target += r.new_base_name;
  if (!r.extension().empty()) target += "." + r.extension();
  if (target.size() + kUniqueSuffixRoom >= PATH_MAX) return Formed::kTooLong;
  if (folder == ctx.checked_folder) return Formed::kOk;
  if (!lands_inside(ctx.real_first_copy_root, folder)) return Formed::kOutside;
  if (!make_folders(ctx, folder)) {
    message = text_with_path("can't create target path", folder);
    return Formed::kFailed;
  }
  // Checked again once made: a link could have been put in its way meanwhile.
  const std::optional<std::string> real = real_path_of(folder);
  if (!real || ctx.real_first_copy_root.empty() ||
      !path_is_inside(ctx.real_first_copy_root, *real))
    return Formed::kOutside;
  ctx.checked_folder = folder;
  ctx.checked_folder_real = *real;
  if (ctx.sidecar_worker) ctx.sidecar_worker->folder_checked(folder, r.target_folder());
  return Formed::kOk;
}

bool is_sidecar_path(const std::string& p) {
  return p.size() > 4 && strcasecmp(p.c_str() + p.size() - 4, ".xmp") == 0;
}

// Copies the image's bytes from a camera stream or a file on disk, hashing them on the way.
// A file that fits the run's buffer is read whole into it, and that one buffer is both hashed
// and written: the card is read once, and the hash the read-back compares the copy with is of
// exactly the bytes the copy was given, even should the card's file change meanwhile. Larger
// files are moved by the kernel where it can, piece by piece.
CopyOutcome copy_source(EngineContext& ctx, const ImageRecord& r, UniqueFd& in, int out,
                        std::unique_ptr<CameraStream>& stream, const std::string& target,
                        ContentHasher& hash) {
  if (!is_camera_path(r.source_path()) && r.size < kCopyBufferSize) {
    const int fd = in.get();
    ChunkReader reader = [fd](void* buf, std::size_t n) -> long long {
      return read_some(fd, buf, n);
    };
    return copy_chunks(ctx.state(), ctx, reader, out, target, &hash);
  }
  if (!is_camera_path(r.source_path()))
    return copy_fd(ctx.state(), ctx, in.get(), out, target, &hash);
  CameraStream* s = stream.get();
  ChunkReader reader = [s](void* buf, std::size_t n) { return s->read(buf, n); };
  return copy_chunks(ctx.state(), ctx, reader, out, target, &hash);
}

enum class Opened { kOk, kFailed, kNotAFile };

Opened open_source(CameraSource* cameras, const ImageRecord& r, UniqueFd& fd,
                   std::unique_ptr<CameraStream>& stream, std::string& message) {
  if (is_camera_path(r.source_path())) {
    stream = open_camera_path(cameras, r.source_path());
    if (stream) return Opened::kOk;
    log_printf("Starting ingestion from PTP; can't open\"%s\"", r.source_path().c_str());
    message = text_with_path("can't open PTP image", r.source_path());
    return Opened::kFailed;
  }
  bool regular = false;
  fd.reset(open_regular_file(r.source_path(), regular));
  if (fd.valid()) return Opened::kOk;
  if (!regular) return Opened::kNotAFile;
  message = text_with_path("can't open", r.source_path());
  return Opened::kFailed;
}

// Copies the bytes into the temporary file, checks the size and gives it the source's time;
// `hash` receives the hash of the bytes copied.
bool copy_bytes(EngineContext& ctx, const ImageRecord& r, UniqueFd& in,
                std::unique_ptr<CameraStream>& stream, StagedFile& out, const std::string& target,
                Hash128& hash, std::string& message) {
  ContentHasher hasher;
  switch (copy_source(ctx, r, in, out.fd(), stream, target, hasher)) {
    case CopyOutcome::kOk: break;
    case CopyOutcome::kStopped: message = "Stopped"; return false;
    case CopyOutcome::kReadError:
      message = text_with_path("read error", r.source_path());
      return false;
    case CopyOutcome::kWriteError:
      message = text_with_path("write error -- check drives for sufficient space", target);
      return false;
  }
  hash = hasher.digest();
  stream.reset();
  if (in.close() != 0) {
    message = text_with_path("close", r.source_path());
    return false;
  }
  struct stat st;
  if (sysio().fstat(out.fd(), &st) != 0) {
    message = text_with_path("stat", target);
    return false;
  }
  if (static_cast<std::uint64_t>(st.st_size) != r.size) {
    ctx.report_printf("\n%s: %llu bytes copied of %llu\n", r.source_path().c_str(),
                      static_cast<unsigned long long>(st.st_size),
                      static_cast<unsigned long long>(r.size));
    message = text_with_path("initial copy size error", r.source_path());
    return false;
  }
  if (!set_fd_times(out.fd(), r.modified))
    ctx.report_printf("\nWARNING: Failed to set modification time for %s\n", r.source_path().c_str());
  if (out.close(static_cast<std::uint64_t>(st.st_size)) != 0) {
    message = text_with_path("close", target);
    return false;
  }
  return true;
}

// Moves the finished copy to the first free name from `name` on. A name that another run took
// meanwhile is compared like any other: holding the same image, it makes this copy a
// duplicate (`name.duplicate` set; the temporary file goes with `staged`). `named` receives
// the copy's fingerprint as it was named, when it was read then (StagedFile::commit).
bool place_copy(EngineContext& ctx, const std::string& target, TargetName& name, SourceFacts& facts,
                StagedFile& staged, std::optional<Fingerprint>& named, std::string& message) {
  std::lock_guard<std::mutex> lock(ctx.control().placement_lock());
  while (!name.duplicate) {
    if (name.exhausted) {
      ctx.report_append("\nERROR: Can't make unique name. Change file name preference.\n");
      message = text_with_path("File create error", target);
      return false;
    }
    if (staged.commit(name.path, false, &named)) return true;
    if (errno != EEXIST) {
      ctx.report_printf("\nerror creating file; code = %d [%s]", errno, name.path.c_str());
      message = text_with_path("File create error", name.path);
      return false;
    }
    name = find_target_name(target, facts, name.suffix);
  }
  return true;
}

void note_target(FolderTable& folders, ImageRecord& r, const std::string& target) {
  std::size_t sep = target.find_last_of("/\\");
  std::string name = target.substr(sep == std::string::npos ? 0 : sep + 1);
  // A suffix sits before a three-character extension, or after a longer one.
  const std::string ext = r.extension().empty() ? "" : "." + r.extension();
  bool has_ext = !ext.empty() && name.size() > ext.size() && name.ends_with(ext);
  r.new_base_name = has_ext ? name.substr(0, name.size() - ext.size()) : name;
  r.set_first_copy(folders, target);
}

// What the sidecar thread prepared for the image, when it is ready.
std::optional<PreparedSidecar> take_prepared(EngineContext& ctx, const ImageRecord& r) {
  std::optional<PreparedSidecar> prepared;
  if (ctx.sidecar_worker && r.index >= 0)
    prepared = ctx.sidecar_worker->take(static_cast<std::size_t>(r.index));
  if (prepared && prepared->source != r.source_path()) prepared.reset();
  return prepared;
}

// The sidecar of a copy just placed, with what the sidecar thread prepared for it. Unless the
// image's later steps read it (`read_now`), a built one is placed by the sidecar thread while
// the next copy is made.
bool sidecar_for_first_copy(EngineContext& ctx, const ImageRecord& r,
                            std::optional<PreparedSidecar>& prepared, bool read_now) {
  if (!settle_sidecar(ctx)) return false;
  // The date goes into a text built here: a prepared one has it already.
  const std::string date =
      prepared && prepared->built ? std::string() : sidecar_date_text(r.capture_time());
  const bool placed =
      create_sidecar(ctx, r.source_path(), &r.base_name, &date, &r.number_text, true,
                     r.first_copy_path(), prepared ? &*prepared : nullptr,
                     read_now ? nullptr : ctx.sidecar_worker.get());
  if (ctx.sidecar_worker) ctx.sidecar_worker->go_on();
  return placed;
}

// Without a backup the copy is final: it joins the run's GPS list when the run tags images,
// with the correction of its camera's clock if it has one. With one it lies in the pre-conversion tree, whose folders are burned apart.
void register_copy(EngineContext& ctx, const ImageRecord& r, const std::string& target) {
  if (!ctx.want_backup) {
    if (!gps_tagging_enabled(ctx)) return;
    register_gps_image(ctx.gps_list, target);
    if (r.recorded_time_shift != 0) ctx.gps_time_shifts[target] = r.recorded_time_shift;
  } else {
    ctx.control().add_burn_folder(BurnList::kPreConversion, folder_of(target));
  }
}

bool is_jpg(const ImageRecord& r) { return strcasecmp(r.extension().c_str(), "JPG") == 0; }

// Merges the sidecar's XMP into a copied JPEG (recorded as `ref`) and queues its decoding (the
// run reports the result once its copies are done; a JPEG that does not decode is counted, the
// copy stays). A sidecar that cannot go in stays beside the JPEG; the card goes on.
void jpeg_steps(EngineContext& ctx, const ImageRecord& r, CopyRef ref, bool gps_follows) {
  if (ctx.xmp_to_jpg) {
    // Said only when there is a sidecar to merge (placed by now): without one the copy stays
    // as it is.
    if (path_exists(sidecar_beside(r.first_copy_path())))
      ctx.status_printf("Writing XMP to JPEG: %s.%s (image %d)", r.base_name.c_str(),
                        r.extension().c_str(), r.index + 1);
    merge_sidecar_into_copy(ctx, r.first_copy_path(), ref, gps_follows);
  } else if (gps_follows) {
    begin_copy_change(ctx.state(), ctx, ref, false);
  }
  if (ctx.jpeg_verify) ctx.image_checks.add_jpeg(r);
}

// The checks of a copy, after its other steps: a JPEG's, or without a converter a raw's (a
// converter verifies the raws it reads). A copy GPS tagging will change is recorded as due to
// change.
void verification_steps(EngineContext& ctx, const ImageRecord& r, CopyRef ref, bool gps_follows) {
  if (is_jpg(r)) return jpeg_steps(ctx, r, ref, gps_follows);
  if (gps_follows) begin_copy_change(ctx.state(), ctx, ref, false);
  if (!converter_of(ctx) && is_convertible_raw(ctx, r.first_copy_path()))
    ctx.image_checks.add_raw(r);
}

// An image found under its target name, copied by a run that was stopped or killed before it
// could record it: the copy is as the card has it, so the changes this run makes to its copies
// are made now.
void changes_of_found_copy(EngineContext& ctx, const ImageRecord& r) {
  if (r.ledger < 0) return;
  const std::size_t entry = static_cast<std::size_t>(r.ledger);
  const LedgerEntry& e = ctx.ledger.at(entry);
  const std::optional<std::size_t> copy =
      copy_in_tree(e, tree_root(ctx.options(), ctx.state(), CopyTree::kFirst));
  if (!copy) return;
  redo_copy_changes(ctx, CopyTree::kFirst,
                    run_path(ctx.options(), ctx.state(), CopyTree::kFirst, e.copies[*copy].path),
                    CopyRef{entry, *copy}, r.source_path());
}

// An archived JPEG whose first copy a killed run left with the card's bytes, its XMP not yet
// merged: the merge (and the tags that follow it on first copies) made now, its sidecar being
// in place by then.
void finish_pending_merge(EngineContext& ctx, const ImageRecord& r) {
  if (r.ledger < 0) return;
  const std::size_t entry = static_cast<std::size_t>(r.ledger);
  const LedgerEntry& e = ctx.ledger.at(entry);
  const std::optional<std::size_t> copy =
      copy_in_tree(e, tree_root(ctx.options(), ctx.state(), CopyTree::kFirst));
  if (!copy || !merge_pending(ctx.options(), ctx.ledger, r, e.copies[*copy])) return;
  redo_copy_changes(ctx, CopyTree::kFirst,
                    run_path(ctx.options(), ctx.state(), CopyTree::kFirst, e.copies[*copy].path),
                    CopyRef{entry, *copy}, r.source_path());
}

}  // namespace

bool copy_image(EngineContext& ctx, ImageRecord& r, std::string& message) {
  if (ctx.stop_requested()) {
    message = "Stopped";
    return false;
  }
  std::string folder, target;
  switch (form_target(ctx, r, folder, target, message)) {
    case Formed::kOk: break;
    case Formed::kFailed: return false;
    case Formed::kOutside:
      ctx.image_failed("path outside root", target);
      return true;
    case Formed::kTooLong:  // that image alone is left on the card
      ctx.image_failed("path too long", target);
      return true;
  }
  if (target.size() > 4 && is_sidecar_path(target)) return true;
  ++ctx.counts.first_copies;
  ctx.first_copy_folder = folder;
  // The source is opened before anything is created for it.
  UniqueFd in;
  std::unique_ptr<CameraStream> stream;
  switch (open_source(ctx.cameras, r, in, stream, message)) {
    case Opened::kOk: break;
    case Opened::kFailed: return false;
    case Opened::kNotAFile:
      ctx.image_failed("not a regular file", r.source_path());
      return true;
  }
  SourceFacts facts;
  facts.path = r.source_path();
  facts.size = r.size;
  facts.modified = r.modified;
  facts.local_times = ctx.card_local_times;
  facts.cameras = ctx.cameras;
  switch (find_archived(ctx, r, facts, message)) {
    case Archived::kNo: break;
    case Archived::kYes:
      ctx.status_printf("Already in the archive: %s.%s (image %d)", r.base_name.c_str(),
                        r.extension().c_str(), r.index + 1);
      // The archive's sidecars are looked at once the one handed over is in place.
      if (!settle_sidecar(ctx)) {
        message.clear();  // reported by the sidecar step
        return false;
      }
      complete_archived_sidecars(ctx, r);
      finish_pending_merge(ctx, r);
      return true;
    case Archived::kFailed: return false;
  }
  TargetName name = find_target_name(target, facts, 0);
  Hash128 hash;
  StagedFile staged;
  if (!name.duplicate) {
    ctx.status_printf("1st copy: %s.%s (image %d)", r.base_name.c_str(), r.extension().c_str(),
                      r.index + 1);
    if (!staged.create(folder, ctx.target_folders.get(folder))) {
      ctx.report_printf("\nerror creating file; code = %d [%s]", errno, target.c_str());
      message = text_with_path("File create error", folder);
      return false;
    }
    if (!copy_bytes(ctx, r, in, stream, staged, target, hash, message)) return false;
    facts.hash = hash;
  }
  // The sidecar of the copy before is in place before this copy is, or the run stops here
  // (the temporary copy goes with `staged`); the archive's sidecars are looked at after it.
  if (!settle_sidecar(ctx)) {
    message.clear();  // reported by the sidecar step
    return false;
  }
  std::optional<Fingerprint> named;
  if (!name.duplicate && !place_copy(ctx, target, name, facts, staged, named, message))
    return false;
  if (name.duplicate) {
    ctx.status_printf("Already in the archive: %s.%s (image %d)", r.base_name.c_str(),
                      r.extension().c_str(), r.index + 1);
    take_archived_name(ctx, r, facts, *name.duplicate);
    complete_archived_sidecars(ctx, r);
    changes_of_found_copy(ctx, r);
    return true;
  }
  log_printf("Copy %s\n\t\t\t\t--> %s", r.source_path().c_str(), name.path.c_str());
  note_target(ctx.folders, r, name.path);
  ctx.disk_flush.note(folder);
  // A copy that gets the sidecar's XMP, GPS tags or corrected dates is read back before it
  // changes; those at the run's end are recorded as due from now on.
  const bool merged = is_jpg(r) && ctx.xmp_to_jpg;
  const bool gps_follows =
      !ctx.want_backup &&
      (gps_tagging_enabled(ctx) || corrected_dates_due(ctx, r.source_path(), name.path));
  // Taken now (the sidecar handed over before is settled): its EXIF values spare the ledger
  // entry the metadata lock, which the sidecar thread may hold meanwhile.
  std::optional<PreparedSidecar> prepared = take_prepared(ctx, r);
  const std::size_t entry = entry_for(ctx, r, hash, prepared ? &prepared->exif : nullptr);
  r.ledger = static_cast<long>(entry);
  // The copy is the file this run just moved into the checked folder: its real path is that
  // folder's with the name the copy took.
  std::string leaf = name.path.substr(folder.size());
  if (!leaf.empty() && is_separator(leaf.front())) leaf.erase(0, 1);
  const std::string real_copy = join_path(ctx.checked_folder_real, leaf);
  const std::size_t copy = record_copy(ctx, entry, CopyTree::kFirst, real_copy, r.size, hash,
                                       merged || gps_follows, named);
  // Read back at once and found damaged, the copy was moved aside (and named): no more steps.
  if (ctx.ledger.at(entry).copies[copy].state == CopyState::kBad) return true;
  const bool raw_preview = !ctx.want_backup && is_convertible_raw(ctx, r.first_copy_path());
  if (!sidecar_for_first_copy(ctx, r, prepared, raw_preview || merged)) {
    message.clear();  // reported by the sidecar step
    return false;
  }
  register_copy(ctx, r, name.path);
  // A final copy of a raw file gets its preview beside it; with a backup the second copy
  // does this in the primary tree.
  if (raw_preview && !extract_jpeg(ctx, nullptr, r.first_copy_path())) {
    message.clear();  // reported by the extraction
    return false;
  }
  verification_steps(ctx, r, CopyRef{entry, copy}, gps_follows);
  return true;
}

}  // namespace cw
