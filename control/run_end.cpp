// The end of a run: reports, number ranges, the record, the viewer, the burn hand-offs.
#include "control/run_end.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "control/disc_origins.h"
#include "database/database.h"
#include "database/repair.h"
#include "database/ledger_store.h"
#include "foundation/log.h"
#include "foundation/path_guard.h"
#include "foundation/text.h"
#include "ingest/engine_context.h"
#include "ingest/manifest.h"
#include "ingest/number_range.h"
#include "ingest/scan.h"
#include "ingest/staged_file.h"
#include "disc/libburn_recorder.h"
#include "settings/preferences.h"
#include "settings/preset.h"

namespace cw {

namespace {

// The run's image count and its "SUCCESS" go into the record together or not at all (a
// savepoint: inside the end's batch, or a transaction of its own without one).
bool record_success(Database& db, int ingestion_id, bool with_count, int images) {
  Database::Locked lock(db);
  if (!db.exec("savepoint record_success")) return false;
  if ((!with_count || db.ingestion_set_count(ingestion_id, images)) &&
      db.ingestion_append_result(ingestion_id, "SUCCESS") && db.exec("release record_success"))
    return true;
  db.exec_quiet("rollback to record_success; release record_success");
  return false;
}

// The images a slot's run put into the archive: those it copied from the card, and those
// whose missing copies it made for an earlier run (a resumed run copies little from the card).
// A slot that failed counts the copies it began, less those found archived and those that
// failed.
int images_of(const EndedSlot& s) {
  if (!s.ctx) return s.image_count;
  const RunCounters& c = s.ctx->counts;
  const int from_card =
      s.error ? std::max(0, c.first_copies - c.duplicates - c.images_failed) : s.image_count;
  return from_card + c.completed_earlier;
}

// The roots the runs used: every slot runs with the same parameters, so the last one that
// took its roots speaks for all.
const EngineContext* roots_of(const RunEndInput& in) {
  const EngineContext* found = nullptr;
  for (const EndedSlot& s : in.slots)
    if (s.ctx && !s.ctx->first_copy_root.empty()) found = s.ctx;
  return found;
}

// Renames the number-range folders and keeps each slot's destination folder in step with
// the renames (it is one of the primary burn folders, which the renames rename too). Stores
// the batch's numbers. False when a rename or the store failed.
bool rename_number_ranges(RunEndInput& in, const EngineContext& roots, FolderRenames& renames) {
  SlotControl& control = *in.control;
  const std::vector<std::string> before = control.burn_folders_snapshot(BurnList::kPrimary);
  StoreNumberRange store;
  if (in.database && in.ingestion_id >= 0)
    store = [&in](long lowest, long highest) {
      return in.database->ingestion_set_numbers(in.ingestion_id, static_cast<int>(lowest),
                                                static_cast<int>(highest));
    };
  const bool ok = number_range_rename(control.number_ranges(), control, roots.first_copy_root,
                                      roots.primary_root, roots.post_backup_root, store,
                                      &renames);
  const std::vector<std::string> after = control.burn_folders_snapshot(BurnList::kPrimary);
  for (EndedSlot& s : in.slots) {
    if (!s.ctx || !s.ctx->destination_folder) continue;
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i)
      if (before[i] == *s.ctx->destination_folder) {
        s.ctx->destination_folder = after[i];
        break;
      }
  }
  return ok;
}

// Without number-range folders the record still gets the lowest and highest number the
// copied images were given. False when that store failed.
bool store_image_numbers(const RunEndInput& in) {
  if (!in.database || in.ingestion_id < 0) return true;
  int lowest = -1, highest = -1;
  for (const EndedSlot& s : in.slots) {
    if (!s.ctx) continue;
    for (const ImageRecord& r : s.ctx->images) {
      if (!r.has_first_copy() || r.number_text.empty() || r.from_earlier_run) continue;
      const int n = std::atoi(r.number_text.c_str());
      if (lowest < 0 || n < lowest) lowest = n;
      if (n > highest) highest = n;
    }
  }
  return lowest < 0 || in.database->ingestion_set_numbers(in.ingestion_id, lowest, highest);
}

// A run whose record or log could not be written is no success, whatever its copies did: the
// pane says which, and the run's verdict names the first such failure.
bool recorded(bool stored, const std::string& what, std::string& end_error) {
  if (!stored) {
    ui_printf("\nERROR: Can't write %s; the ingestion does not count as successful.\n",
              what.c_str());
    if (end_error.empty()) end_error = "Can't write " + what;
  }
  return stored;
}

// The folder the viewer opens: the last number-range folder, else the destination folder of
// the slot whose destination sorts last.
std::optional<std::string> viewer_folder(const RunEndInput& in) {
  const std::string& ranged = in.control->number_ranges().viewer_folder;
  if (!ranged.empty()) return ranged;
  std::optional<std::string> folder;
  for (const EndedSlot& s : in.slots)
    if (s.ctx && s.ctx->destination_folder &&
        (!folder || path_less_nocase(*folder, *s.ctx->destination_folder)))
      folder = s.ctx->destination_folder;
  return folder;
}

// The folders renamed after the run, as the ledger names them (resolved paths): each one was
// renamed within its own parent folder.
void follow_renames(RunEndInput& in, const FolderRenames& renames) {
  for (const auto& [from, to] : renames) {
    const std::optional<std::string> real_to = real_path_of(to);
    if (!real_to) continue;
    const std::string real_from =
        real_to->substr(0, real_to->find_last_of('/') + 1) + from.substr(from.find_last_of('/') + 1);
    for (EndedSlot& s : in.slots)
      if (s.ctx) rename_run_copies(*s.ctx, real_from, *real_to);
    if (in.database && !ledger_rename_folder(*in.database, real_from, *real_to))
      ui_printf("\nERROR: Can't record the renamed folder %s in the ingest ledger.\n", to.c_str());
  }
}

// Makes a manifest just written durable: its bytes, its name in its folder and that folder's
// name in the tree (made for it, maybe). False with errno set and `folder` naming what failed.
bool flush_manifest(const std::string& path, std::string& folder) {
  const std::string root = manifest_root(path);
  folder = root + "/" + kManifestFolder;
  // The file's flush takes the rename and the new folder with it; the folders' find nothing
  // left to write then.
  const std::string* items[] = {&path, &folder, &root};
  for (const std::string* item : items) {
    UniqueFd fd(sysio().open(item->c_str(), O_RDONLY | O_CLOEXEC, 0));
    if (!fd.valid() || sysio().fsync(fd.get()) != 0) return false;
  }
  return true;
}

// Every tree the runs filled gets its manifest, named in the pane and in the database. False
// when one could not be written. `renamed`: folders of the trees were renamed since the
// images were flushed.
bool write_manifests(const RunEndInput& in, bool renamed, std::string& end_error) {
  std::vector<EngineContext*> runs;
  std::set<std::string> roots;
  for (const EndedSlot& s : in.slots)
    if (s.ctx && s.filled && (!in.cards_mode || s.counted)) {
      runs.push_back(s.ctx);
      for (std::string& root : manifest_roots(s.ctx->options(), s.ctx->state()))
        roots.insert(std::move(root));
    }
  bool ok = true;
  const std::time_t now = std::time(nullptr);
  DiskFlush flush;
  std::vector<std::string> written;
  // One tree at a time: the lines of a large card are held for one tree only.
  for (const std::string& root : roots) {
    ManifestLines lines;
    std::vector<std::string> skipped;
    for (EngineContext* run : runs)
      add_manifest_lines(run->options(), run->state(), root, lines, skipped);
    for (const std::string& path : skipped)
      ui_printf("WARNING: %s is not in the manifest: its name holds a line break.\n", path.c_str());
    if (lines.empty()) continue;
    std::string path, error;
    if (!write_manifest(root, lines, in.ingestion_id, now, path, error)) {
      ui_printf("\nERROR: Can't write the manifest of %s: %s\n", root.c_str(), error.c_str());
      if (end_error.empty()) end_error = "Can't write the manifest of " + root + ": " + error;
      ok = false;
      continue;
    }
    ui_printf("Manifest of %s: %s\n", root.c_str(), path.c_str());
    flush.note(manifest_root(path) + "/" + kManifestFolder);
    written.push_back(path);
    if (in.database && in.ingestion_id >= 0 &&
        !manifest_add(*in.database, in.ingestion_id, {root, path, ""}))
      ok = false;
  }
  // The manifests reach the disk before any verdict is shown, as the images did: each with
  // its folders, or, after renamed folders, whole file systems, which take the renames too
  // (a manifest's own flush does not wait for what other programs wrote meanwhile).
  std::string folder;
  const bool flushed =
      renamed ? flush.flush(folder)
              : std::all_of(written.begin(), written.end(),
                            [&](const std::string& path) { return flush_manifest(path, folder); });
  if (!flushed) {
    const std::string why = std::strerror(errno);
    ui_printf("\nERROR: Can't write the manifest in %s to the disk: %s\n", folder.c_str(),
              why.c_str());
    if (end_error.empty()) end_error = "Can't write the manifest in " + folder + ": " + why;
    ok = false;
  }
  return ok;
}

void plan_burns(const RunEndInput& in, const EngineContext* roots, RunEndResult& out) {
  if (!in.master || !roots) return;
  const bool backup = roots->want_backup;
  const std::string primary_root = roots->primary_root.value_or(roots->first_copy_root);
  if (in.master->get_int("BurnPre") != 0 && backup)
    out.burns.push_back({"Pre-Conversion Backup", roots->first_copy_root,
                         in.control->burn_folders_snapshot(BurnList::kPreConversion)});
  if (in.master->get_int("BurnPrimary") != 0)
    out.burns.push_back({"Primary Folders", primary_root,
                         in.control->burn_folders_snapshot(BurnList::kPrimary)});
}

}  // namespace

std::unique_ptr<DiscSystem> burn_system() {
  const std::string folder = pref_get_text("BurnImageFolder");
  if (!folder.empty()) return std::make_unique<ImageFolderSystem>(folder);
  return std::make_unique<LibburnSystem>();
}

bool burn_after_run(const std::vector<FolderBurn>& burns, int record_key, const BurnQuestion& ask,
                    Database* database) {
  if (burns.empty()) return true;
  // Image files are written without questions: there is no disc to insert.
  const bool images = !pref_get_text("BurnImageFolder").empty();
  const std::unique_ptr<DiscSystem> system = burn_system();
  OriginLookup origins;
  if (database) origins = [database](DiscSet& set) { add_ledger_origins(*database, set); };
  return burn_folder_sets(burns, record_key, *system, std::string(),
                          images ? BurnQuestion() : ask, origins);
}

RunEndResult end_run(RunEndInput& in) {
  RunEndResult out;
  bool error = false;
  int filled = 0;
  for (const EndedSlot& s : in.slots) {
    if (!s.filled) continue;
    ++filled;
    if (in.cards_mode && !s.counted) continue;
    if (s.error) error = true;
    out.images += images_of(s);
  }

  const EngineContext* roots = roots_of(in);
  FolderRenames renames;
  bool folders_renamed = false;
  std::string end_error;  // the first failure after the slots ended
  // What the end records (the numbers, renamed folders, manifests, the result) is one
  // transaction: one flush of the database file rather than one per write. The manifests are
  // on the disk before it commits, so no record names a manifest a power cut could take back.
  std::optional<Database::Batch> batch;
  if (in.database) batch.emplace(*in.database);
  if (filled > 0 && !in.stopped_by_user && roots) {
    if (in.control->number_ranges().folders.empty()) {
      if (!recorded(store_image_numbers(in), "the ingestion record", end_error)) error = true;
    } else {
      folders_renamed = true;  // some, at least, when it fails
      if (!rename_number_ranges(in, *roots, renames)) {
        alert_printf("Error occurred renaming number-range folder");
        end_error = "Error occurred renaming number-range folder";
        error = true;
      }
    }
  }
  follow_renames(in, renames);
  if (filled > 0 && !write_manifests(in, folders_renamed, end_error)) error = true;
  // The reports end with their verdicts: shown once the manifests are on the disk too.
  for (const EndedSlot& s : in.slots)
    if (s.filled && (!in.cards_mode || s.counted))
      ui_print(s.ctx ? s.ctx->report : std::string("\n[no log]\n"));
  if (!recorded(log_write_failures() == in.log_failures, "the run log " + log_path(), end_error))
    error = true;
  const bool record = in.database && in.ingestion_id >= 0;

  if (!error && !in.stopped_by_user && record &&
      !recorded(record_success(*in.database, in.ingestion_id, filled > 0, out.images),
                "the ingestion record", end_error))
    error = true;

  // A run that failed or was stopped put images into the archive all the same: its record
  // counts them.
  if ((error || in.stopped_by_user) && record && filled > 0) {
    Database::Locked lock(*in.database);
    if (!in.database->ingestion_set_count(in.ingestion_id, out.images))
      ui_printf("\nERROR: Can't write the image count into the ingestion record.\n");
  }
  if (batch && !recorded(batch->commit(), "the ingestion record", end_error)) error = true;
  batch.reset();

  std::vector<VerdictSlot> counted;
  for (const EndedSlot& s : in.slots)
    if (s.filled && (!in.cards_mode || s.counted)) counted.push_back({s.ctx, s.error});
  out.verdict = run_verdict(counted, in.stopped_by_user, end_error);
  if (filled == 0) out.status_line = kNoCardsStatus;
  if (error) {
    out.status_line = "Error(s) occurred";
    if (!in.stopped_by_user)
      alert_printf(kIngestionErrorMessage,
                   out.verdict.level == VerdictLevel::kError ? out.verdict.detail.c_str()
                                                             : "The report says what failed.",
                   kSupportAddress);
  } else if (!in.stopped_by_user) {
    if (filled > 0) {
      const long seconds = static_cast<long>(std::time(nullptr) - in.started);
      out.status_line = format_limited(200, "Ingestions completed (%d images in %d min. %d sec.)",
                                       out.images, static_cast<int>(seconds / 60),
                                       static_cast<int>(seconds % 60));
    }
    if (in.master) launch_viewer(*in.master, viewer_folder(in), in.launch);
    out.success = true;
  }
  plan_burns(in, roots, out);
  return out;
}

}  // namespace cw
