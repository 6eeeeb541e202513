// copycard, step by step: parameter checks and roots, the image list, the order gate, the
// naming and beside it the first copies, the second copy or primary bookkeeping, and the
// summary.
#include "ingest/ingest.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/path_guard.h"
#include "foundation/text.h"
#include "ingest/copy_io.h"
#include "ingest/dry_run.h"
#include "ingest/archive_check.h"
#include "ingest/first_copy.h"
#include "ingest/format_verdict.h"
#include "ingest/exif_times.h"
#include "ingest/gps_phase.h"
#include "ingest/naming.h"
#include "ingest/read_ahead.h"
#include "ingest/result_store.h"
#include "ingest/run_ledger.h"
#include "ingest/sidecar_placement.h"
#include "ingest/sidecar_worker.h"
#include "ingest/scan.h"
#include "ingest/second_copy.h"
#include "metadata/macro_exif.h"
#include "platform/camera_source.h"

namespace cw {

namespace {

constexpr auto kGatePoll = std::chrono::milliseconds(250);
constexpr int kDefaultPartitionSize = 1000000;

bool same_folder_failure(RunReporter& reporter) {
  reporter.report_append("\nERROR: Backup and primary folders must be different.\n");
  return reporter.fail("Backup and primary folders must be different");
}

// Two roots are one tree when the system resolves them to one folder ("./p" and "p", a link
// and its folder), whatever their texts say.
bool same_tree(const std::string& a, const std::string& b) {
  const std::optional<std::string> ra = real_path_of(a), rb = real_path_of(b);
  return ra && rb ? *ra == *rb : a == b;
}

// A tree inside another would hold the other's copies among its own, so that one folder
// would count as two trees and a verdict would rest on one copy. Each pair is compared as the
// system resolves it (links, "..", the part not made yet), either way round; one tree given
// twice keeps its own message.
bool trees_apart(const RunOptions& options, RunReporter& reporter) {
  struct Tree {
    const char* name;
    std::string root;
  };
  std::vector<Tree> trees{{options.want_backup ? "backup" : "primary", options.first_copy_root}};
  if (options.want_backup && options.primary_root)
    trees.push_back({"primary", *options.primary_root});
  if (options.want_backup_post && options.post_backup_root)
    trees.push_back({"post-conversion backup", *options.post_backup_root});
  for (std::size_t i = 0; i < trees.size(); ++i) {
    for (std::size_t k = i + 1; k < trees.size(); ++k) {
      if (same_tree(trees[i].root, trees[k].root)) return same_folder_failure(reporter);
      const std::optional<std::string> ri = real_path_of(trees[i].root),
                                       rk = real_path_of(trees[k].root);
      if (!ri || !rk) continue;
      const Tree* inner = nullptr;
      const Tree* outer = nullptr;
      if (path_is_inside(*ri, *rk)) inner = &trees[k], outer = &trees[i];
      if (path_is_inside(*rk, *ri)) inner = &trees[i], outer = &trees[k];
      if (!inner) continue;
      const std::string message = std::string("The ") + inner->name + " folder \"" +
                                  inner->root + "\" is inside the " + outer->name +
                                  " folder \"" + outer->root + "\"";
      reporter.report_append("\nERROR: " + message + "\n");
      return reporter.fail(message);
    }
  }
  return true;
}

// A destination inside the card would be copied again by every later run of that card.
bool inside_card(const RunOptions& options, RunReporter& reporter, const std::string& root) {
  if (is_camera_path(options.scan_root)) return false;
  const std::optional<std::string> card = real_path_of(options.scan_root),
                                   real = real_path_of(root);
  if (!card || !real || !path_is_inside(*card, *real)) return false;
  const std::string message = text_with_path("Destination folder is inside the card", root);
  reporter.report_printf("\nERROR: %s\n", message.c_str());
  return !reporter.fail(message);
}

// The roots of the trees, checked, then created when missing.
bool take_roots(const ParamList& p, RunOptions& options, RunState& state, RunReporter& reporter) {
  options.ingestion_id = p.integer(kParamIngestionId);
  options.card_folder = p.text(kParamCardFolder);
  options.converter_path = p.text(kParamConverterPath);
  options.want_backup = p.flag(kParamWantBackup);
  if (options.want_backup) {
    options.first_copy_root = p.text(kParamBackupFolder);
    options.primary_root = p.text(kParamPrimaryFolder);
  } else {
    options.first_copy_root = p.text(kParamPrimaryFolder);
    options.primary_root.reset();
    options.converter_path.reset();
  }
  options.want_backup_post = p.flag(kParamWantBackupPost);
  if (options.want_backup_post) {
    options.post_backup_root = p.text(kParamBackupFolderPost);
  }
  if (!trees_apart(options, reporter)) return false;
  for (const std::optional<std::string>& root :
       {std::optional<std::string>(options.first_copy_root), options.primary_root,
        options.post_backup_root})
    if (root && inside_card(options, reporter, *root)) return false;
  if (options.dry_run) return true;  // a dry run creates nothing
  if (!make_folders(reporter, options.first_copy_root)) return false;
  state.real_first_copy_root = real_path_of(options.first_copy_root).value_or("");
  state.checked_folder.clear();
  state.checked_folder_real.clear();
  state.copied_folder.clear();
  state.copied_folder_real.clear();
  return !options.want_backup_post || make_folders(reporter, *options.post_backup_root);
}

// The remaining parameters of the run.
bool take_options(const ParamList& p, RunOptions& options, RunReporter& reporter) {
  options.name_format = p.text(kParamNameFormat);
  options.folder_format = p.text(kParamFolderFormat);
  options.partition_size = p.integer(kParamPartitionSize);
  if (options.partition_size <= 0) options.partition_size = kDefaultPartitionSize;
  options.include = p.flag(kParamIncludeExtensions);
  try {
    // Upper case like the file extensions the scan compares with it, whatever case the
    // preset holds.
    std::string list = " ";
    list += p.text(kParamExtensions);
    list += ' ';
    options.extension_list = ascii_upper(std::move(list));
  } catch (const std::bad_alloc&) {
    reporter.report_append("\nERROR: Out of memory allocating extensions buffer.\n");
    return reporter.fail("Out of memory allocating extensions buffer");
  }
  options.preview = p.text(kParamPreview);
  options.embed = p.text(kParamEmbed);
  options.sidecar_template = p.text(kParamSidecarPath);
  options.jpeg_verify = p.flag(kParamWantJpegVerify);
  options.number_range_digits = p.integer(kParamNumberRangeDigits);
  options.client = p.text(kParamClientName);
  options.project = p.text(kParamProjectName);
  options.raw_settings_path = p.text(kParamCRDefaults);
  options.number_range_source = p.text(kParamNumberRangeSource) == "1" ? 1 : 2;
  if (options.number_range_source == 1) options.number_range_digits = 4;
  options.file_array = p.file_array ? &*p.file_array : nullptr;
  options.capture_shifts = p.capture_shifts.empty() ? nullptr : &p.capture_shifts;
  options.write_exif_times = p.write_exif_times;
  options.convert_dngs = p.flag(kParamWantConvertDNGs);
  options.xmp_to_jpg = p.flag(kParamWantXMPtoJPG);
  options.extract_jpg = p.flag(kParamExtractJPG);
  options.converter_params = p.text(kParamConverterParams);
  return true;
}

std::time_t first_image_key(const RunServices& services, const RunState& state) {
  if (state.images.empty()) return 0;
  const std::string path = state.images.front().source_path();
  if (is_camera_path(path)) {
    CameraFileInfo info;
    return stat_camera_path(services.cameras, path, info) ? info.modified : 0;
  }
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

// Waits for this run's turn; the ticket lets the run name its images, nothing when
// the run was stopped while it waited.
std::optional<OrderGate::Ticket> wait_for_turn(RunServices& services, const RunState& state,
                                               RunReporter& reporter) {
  OrderGate& gate = services.control().order_gate();
  const std::time_t key = first_image_key(services, state);
  for (;;) {
    if (std::optional<OrderGate::Ticket> ticket = gate.try_enter(services.job.slot, key))
      return ticket;
    if (reporter.stop_requested()) {
      reporter.fail("Stopped");
      return std::nullopt;
    }
    gate.wait(services.job.slot, kGatePoll);
  }
}

// Video and sound files have no EXIF date: their names take the file time. One log line per
// run says so, rather than a failed read for each file.
void log_files_without_exif(const RunState& state) {
  int count = 0;
  std::set<std::string> kinds;
  for (const ImageRecord& r : state.images)
    if (has_no_exif_by_design(r.source_path())) {
      ++count;
      kinds.insert(ascii_upper(r.extension()));
    }
  if (count == 0) return;
  std::string list;
  for (const std::string& k : kinds) {
    if (!list.empty()) list += ' ';
    list += k;
  }
  log_printf("%d video or sound file%s (%s) without EXIF dated by file time", count,
             count == 1 ? "" : "s", list.c_str());
}

// The images named in list order while the run holds its ticket of the order gate, on a
// thread of their own while the run copies those named already; the ticket is given back as
// soon as the last image is named (or naming failed or was called off), so that the next card's
// run names its images while this one still copies. Whatever a copy reads of a later image's
// naming is shared under a lock of its own (sequence numbers, number ranges, the folder table,
// the metadata lock); an image is copied only once it is named, and only once the images the
// sidecar worker reads ahead of it are named too. A number-range folder holds its placeholder
// name until the batch ends, so a copy never waits for its partition to close.
// Beside the copying, naming keeps at most kLead images ahead of the copy while no other run
// waits for the ticket: the EXIF values naming reads are then still remembered when the
// copy's ledger entry and its sidecar ask for them, and no image is read twice. Once another
// run asks for the ticket, naming goes on to the end at once, so that the next card names
// while this one copies.
// Without a thread (a dry run, a camera, none to spare) the images are all named at once.
class NamingAhead {
 public:
  NamingAhead(EngineContext& ctx, OrderGate::Ticket turn, bool beside_copying)
      : ctx_(ctx), turn_(std::move(turn)) {
    ctx_.metadata();  // made here, before two threads use it
    examine();
    if (beside_copying) {
      try {
        held_back_ = true;
        thread_ = std::thread([this, helpers = ctx_.copying_helpers] {
          const ProcessorSplit::Helper helper = helpers.join();
          work();
        });
        return;
      } catch (const std::system_error&) {
        // No thread to spare: named here, before the copying.
        held_back_ = false;
      }
    }
    work();
  }
  ~NamingAhead() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    copied_changed_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  NamingAhead(const NamingAhead&) = delete;
  NamingAhead& operator=(const NamingAhead&) = delete;

  // Waits until the first `count` images (at most all of them) are named; false when naming
  // ended before them.
  bool wait_for(std::size_t count) {
    count = std::min(count, ctx_.images.size());
    std::unique_lock<std::mutex> lock(mutex_);
    if (count > wanted_) {
      wanted_ = count;
      copied_changed_.notify_all();
    }
    named_changed_.wait(lock, [&] { return named_ >= count || ended_; });
    return named_ >= count;
  }

  // Waits for the end of naming; on a failure the report and the error say why.
  bool finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      held_back_ = false;
    }
    copied_changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (finished_) return ok_;
    finished_ = true;
    ok_ = named_ == ctx_.images.size();
    if (ok_) log_files_without_exif(ctx_);
    ctx_.report_append(report_);
    return ok_ || ctx_.fail(message_);
  }

 private:
  // Every image's size, time and capture-time correction, up to the first that cannot be
  // examined: what the copying learns of all of them at its start. Naming stops there.
  void examine() {
    limit_ = 0;
    for (ImageRecord& r : ctx_.images) {
      if (!examine_image(ctx_, r, message_)) return;
      ++limit_;
    }
  }

  // The last image is said to be named only once the ticket is given back: the last copy
  // never starts before the next card's run may name. When naming the first image read its
  // EXIF values, each later image's are read before naming takes the metadata lock, which the
  // copying and the sidecar thread then wait less for.
  void work() {
    std::string message, report;
    std::size_t named = 0;
    bool failed = false;
    bool exif_ahead = false;  // the names read the images' EXIF values
    while (named < limit_) {
      if (!keep_lead(named)) break;
      ImageRecord& r = ctx_.images[named];
      if (exif_ahead) read_exif_ahead(ctx_, r);
      if (!name_examined_image(ctx_, r, message, report)) {
        failed = true;
        break;
      }
      if (named == 0) exif_ahead = exif_remembered(ctx_, r);
      if (++named == limit_) break;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        named_ = named;
      }
      named_changed_.notify_all();
    }
    turn_.release();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      named_ = named;
      if (failed) message_ = std::move(message);
      report_ = std::move(report);
      ended_ = true;
    }
    named_changed_.notify_all();
  }

  // Waits, while naming is held back, until the copy has asked for images up to kLead before
  // image `next`; false when naming is called off.
  bool keep_lead(std::size_t next) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_ && held_back_ && next >= wanted_ + kLead) {
      if (turn_.awaited()) {
        held_back_ = false;
        break;
      }
      copied_changed_.wait_for(lock, kGateLook);
    }
    return !quit_;
  }

  static constexpr std::size_t kLead = 256;
  // How often naming held back looks whether another run waits for the ticket.
  static constexpr std::chrono::milliseconds kGateLook{20};

  EngineContext& ctx_;
  OrderGate::Ticket turn_;
  std::size_t limit_ = 0;  // the images examined: naming ends there
  std::mutex mutex_;
  std::condition_variable named_changed_, copied_changed_;
  std::size_t named_ = 0;
  std::size_t wanted_ = 0;  // the images the copy waited for
  bool held_back_ = false;  // naming keeps at most kLead images ahead of wanted_
  bool ended_ = false, quit_ = false;
  std::string message_, report_;  // why naming ended early, and the report's lines
  bool finished_ = false, ok_ = false;
  std::thread thread_;
};

// Copies every image into the first tree (the backup tree when there is one), each once it is
// named.
bool copy_phase(EngineContext& ctx, NamingAhead& naming) {
  std::uint64_t bytes = 0;
  std::vector<std::uint64_t> sizes;
  sizes.reserve(ctx.images.size());
  for (const ImageRecord& r : ctx.images) {
    bytes += r.size;
    sizes.push_back(r.size);
  }
  ctx.ledger.learn_sizes(sizes);
  start_read_ahead(ctx.options(), ctx.state());
  // The first store comes a second into the copying, as every later one: a card copied
  // within that second is stored once, at the end of the phase.
  ctx.ledger.last_store = std::chrono::steady_clock::now();
  ctx.progress_begin(ProgressPhase::kFirstCopies, static_cast<int>(ctx.images.size()), bytes);
  // The sidecar worker reads the images it prepares, up to kAhead past the last one taken.
  constexpr std::size_t kAhead = SidecarWorker::kAhead;
  const auto abandon = [&ctx] {
    settle_sidecar(ctx);  // the copy before stays, and gets its sidecar
    ctx.read_ahead.reset();
    ctx.sidecar_worker.reset();
  };
  if (!naming.wait_for(kAhead)) {
    abandon();
    return naming.finish();
  }
  if (builds_sidecars(ctx)) ctx.sidecar_worker = std::make_unique<SidecarWorker>(ctx);
  std::string message;
  for (std::size_t i = 0; i < ctx.images.size(); ++i) {
    ImageRecord& r = ctx.images[i];
    if (!naming.wait_for(i + 1 + kAhead)) {
      abandon();
      ctx.image_checks.cancel();
      return naming.finish();
    }
    read_ahead_from(ctx.options(), ctx.state(), i);
    if (!copy_image(ctx, r, message)) {
      abandon();
      ctx.image_checks.cancel();
      return message.empty() ? false : ctx.fail(message);
    }
    ctx.progress_file_done(r.size);
    ctx.state().flush_ahead.wrote(r.size, ctx.state().disk_flush);
    if (!ledger_checkpoint(ctx.state(), ctx.counts, ctx, false)) {
      abandon();
      return false;
    }
  }
  const bool placed = settle_sidecar(ctx);  // the last copy's sidecar, or its failure said
  abandon();
  // The copies were verified while the run went on copying; their results come in list order.
  return placed && naming.finish() && ctx.image_checks.report(ctx);
}

// Whether the run's images may be named beside its copying: not a camera's, which serves one
// request at a time (a scanned folder holds none; a list may name one).
bool names_beside_copying(const EngineContext& ctx) {
  if (ctx.dry_run || is_camera_path(ctx.scan_root)) return false;
  return !ctx.file_array || std::none_of(ctx.file_array->begin(), ctx.file_array->end(),
                                         [](const std::string& p) { return is_camera_path(p); });
}

// Without a backup the first copies are the primary copies.
bool finish_without_backup(EngineContext& ctx) {
  write_corrected_dates_of_first_copies(ctx);
  if (ctx.stop_requested()) return ctx.fail("Stopped");
  corrected_dates_summary(ctx.options(), ctx.result());
  if (!gps_summary(ctx)) return false;
  std::set<std::string> folders;
  for (const ImageRecord& r : ctx.images) {
    if (!r.has_first_copy()) continue;
    const std::string path = r.first_copy_path();
    folders.insert(path.substr(0, path.find_last_of("/\\")));
  }
  for (const std::string& f : folders) {
    ctx.control().add_burn_folder(BurnList::kPrimary, f);
    if (!ctx.destination_folder || path_less_nocase(*ctx.destination_folder, f))
      ctx.destination_folder = f;
  }
  ctx.counts.copied_without_conversion = ctx.counts.files_found;
  return true;
}

// With a backup: the primary copies follow the backup copies.
bool finish_with_backup(EngineContext& ctx) {
  std::string message;
  bool ok = copy_to_primary(ctx, message);
  if (!ok) {
    if (message.empty()) return false;
    ctx.report_printf("\nERROR: %s\n", message.c_str());
    store_ingestion_result(ctx.options(), ctx.services(), message);
    // The converter's message ends with a line break; the first error is one line.
    ctx.note_first_error("DNG Converter error: " +
                         message.substr(0, message.find_last_not_of("\r\n") + 1));
    return ctx.fail("DNG Converter error");
  }
  corrected_dates_summary(ctx.options(), ctx.result());
  return gps_summary(ctx);
}

// Every image the run took has a copy in every tree it was meant for; the report names those
// that lack one.
bool every_tree_complete(const RunOptions& options, RunState& state, RunResult& result,
                         RunReporter& reporter) {
  bool complete = true;
  const std::vector<CopyTree> trees = wanted_trees(options);
  LedgerEntry scratch;
  for (const ImageRecord& r : state.images) {
    if (!is_taken_image(r)) continue;
    const LedgerEntry* e =
        r.ledger >= 0 ? &state.ledger.read(static_cast<std::size_t>(r.ledger), scratch) : nullptr;
    for (const CopyTree tree : trees) {
      if (e) {
        const SettledCopy settled = state.settled_copies.look(options, state, r, *e, tree);
        if (const std::optional<std::size_t> c = settled.copy) {
          const bool sidecar = settled.sidecar;
          if (sidecar && settled.companions) continue;
          // The companion is named by its clip's copy, beside which it is missing.
          const std::string& copy = e->copies[*c].path;
          reporter.report_printf("ERROR: no %s in %s: \"%s\"\n",
                                 sidecar ? "clip companion" : "sidecar", tree_name(options, tree),
                                 (sidecar ? copy : sidecar_beside(copy)).c_str());
          result.note_first_error(text_with_path(
              std::string("no ") + (sidecar ? "clip companion" : "sidecar") + " in " +
                  tree_name(options, tree),
              sidecar ? copy : sidecar_beside(copy)));
          complete = false;
          continue;
        }
      }
      reporter.report_printf("ERROR: no copy in %s: \"%s\"\n", tree_name(options, tree),
                             r.source_path().c_str());
      result.note_first_error(
          text_with_path(std::string("no copy in ") + tree_name(options, tree), r.source_path()));
      complete = false;
    }
  }
  return complete;
}

void summary_line(RunResult& result, const char* fmt, int value) {
  result.report += format_limited(500, fmt, value);
}

// The counts at the end of the report. Each file is counted once: a card file found in the
// archive is not also a duplicate, and the images whose missing copies this run made are a part
// of those found in the archive, so that the files copied from the card and those completed add
// up to the copies the run made. Decoding an image and reading a copy back by checksum are
// different checks, and their lines say which is which.
void write_summary(RunResult& result) {
  const RunCounters& c = result.counts;
  result.report += "\nCopying:\n";
  summary_line(result, "    Files skipped because of extension: %d\n", c.skipped_by_extension);
  summary_line(result, "    Files skipped because of duplication: %d\n", c.duplicates_on_card());
  summary_line(result, "    Files already in the archive: %d\n", c.already_archived);
  if (c.completed_earlier > 0)
    summary_line(result, "        of them completed by this run: %d\n", c.completed_earlier);
  summary_line(result, "    Raws converted to DNGs: %d\n", c.raws_converted_shown());
  summary_line(result, "    Files copied without conversion: %d\n", c.copied_without_conversion);
  summary_line(result, "    JPEGs extracted: %d\n", c.jpegs_extracted);
  result.report += "\nVerification:\n";
  summary_line(result, "    Raws verified: %d\n", c.raws_verified());
  if (c.raws_corrupt > 0) summary_line(result, "    Raws corrupt: %d\n", c.raws_corrupt);
  summary_line(result, "    JPEGs verified: %d\n", c.jpegs_verified);
  if (c.jpegs_corrupt > 0) summary_line(result, "    JPEGs corrupt: %d\n", c.jpegs_corrupt);
  if (c.damaged_jpegs > 0)
    summary_line(result, "    JPEGs with damaged image data: %d\n", c.damaged_jpegs);
  summary_line(result, "    Files copied without error but not checked by decoding: %d\n",
               c.unverified());
  summary_line(result, "    Copies read back and matched by checksum: %d\n", c.files_verified);
}

bool build_image_list(EngineContext& ctx) {
  ctx.card_files = CardFiles{};
  if (!is_camera_path(ctx.scan_root))
    ctx.card_files.real_root = real_path_of(ctx.scan_root).value_or(ctx.scan_root);
  const bool listed =
      ctx.file_array
          ? image_from_list(ctx.options(), ctx.state(), ctx.counts, ctx)
          : scanDir(ctx.options(), ctx.state(), ctx.counts, ctx, ctx.scan_root, 0, ctx.cameras) &&
                add_linked_images(ctx.options(), ctx.state(), ctx.counts, ctx);
  // The list grew by doubling; it stays as it is for the rest of the run, so its spare room
  // (up to half of it on a large card) is given back, as is what only the scan needed.
  ctx.images.shrink_to_fit();
  ctx.card_files.taken = {};
  ctx.card_files.links = {};
  return listed;
}

// Everything before the card is read: the report's heading, the roots, the options, the read
// buffer.
bool prepare(const ParamList& params, int count, EngineContext& ctx) {
  ctx.report_printf("\n------ %s ------\n", ctx.job.title.c_str());
  if (count != kParamCount) {
    ctx.report_append(kCopycardUsage);
    return ctx.fail("arg count");
  }
  if (!take_roots(params, ctx.options(), ctx.state(), ctx) ||
      !take_options(params, ctx.options(), ctx))
    return false;
  ctx.counts.verify_only = params.text(kParamVerifyOnly) == "verifyOnly";
  ctx.ledger.attach(ctx.dry_run ? nullptr : ctx.database);
  ctx.report_append("\n");
  if (!ensure_read_buffer(ctx)) return ctx.fail("can't alloc read buffer");
  return true;
}

// The run's steps; copycard records what a run that ends early copied.
bool copy_card_steps(const ParamList& params, int count, const std::string& scan_root,
                     EngineContext& ctx) {
  ctx.scan_root = scan_root;
  if (!prepare(params, count, ctx)) return false;
  const std::time_t start = std::time(nullptr);
  if (!build_image_list(ctx)) return false;
  std::optional<OrderGate::Ticket> turn = wait_for_turn(ctx.services(), ctx.state(), ctx);
  if (!turn) return false;
  // While this run copies alone, its copying and the threads that name and prepare its
  // images ahead run on processors of their own, given back once the copies are made.
  ProcessorSplit::Copying copying;
  if (!ctx.dry_run) copying = ctx.control().processor_split().begin_copying();
  ctx.copying_helpers = copying.helpers();
  NamingAhead naming(ctx, std::move(*turn), names_beside_copying(ctx));
  if (ctx.dry_run) {
    if (!naming.finish()) return false;
    report_planned_copies(ctx.options(), ctx.images, ctx.control().number_ranges(), ctx.cameras,
                          ctx.result());
    return true;
  }
  const bool copied = copy_phase(ctx, naming);
  ctx.copying_helpers = {};
  copying = {};
  if (!copied || !ledger_checkpoint(ctx.state(), ctx.counts, ctx, true)) return false;
  ctx.counts.files_found -= ctx.counts.duplicates + ctx.counts.images_failed;
  long elapsed = static_cast<long>(std::time(nullptr) - start);
  ctx.report_printf("%d files copied from card took %d min. %d sec.\n", ctx.counts.files_found,
                    static_cast<int>(elapsed / 60), static_cast<int>(elapsed % 60));
  if (!ctx.control().cards_mode()) ctx.control().request_auto_eject(ctx.job.slot);
  if (!(ctx.want_backup ? finish_with_backup(ctx) : finish_without_backup(ctx))) return false;
  hash_changed_copies(ctx.state());
  if (!ledger_checkpoint(ctx.state(), ctx.counts, ctx, true)) return false;
  write_summary(ctx);
  if (ctx.counts.jpegs_corrupt > 0 || ctx.counts.raws_corrupt > 0)
    return ctx.fail("One or more image files were corrupt.");
  // Such a JPEG was copied faithfully, but part of its picture is lost: no success to report.
  if (ctx.counts.damaged_jpegs > 0)
    return ctx.fail("One or more JPEG files have damaged image data.");
  if (ctx.counts.images_failed > 0) return ctx.fail("One or more image files could not be copied.");
  if (!every_tree_complete(ctx.options(), ctx.state(), ctx.result(), ctx))
    return ctx.fail("One or more images lack a copy in a tree.");
  ctx.report_append("\nSUCCESSFUL INGESTION - no errors detected\n");
  ctx.status_printf("Successful ingestion (%d images)", ctx.counts.files_found);
  ctx.control().set_image_count(ctx.job.slot, ctx.counts.files_found);
  return true;
}

}  // namespace

bool copycard(const ParamList& params, int count, const std::string& scan_root,
              EngineContext& ctx) {
  const bool ok = copy_card_steps(params, count, scan_root, ctx);
  // The folders may be renamed once the run ends (number ranges): no file is made through
  // them any more.
  ctx.target_folders.clear();
  // What a failed or stopped run copied is recorded all the same, so that the next run of the
  // card completes it instead of copying it again. Copies that cannot be flushed to the disk
  // are not recorded. Either way no read-back is still under way when the run returns.
  if (!ok && !ctx.dry_run) {
    settle_read_backs(ctx.state(), ctx.counts, ctx, true);
    std::string folder;
    if (ctx.disk_flush.flush(folder)) ctx.ledger.store(true);
  }
  ctx.ledger.end_lookups();
  return ok;
}

bool run_slot(const ParamList& params, const std::string& scan_root, EngineContext& ctx) {
  ctx.status_set("Running");
  bool ok = copycard(params, params.count(), scan_root, ctx);
  if (!ctx.error.empty()) {
    ctx.report_printf("ERROR: %s\n", ctx.error.c_str());
    ctx.status_printf("ERROR: %s\n", ctx.error.c_str());
    store_ingestion_result(ctx.options(), ctx.services(), ctx.error);
  }
  // Some failures are recorded while the run goes on (a preview that could not be written);
  // the run then did not succeed even though the copy finished.
  ok = ok && ctx.error.empty();
  if (!ctx.dry_run) make_verdict(ctx.options(), ctx.state(), ctx.result(), ok);
  return ok;
}

}  // namespace cw
