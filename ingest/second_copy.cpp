// Second copy by folder runs (conversion or plain copy), and the third copy.
#include "ingest/second_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/content_hash.h"
#include "foundation/path_guard.h"
#include "foundation/sysio.h"
#include "foundation/text.h"
#include "ingest/archive_check.h"
#include "ingest/card_layout.h"
#include "ingest/converter.h"
#include "ingest/copy_file.h"
#include "ingest/copy_io.h"
#include "ingest/damaged_copy.h"
#include "ingest/extract_jpeg.h"
#include "ingest/exif_times.h"
#include "ingest/gps_phase.h"
#include "ingest/run_ledger.h"
#include "ingest/run_metadata.h"
#include "ingest/sidecar_placement.h"
#include "ingest/sidecar_worker.h"
#include "ingest/unique_target.h"
#include "platform/camera_source.h"

namespace cw {

namespace {

std::size_t last_separator(const std::string& s) { return s.find_last_of("/\\"); }

std::string name_of(const std::string& path) {
  std::size_t sep = last_separator(path);
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

// The position of the "." of an extension of at least three characters, or npos.
std::size_t long_extension_dot(const std::string& path) {
  std::size_t dot = path.rfind('.');
  std::size_t sep = last_separator(path);
  if (dot == std::string::npos || (sep != std::string::npos && sep > dot)) return std::string::npos;
  return path.size() - dot - 1 >= 3 ? dot : std::string::npos;
}

// A second or third copy's folder must really lie in its tree, as a first copy's does (a link
// inside the tree could lead elsewhere); then it is made.
bool make_folder_in_tree(EngineContext& ctx, const std::string& folder, const std::string& root) {
  const std::optional<std::string> real_root = real_path_of(root);
  if (!real_root || !lands_inside(*real_root, folder))
    return ctx.fail(text_with_path("path outside root", folder));
  return make_folders(ctx, folder);
}

// The real path of a copy just made at `target`: its folder as the system resolves it (looked
// up once for the files of one folder in a row) and its name. The copy is a file this run has
// just created, never a link, so only the folders on the way can lead elsewhere.
std::string real_copy_path(RunState& state, const std::string& target) {
  const std::size_t sep = last_separator(target);
  if (sep == std::string::npos || sep == 0) return real_path_of(target).value_or(target);
  if (target.compare(0, sep, state.copied_folder) != 0 || state.copied_folder.size() != sep) {
    const std::optional<std::string> real = real_path_of(target.substr(0, sep));
    if (!real) return real_path_of(target).value_or(target);
    state.copied_folder = target.substr(0, sep);
    state.copied_folder_real = *real;
  }
  return join_path(state.copied_folder_real, target.substr(sep + 1));
}

void announce(EngineContext& ctx, bool converting) {
  const char* text = !converting      ? "Skipping Adobe DNG Converter"
                     : ctx.counts.verify_only ? "Running Adobe DNG Converter for verification only"
                                       : "Running Adobe DNG Converter";
  ctx.report_printf("%s\n", text);
  ctx.status_set(converting ? text : "Copying images to primary folder(s)");
  ctx.report_append("\n");
}

// The primary folder for a folder of the first-copy tree.
std::string destination_for(const RunOptions& options, const std::string& first_copy,
                            const std::string& folder) {
  std::size_t root = options.first_copy_root.size();
  std::string destination = *options.primary_root;
  if (root >= first_copy.size() || !is_separator(first_copy[root])) destination += '/';
  if (folder.size() > root) destination += folder.substr(root);
  return destination;
}

// Files of one folder planned and copied together when no converter runs.
constexpr std::size_t kFilesPlannedTogether = 1000;

// Hands the folder's raw files to the converter, 100 at a time.
bool convert_folder(EngineContext& ctx, std::string& message, const std::string& program,
                    const std::vector<const std::string*>& files, const std::string& output) {
  std::vector<std::string> args = converter_fixed_args(ctx, program, output);
  const std::size_t fixed = args.size();
  const int corrupt_before = ctx.counts.raws_corrupt;
  int given = 0;
  for (const std::string* file : files) {
    if (!is_convertible_raw(ctx, *file)) continue;
    args.push_back(*file);
    ++given;
    if (args.size() - fixed == kFilesPerConverterRun) {
      if (!run_converter(ctx, ctx.counts, program, args, fixed, message)) return false;
      args.resize(fixed);
    }
  }
  if (!run_converter(ctx, ctx.counts, program, args, fixed, message)) return false;
  ctx.counts.raws_converted += given - (ctx.counts.raws_corrupt - corrupt_before);
  return true;
}

// A converted raw's DNG gets the raw's time. A missing one is usually a raw the converter
// reported, but a converter can also fail quietly; the report says so either way, since the
// primary tree then lacks that image (its raw stays in the backup tree).
bool date_dng(EngineContext& ctx, const std::string& raw, const std::string& dng) {
  struct stat st;
  if (sysio().stat(dng.c_str(), &st) != 0) {
    log_printf("Converted file \"%s\" does not exist, probably because of conversion error.",
               dng.c_str());
    ctx.report_printf(
        "\nWARNING: Converted file \"%s\" does not exist, probably because of conversion "
        "error.\n", dng.c_str());
    return true;
  }
  if (sysio().stat(raw.c_str(), &st) != 0) return ctx.fail("stat failed getting raw-file time");
  if (!set_file_times(dng, st.st_mtime)) return ctx.fail("utime failed setting DNG time");
  return true;
}

std::uint64_t file_size(const std::string& path) {
  struct stat st;
  return sysio().stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// The image of a first copy, and its ledger entry; none for a file the run does not know.
struct Image {
  ImageRecord* record = nullptr;
  std::optional<std::size_t> entry;
};

Image image_of(const FirstCopies& images, const std::string& file) {
  Image image;
  std::string path;  // each record's, built in one buffer
  const auto path_of = [&path](const ImageRecord* r) -> const std::string& {
    path.clear();
    r->append_first_copy_path(path);
    return path;
  };
  auto it = std::lower_bound(
      images.begin(), images.end(), file,
      [&](const ImageRecord* r, const std::string& wanted) { return path_of(r) < wanted; });
  if (it == images.end() || path_of(*it) != file) return image;
  image.record = *it;
  if (image.record->ledger >= 0) image.entry = static_cast<std::size_t>(image.record->ledger);
  return image;
}

// The hash of a recorded copy's file as it lies there: recorded, else read (and kept).
std::optional<Hash128> content_of(EngineContext& ctx, std::size_t entry, std::size_t copy) {
  LedgerCopy& c = ctx.ledger.at(entry).copies[copy];
  if (c.hash) return c.hash;
  if (!ensure_read_buffer(ctx)) return std::nullopt;
  Hash128 h;
  if (!hash_file(c.path, h, ctx.read_buffer.get(), kCopyBufferSize)) return std::nullopt;
  c.hash = h;
  c.stored = false;
  return h;
}

// A file at `path` that holds the content `hash`, recorded as the entry's copy in `tree`.
std::size_t keep_found_copy(EngineContext& ctx, std::size_t entry, CopyTree tree,
                            const std::string& path, const Hash128& hash) {
  LedgerEntry& e = ctx.ledger.at(entry);
  LedgerCopy c;
  c.tree = tree;
  c.root = tree_root(ctx.options(), ctx.state(), tree);
  c.path = real_path_of(path).value_or(path);
  c.size = file_size(path);
  c.hash = hash;
  c.state = CopyState::kVerified;  // its content was just read and hashed
  c.checked = true;
  announce_copy_beside(ctx.state(), ctx, entry, tree, c.path);
  log_printf("Copy made before, kept: %s", path.c_str());
  return put_copy(e, std::move(c));
}

// A copy of `source` (recorded as copy `from` of the entry, or the card's file) into `target`
// in `tree`. A target that is there already and holds the same content (a copy a stopped run
// made before it could record it) is recorded as it is. A recorded copy of the image there
// that holds other content now (changed after it was made, or damaged) is never replaced: the
// copy goes beside it under the first free suffixed name, which `target` then holds, and the
// report names both. Any other file there stops the run ("will not overwrite file"). `made`
// says whether bytes were copied; `copy` receives the recorded copy.
bool copy_recorded(EngineContext& ctx, const std::string& source, std::string& target,
                   std::optional<std::size_t> entry, std::optional<std::size_t> from,
                   CopyTree tree, bool count, bool tolerate_unreadable,
                   std::optional<std::size_t>& copy, bool& made) {
  made = false;
  CopyHash hash;
  if (entry && from) hash.known = ctx.ledger.at(*entry).copies[*from].hash;
  struct stat st, src;
  if (entry && sysio().lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    // Copied from the card, the copy holds the content of the entry itself.
    const std::optional<Hash128> expected =
        from ? content_of(ctx, *entry, *from) : std::optional<Hash128>(ctx.ledger.at(*entry).hash);
    Hash128 there;
    if (expected && ensure_read_buffer(ctx) &&
        hash_file(target, there, ctx.read_buffer.get(), kCopyBufferSize) && there == *expected) {
      copy = keep_found_copy(ctx, *entry, tree, target, there);
      return true;
    }
    const std::optional<std::string> real = real_path_of(target);
    const bool recorded = real && copy_at(ctx.ledger.at(*entry), *real);
    if (recorded && expected && sysio().stat(source.c_str(), &src) == 0) {
      SourceFacts facts;
      facts.path = source;
      facts.size = static_cast<std::uint64_t>(src.st_size);
      facts.modified = src.st_mtime;
      facts.hash = expected;
      const TargetName beside = find_target_name(target, facts, 1);
      if (beside.exhausted) return ctx.fail(text_with_path("no free name for a copy", target));
      const std::string& path = beside.duplicate ? *beside.duplicate : beside.path;
      ctx.report_printf("\nWARNING: \"%s\" holds other content and stays; the copy is \"%s\"\n",
                        target.c_str(), path.c_str());
      target = path;
      if (beside.duplicate) {
        copy = keep_found_copy(ctx, *entry, tree, target, *expected);
        return true;
      }
    }
  }
  if (!copy_file(ctx.state(), ctx.counts, ctx, source, target, count, true, tolerate_unreadable,
                 &hash))
    return false;
  if (!hash.copied || !entry) return true;
  made = true;
  // Tagged at once (GPS tags, corrected dates), a copy is read back before the tags change it.
  const bool tagged =
      tree == CopyTree::kPrimary && (gps_tagging_enabled(ctx) || ctx.write_exif_times);
  if (from && !ctx.ledger.at(*entry).copies[*from].hash)
    ctx.ledger.at(*entry).copies[*from].hash = hash.written;  // read whole for the copy
  copy = record_copy(ctx, *entry, tree, real_copy_path(ctx.state(), target), hash.size,
                     hash.written, tagged, hash.named);
  return true;
}

// The second copy of the first copy `file`, made from `source`: the first copy itself, or the
// card's file when the first copy could not be proven. Its sidecar is the first copy's, or one
// built as the first copy's would have been when that one is missing.
bool copy_unchanged(EngineContext& ctx, const std::string& file, const std::string& source,
                    std::string& target, const Image& image,
                    std::optional<std::size_t>& copy, bool& made) {
  ctx.status_printf("2nd copy: %s", name_of(file).c_str());
  std::optional<std::size_t> from;
  if (image.entry && source == file)
    from = proven_copy_in_tree(ctx, *image.entry, CopyTree::kFirst);
  if (!copy_recorded(ctx, source, target, image.entry, from, CopyTree::kPrimary, true, false,
                     copy, made))
    return false;
  const ImageRecord* r = image.record;
  const std::string date = r ? sidecar_date_text(r->capture_time()) : std::string();
  auto held = ctx.metadata().hold();
  return create_sidecar(ctx, file, r ? &r->base_name : nullptr, r ? &date : nullptr,
                        r ? &r->number_text : nullptr, false, target);
}

// The DNG the converter made for a raw: the image's copy in the primary tree.
std::optional<std::size_t> record_converted(EngineContext& ctx, const Image& image,
                                            const std::string& dng) {
  struct stat st;
  if (!image.entry || sysio().stat(dng.c_str(), &st) != 0) return std::nullopt;
  LedgerEntry& e = ctx.ledger.at(*image.entry);
  LedgerCopy c;
  c.tree = CopyTree::kPrimary;
  c.root = tree_root(ctx.options(), ctx.state(), CopyTree::kPrimary);
  c.path = real_path_of(dng).value_or(dng);
  c.size = static_cast<std::uint64_t>(st.st_size);
  c.state = CopyState::kConverted;  // its hash is made at the end of the run
  c.checked = true;
  return put_copy(e, std::move(c));
}

// How far ahead of the copy being made the sources of a folder's next copies are read into the
// cache, in bytes.
constexpr std::uint64_t kPrefetchBytes = 32ull << 20;

// Has the system start reading `path` into the cache, without waiting for it. The first
// copies were dropped from the cache by their read-backs: read only as each is copied, every
// small one would keep the copying waiting for the disk, where read ahead many are under way
// at once. Only advice: a file that cannot be opened is left to its copy to report (opened
// without waiting, as a copy's source is: a pipe put in a file's place must not hold the run).
void prefetch(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
  if (fd.valid()) ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_WILLNEED);
}

// Each first copy gets a second copy and, with a post-conversion backup, a third.
std::uint64_t copies_per_file(const RunOptions& options) {
  return options.want_backup_post ? 2 : 1;
}

// The file the missing copies of an image are made from.
enum class Source { kNone, kFirstCopy, kCard };

// The file the missing copies of an image are made from: none when there is none to trust.
// The first copy is one while it is a copy: one that failed its read-back is none (the image
// was reported), and one an earlier run made must still hash to what the ledger recorded of
// it; otherwise the card's file is, whose content the run matched with the ledger when it
// found the image archived, as long as it is copied unchanged (a converter names its output
// after the first copy).
Source restore_source(EngineContext& ctx, const std::string& file, const Image& image,
                      bool convert) {
  if (!image.entry) return Source::kFirstCopy;
  const std::optional<std::size_t> first = copy_in_tree(
      ctx.ledger.at(*image.entry), tree_root(ctx.options(), ctx.state(), CopyTree::kFirst));
  if (!first) return Source::kNone;
  if (!image.record->from_earlier_run ||
      prove_restore_source(ctx.state(), ctx, *image.entry, *first))
    return Source::kFirstCopy;
  if (!convert && !is_camera_path(image.record->source_path())) return Source::kCard;
  ctx.image_failed("no proven copy to make the missing copies from", file);
  return Source::kNone;
}

// True when the copy just made failed its read-back at once (it was moved aside): nothing more
// is done with it.
bool failed_at_once(RunState& state, const Image& image, std::optional<std::size_t> copy) {
  return image.entry && copy &&
         state.ledger.at(*image.entry).copies[*copy].state == CopyState::kBad;
}

}  // namespace

bool convert_or_copy_folder(EngineContext& ctx, std::string& message,
                            const std::vector<const std::string*>& files,
                            const std::string& destination, const FirstCopies& images) {
  ctx.control().add_burn_folder(BurnList::kPrimary, destination);
  if (!make_folder_in_tree(ctx, destination, *ctx.primary_root)) return false;
  ctx.disk_flush.note(destination);  // the converter's DNGs are flushed with the copies
  const std::optional<std::string> program = converter_of(ctx);
  const bool copy_everything = ctx.counts.verify_only || !program;
  const std::string primary_root = tree_root(ctx.options(), ctx.state(), CopyTree::kPrimary);
  // Each file's result in the primary tree. An image whose copy an earlier run put there (or
  // whose DNG is there already) is neither copied nor converted again.
  struct Planned {
    const std::string* file = nullptr;
    Source source = Source::kNone;  // none: no copy is made (the report says why)
    Image image;
    std::string target;
    bool convert = false;
    std::optional<std::size_t> primary;
  };
  std::vector<Planned> plan;
  std::vector<const std::string*> to_convert;
  for (const std::string* file : files) {
    Planned p;
    p.file = file;
    p.image = image_of(images, *file);
    p.target = destination + "/" + name_of(*file);
    const std::size_t dot = long_extension_dot(p.target);
    p.convert = !copy_everything && is_convertible_raw(ctx, *file) && dot != std::string::npos;
    if (p.convert) p.target.replace(dot, std::string::npos, ".dng");
    if (p.image.entry) p.primary = proven_copy_in_tree(ctx, *p.image.entry, CopyTree::kPrimary);
    // A copy there that changed since it was proven stays: a plain copy goes beside it, and a
    // DNG (whose name the converter chooses) is not made again over it.
    const bool changed = p.image.entry && !p.primary &&
                         has_changed_copy(ctx.ledger.at(*p.image.entry), CopyTree::kPrimary);
    if (changed && !p.convert)
      p.target = target_beside_changed(ctx.options(), ctx.state(), *p.image.entry,
                                       CopyTree::kPrimary, p.target, *file);
    struct stat st;
    if (changed && p.convert && sysio().stat(p.target.c_str(), &st) == 0) {
      ctx.report_printf("WARNING: %s is not converted again over its changed DNG %s.\n",
                        file->c_str(), p.target.c_str());
      continue;
    }
    if (!p.primary && p.convert && sysio().stat(p.target.c_str(), &st) == 0)
      p.primary = record_converted(ctx, p.image, p.target);
    if (p.primary) {
      p.target = run_path(ctx.options(), ctx.state(), CopyTree::kPrimary,
                          ctx.ledger.at(*p.image.entry).copies[*p.primary].path);
      p.source = Source::kFirstCopy;
    } else {
      p.source = restore_source(ctx, *file, p.image, p.convert);
      if (p.source == Source::kFirstCopy && is_convertible_raw(ctx, *file))
        to_convert.push_back(file);
    }
    // A folder may hold a whole card: its entries are asked for again as they are copied.
    if (p.image.entry) ctx.ledger.release(*p.image.entry);
    plan.push_back(std::move(p));
  }
  if (program) {
    std::string output = destination;
    if (ctx.counts.verify_only) {
      output += format_limited(64, "/.Temp%d", static_cast<int>(gettid()));
      if (!make_folders(ctx, output)) return false;
    }
    if (!convert_folder(ctx, message, *program, to_convert, output)) return false;
    if (ctx.counts.verify_only && !rmdir_all(ctx, output)) return false;
  }
  // The plans copied below from their source's bytes, and those sources (read ahead).
  const auto copied = [](const Planned& p) {
    return p.source != Source::kNone && !p.primary && !p.convert;
  };
  const auto source_of = [](const Planned& p) {
    return p.source == Source::kCard ? p.image.record->source_path() : *p.file;
  };
  // What a plan's copies count for in the progress: its image's size as the card listed it
  // (the first copy holds the same bytes), the file looked at only when it has no image.
  const auto progress_bytes = [&ctx](const Planned& p) {
    return copies_per_file(ctx) * (p.image.record ? p.image.record->size : file_size(*p.file));
  };
  std::size_t ahead = 0;          // the next plan to read ahead
  std::uint64_t ahead_bytes = 0;  // read ahead of the copy being made
  for (Planned& p : plan) {
    for (; ahead < plan.size() && ahead_bytes < kPrefetchBytes; ++ahead) {
      if (!copied(plan[ahead])) continue;
      prefetch(source_of(plan[ahead]));
      if (plan[ahead].image.record) ahead_bytes += plan[ahead].image.record->size;
    }
    if (copied(p) && p.image.record) ahead_bytes -= std::min(ahead_bytes, p.image.record->size);
    bool made = false;
    const bool recorded_before = p.primary.has_value();
    if (p.source == Source::kNone) {
      ctx.progress_file_done(progress_bytes(p));
      continue;
    } else if (p.primary) {
      // there already
    } else if (p.convert) {
      if (!date_dng(ctx, *p.file, p.target)) return false;
      p.primary = record_converted(ctx, p.image, p.target);
      made = p.primary.has_value();
    } else if (!copy_unchanged(ctx, *p.file, source_of(p), p.target, p.image, p.primary, made)) {
      return false;
    }
    if (failed_at_once(ctx, p.image, p.primary)) {
      ctx.progress_file_done(progress_bytes(p));
      continue;
    }
    if (made && !extract_jpeg(ctx, p.file, p.target)) return false;
    // A copy found in place with the first copy's bytes was placed by a run killed before it
    // could record and tag it: it is tagged now (tags written twice give the same file).
    const bool found = !made && !recorded_before && !p.convert && p.primary.has_value();
    if (made || found) {
      std::optional<CopyRef> tagged;
      if (p.primary) tagged = CopyRef{*p.image.entry, *p.primary};
      if (p.image.record && p.image.record->recorded_time_shift != 0)
        ctx.gps_time_shifts[p.target] = p.image.record->recorded_time_shift;
      if (p.image.record)
        write_corrected_dates(ctx, p.target, p.image.record->source_path(), tagged, false);
      if (!gps_tag_file(ctx, p.target, tagged)) return false;
    }
    bool made_post = false;
    if (!copy_to_post_backup(ctx, p.target, p.image.entry, p.primary, made, made_post))
      return false;
    if ((made || made_post) && p.image.record && p.image.record->from_earlier_run)
      ++ctx.counts.completed_earlier;
    ctx.progress_file_done(progress_bytes(p));
    ctx.state().flush_ahead.wrote(progress_bytes(p), ctx.state().disk_flush);
    if (!ledger_checkpoint(ctx.state(), ctx.counts, ctx, false)) return false;
  }
  return true;
}

bool copy_to_primary(EngineContext& ctx, std::string& message) {
  message.clear();
  ctx.counts.raws_converted = 0;
  announce(ctx, converter_of(ctx).has_value());
  FirstCopies images;
  for (ImageRecord& r : ctx.images)
    if (r.has_first_copy()) images.push_back(&r);
  // The records keep no whole path: two buffers hold the pair compared.
  std::string a_path, b_path;
  std::stable_sort(images.begin(), images.end(), [&](const ImageRecord* a, const ImageRecord* b) {
    a_path.clear();
    b_path.clear();
    a->append_first_copy_path(a_path);
    b->append_first_copy_path(b_path);
    return a_path < b_path;
  });
  std::uint64_t bytes = 0;
  for (const ImageRecord* r : images) bytes += r->size;
  ctx.progress_begin(ProgressPhase::kSecondCopies, static_cast<int>(images.size()),
                     copies_per_file(ctx) * bytes);
  // A folder's files are planned and copied together, so that its raws go to the converter
  // in one batch; without a converter a folder of a whole card goes in pieces, and its plan
  // (a target name for each file) never holds the card at once.
  const std::size_t piece =
      converter_of(ctx) ? images.size() : kFilesPlannedTogether;
  std::vector<std::string> paths;  // of one piece
  for (std::size_t i = 0; i < images.size();) {
    std::string first = images[i]->first_copy_path();
    std::size_t sep = last_separator(first);
    if (sep == std::string::npos) return ctx.fail("copy_to_primary - can't locate last slash");
    std::string folder = first.substr(0, sep);
    paths.clear();
    paths.push_back(std::move(first));
    // Byte order keeps the files of one folder together.
    for (++i; i < images.size() && paths.size() < piece; ++i) {
      std::string next = images[i]->first_copy_path();
      if (last_separator(next) != sep || next.compare(0, sep, folder) != 0) break;
      paths.push_back(std::move(next));
    }
    std::vector<const std::string*> run;
    run.reserve(paths.size());
    for (const std::string& path : paths) run.push_back(&path);
    std::string destination = destination_for(ctx, paths.front(), folder);
    if (!convert_or_copy_folder(ctx, message, run, destination, images)) return false;
    ctx.destination_folder = destination;
  }
  return true;
}

bool copy_to_post_backup(EngineContext& ctx, const std::string& primary_file,
                         std::optional<std::size_t> entry, std::optional<std::size_t> primary,
                         bool primary_made, bool& made) {
  made = false;
  if (!ctx.want_backup_post || !ctx.post_backup_root || !ctx.primary_root) return true;
  if (entry && proven_copy_in_tree(ctx, *entry, CopyTree::kPost)) return true;
  // A primary copy an earlier run made is the source of the third only while it still holds
  // what the ledger recorded of it (it was named when it did not).
  if (entry && primary && !primary_made &&
      !prove_restore_source(ctx.state(), ctx, *entry, *primary))
    return true;
  std::string post = *ctx.post_backup_root + primary_file.substr(ctx.primary_root->size());
  if (entry)
    post = target_beside_changed(ctx.options(), ctx.state(), *entry, CopyTree::kPost, post,
                                 primary_file);
  std::size_t sep = last_separator(post);
  if (!make_folder_in_tree(ctx, post.substr(0, sep), *ctx.post_backup_root)) return false;
  ctx.status_printf("3rd copy: %s", post.c_str() + sep + 1);
  std::optional<std::size_t> copy;
  if (!copy_recorded(ctx, primary_file, post, entry, primary, CopyTree::kPost, false, true, copy,
                     made))
    return false;
  struct stat st;
  // A clip's companions go with it, as its sidecar does.
  for (const ClipCompanion& c : clip_companions(primary_file)) {
    const std::string beside = companion_beside(post, c.suffix);
    if (sysio().lstat(beside.c_str(), &st) != 0 &&
        !copy_file(ctx.state(), ctx.counts, ctx, c.path, beside, false, true, true))
      return false;
  }
  std::size_t dot = long_extension_dot(primary_file);
  if (dot == std::string::npos) return true;
  std::string sidecar = primary_file.substr(0, dot) + ".xmp";
  if (sysio().stat(sidecar.c_str(), &st) != 0) return true;
  std::string post_sidecar = post.substr(0, long_extension_dot(post)) + ".xmp";
  return copy_file(ctx.state(), ctx.counts, ctx, sidecar, post_sidecar, false, false, true);
}

}  // namespace cw
