// The ingest ledger over whole runs with a database: stopped runs completed, cards ingested
// again, archive copies changed after they were proven.
#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "database/database.h"
#include "database/ledger_store.h"
#include "foundation/content_hash.h"
#include "foundation/sysio.h"
#include "ingest/card_time.h"
#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/sample_card.h"
#include "tests/fixtures/sample_files.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::contains;
using test::flip_a_bit;
using test::files_below;
using test::image_contents;
using test::image_files;
using test::read_file;

// Asks `control` to stop once `copies` more files have been moved into place below `tree`.
struct StopAfter {
  std::string tree;
  int copies = 0;
  std::unique_ptr<SingleSlotControl>* control = nullptr;
};
StopAfter g_stop;

int rename_then_stop(const char* from, const char* to) {
  const int rc = system_sysio().rename(from, to);
  if (rc == 0 && std::string(to).starts_with(g_stop.tree) && --g_stop.copies == 0)
    (*g_stop.control)->request_stop();
  return rc;
}

struct LedgerRun : ::testing::Test {
  test::Harness h;
  Database db;
  std::unique_ptr<SingleSlotControl> control;

  void SetUp() override { ASSERT_TRUE(db.open(h.dir / "ledger.sqlite3")); }
  // One run as a slot, its ledger kept in the database when `recorded`.
  bool run(bool recorded = true, bool reverify = false) {
    control = std::make_unique<SingleSlotControl>();
    h.ctx = std::make_unique<EngineContext>(EngineJob{control.get(), 0, "Test card"});
    h.ctx->database = recorded ? &db : nullptr;
    h.ctx->reverify = reverify;
    return run_slot(h.params, h.card, *h.ctx);
  }
  // A recorded run that must succeed and call the card safe; the copies it read back.
  int safe_run(bool reverify = false) {
    EXPECT_TRUE(run(true, reverify)) << h.ctx->error;
    EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
    return h.ctx->counts.files_verified;
  }
};

// Stopped after five copies into the first or the primary tree, its record kept or lost (as
// when killed before storing it), a run is completed by the next without copying twice.
TEST_F(LedgerRun, StoppedRunIsCompletedWithoutCopyingTwice) {
  h.with_backup(true);
  h.write_small_card(12);
  const auto card = files_below(h.card);
  const auto images = image_contents(h.card);
  struct Stop {
    const std::string* tree;
    bool recorded;
  };
  for (const auto [stop_in, recorded] :
       {Stop{&h.backup, true}, {&h.archive, true}, {&h.backup, false}, {&h.archive, false}}) {
    SCOPED_TRACE("stopped in " + *stop_in + (recorded ? "" : ", not recorded"));
    for (const std::string& tree : {h.backup, h.archive, h.post}) fsys::remove_all(tree);
    db.close();
    ASSERT_TRUE(db.open(h.dir / ("ledger-" + std::to_string(recorded) +
                                 fsys::path(*stop_in).filename().string())));
    {
      Sysio table = system_sysio();
      table.rename = rename_then_stop;
      ScopedSysio faults(table);
      g_stop = {*stop_in + "/", 5, &control};
      EXPECT_FALSE(run(recorded));
    }
    EXPECT_EQ(h.ctx->error, "Stopped");
    EXPECT_FALSE(h.ctx->verdict.safe);
    // The images with a first copy that still lack a copy in another tree.
    int unfinished = 0, without_primary = 0;
    const auto in_backup = image_contents(h.backup), in_primary = image_contents(h.archive),
               in_post = image_contents(h.post);
    for (const auto& [bytes, n] : in_backup) {
      if (!in_primary.count(bytes) || !in_post.count(bytes)) ++unfinished;
      if (!in_primary.count(bytes)) ++without_primary;
    }
    ASSERT_GT(unfinished, 0);

    ASSERT_TRUE(run()) << h.ctx->error;
    for (const std::string& tree : {h.backup, h.archive, h.post})
      EXPECT_EQ(image_contents(tree), images) << tree;
    // Every card file is counted once, and the primary copies are those of the files copied
    // from the card now and those an earlier run had left without one.
    const RunCounters& c = h.ctx->counts;
    EXPECT_EQ(c.files_found + c.duplicates_on_card() + c.already_archived, 12);
    EXPECT_EQ(c.copied_without_conversion, c.files_found + without_primary);
    EXPECT_TRUE(contains(h.ctx->report,
                         "    Files already in the archive: " + std::to_string(in_backup.size()) +
                             "\n        of them completed by this run: " +
                             std::to_string(unfinished) + "\n"))
        << h.ctx->report;
    EXPECT_EQ(h.ctx->verdict.line,
              "Card safe to format: all 12 images have verified copies in 3 trees");
  }
  EXPECT_EQ(files_below(h.card), card);
}

// A card ingested again takes nothing new, though XMP was merged into its copies and the formats
// changed; two images of one name, size and time in two folders both reach the archive.
TEST_F(LedgerRun, ReIngestTakesNothingNew) {
  h.set(kParamWantXMPtoJPG, "1");
  h.set(kParamSidecarPath, h.dir / "title.xmp");
  test::write_file(h.dir / "title.xmp", fixtures::sample_xmp_packet("merged"));
  const std::string date = "2024:05:17 10:20:30";
  const std::time_t when = fixtures::exif_date_to_time(date);
  const std::string jpeg_a = fixtures::make_jpeg(date, 6000, 1);
  const std::string jpeg_b = fixtures::make_jpeg(date, 6000, 2);
  const std::string raw_a = fixtures::make_tiff_raw(date, 6000, 1);
  const std::string raw_b = fixtures::make_tiff_raw(date, 6000, 2);
  const std::pair<const char*, const std::string*> files[] = {
      {"100CAM/IMG_0001.JPG", &jpeg_a}, {"101CAM/IMG_0001.JPG", &jpeg_b},
      {"100CAM/IMG_0002.CR2", &raw_a},  {"101CAM/IMG_0002.CR2", &raw_b}};
  for (const auto& [path, bytes] : files)
    ASSERT_TRUE(fixtures::write_with_time(h.card + "/DCIM/" + path, *bytes, when));
  ASSERT_TRUE(fixtures::write_with_time(h.card + "/DCIM/100CAM/MVI_0003.MOV", "movie", when + 5));
  ASSERT_TRUE(fixtures::write_with_time(h.card + "/DCIM/101CAM/SND_0004.WAV", "sound", when + 9));
  const auto card = files_below(h.card);
  ASSERT_TRUE(run()) << h.ctx->error;
  const auto archived = files_below(h.archive);
  auto contents = image_contents(h.archive);
  EXPECT_EQ(contents.size(), 6u);
  EXPECT_EQ(contents[raw_a] + contents[raw_b], 2);
  // Both JPEGs were changed by the merge: the archive holds neither card's bytes.
  EXPECT_EQ(contents.count(jpeg_a) + contents.count(jpeg_b), 0u);

  for (const char* name_format : {"{@filename}", "NEW_{@filename}"}) {
    h.set(kParamNameFormat, name_format);
    h.set(kParamFolderFormat, "{@filename,1,3}");
    safe_run();
    EXPECT_EQ(files_below(h.archive), archived) << name_format;
    // A file found in the archive is not a duplicate too.
    EXPECT_TRUE(contains(h.ctx->report, "    Files skipped because of duplication: 0\n"
                                        "    Files already in the archive: 6\n"));
  }
  EXPECT_EQ(files_below(h.card), card);
}

// Every new entry records its own image's capture date, whichever thread read it: with a
// template, the sidecar thread reads the images' values ahead of the copying.
TEST_F(LedgerRun, EntriesRecordTheirOwnImagesCaptureDates) {
  const fixtures::CardSpec spec = fixtures::jpeg_card(24);
  const std::vector<std::string> images = fixtures::write_sample_card(h.card, spec);
  ASSERT_EQ(images.size(), 24u);
  h.set(kParamSidecarPath, std::string(CW_SOURCE_DIR) + "/data/Cardwright-IPTC.3.4.xmp");
  safe_run();
  std::vector<char> buffer(1 << 16);
  for (std::size_t i = 0; i < images.size(); ++i) {
    Hash128 hash;
    ASSERT_TRUE(hash_file(images[i], hash, buffer.data(), buffer.size()));
    const std::optional<LedgerEntry> e = ledger_find(db, hash, fsys::file_size(images[i]));
    ASSERT_TRUE(e) << images[i];
    std::string date = fixtures::exif_date_plus(spec.first_capture,
                                                static_cast<long>(i) * spec.seconds_apart);
    std::erase(date, ':');
    std::replace(date.begin(), date.end(), ' ', '_');
    EXPECT_EQ(e->captured, date) << images[i];
  }
}

// One copy in each tree gets a bit flipped (same size), another is only touched: the next run
// reads them again by their stat fingerprints; the touched one still counts, a changed one is
// kept and the card's file copied beside it. Copies left alone are read again only on request.
TEST_F(LedgerRun, ArchiveCopiesChangedSinceTheyWereProvenAreReadAgainAndKept) {
  h.with_backup(true);
  h.write_small_card(8);
  const auto images = image_contents(h.card);
  ASSERT_EQ(safe_run(), 24);
  EXPECT_EQ(safe_run(), 0);

  std::vector<std::string> changed;
  std::vector<std::string> changed_bytes;
  std::size_t image = 0;
  for (const std::string& tree : {h.backup, h.archive, h.post}) {
    const std::vector<std::string> names = image_files(tree);
    ASSERT_EQ(names.size(), 8u) << tree;
    changed.push_back(names[image++]);
    flip_a_bit(changed.back());
    changed_bytes.push_back(read_file(changed.back()));
  }
  const std::string touched = image_files(h.backup)[5];
  fsys::last_write_time(touched, fsys::last_write_time(touched));

  // The touched copy read again, and the three new copies read back.
  EXPECT_EQ(safe_run(), 4);
  const std::string& report = h.ctx->report;
  for (std::size_t i = 0; i < changed.size(); ++i) {
    const std::string& path = changed[i];
    const std::string beside = path.substr(0, path.size() - 4) + "_00001" +
                               path.substr(path.size() - 4);
    EXPECT_TRUE(contains(report, "Changed archive copy kept: \"" + path +
                                     "\" -- the card's file is copied beside it: \"" + beside +
                                     "\"\n"))
        << report;
    EXPECT_EQ(read_file(path), changed_bytes[i]);
  }
  for (const std::string& tree : {h.backup, h.archive, h.post}) {
    auto contents = image_contents(tree);
    EXPECT_EQ(contents.size(), 9u) << tree;  // each image once, and the changed copy
    for (const auto& [bytes, n] : images) EXPECT_EQ(contents[bytes], 1) << tree;
  }
  EXPECT_EQ(h.ctx->counts.already_archived, 7);

  EXPECT_EQ(safe_run(), 0);
  EXPECT_EQ(safe_run(true), 24);
  for (const std::string& tree : {h.backup, h.archive, h.post})
    EXPECT_EQ(image_contents(tree).size(), 9u) << tree;
}

// The reads of each copy by the run's own thread and by readers ahead of it; one copy gets a bit
// flipped once a reader has read it whole, when the run first looks at it.
struct ReadWatch {
  std::mutex mutex;
  std::map<std::string, std::pair<int, int>> reads;  // path: (run's thread, other threads)
  std::thread::id run_thread;
  std::string archive;
  std::string flip_late;  // set before the run
  std::atomic<bool> flipped{false};
  std::atomic<int> late_fd{-1};
  bool late_read = false;  // under `mutex`
  std::condition_variable read_whole;
};
ReadWatch* g_watch = nullptr;

int open_watched(const char* path, int flags, mode_t mode) {
  const int fd = system_sysio().open(path, flags, mode);
  const std::string p(path);
  if ((flags & O_ACCMODE) != O_RDONLY || !p.starts_with(g_watch->archive + "/") ||
      !p.ends_with(".JPG"))
    return fd;
  const bool on_run = std::this_thread::get_id() == g_watch->run_thread;
  {
    std::lock_guard<std::mutex> lock(g_watch->mutex);
    auto& [run, others] = g_watch->reads[p];
    ++(on_run ? run : others);
  }
  if (!on_run && p == g_watch->flip_late) g_watch->late_fd = fd;
  return fd;
}

int close_watched(int fd) {
  int late = fd;
  if (fd >= 0 && g_watch->late_fd.compare_exchange_strong(late, -1)) {
    std::lock_guard<std::mutex> lock(g_watch->mutex);
    g_watch->late_read = true;
    g_watch->read_whole.notify_all();
  }
  return system_sysio().close(fd);
}

int lstat_watched(const char* path, struct stat* st) {
  if (std::this_thread::get_id() == g_watch->run_thread && path == g_watch->flip_late &&
      !g_watch->flipped) {
    std::unique_lock<std::mutex> lock(g_watch->mutex);
    // Bounded only so that a run whose readers never come fails instead of hanging.
    EXPECT_TRUE(g_watch->read_whole.wait_for(lock, std::chrono::seconds(30),
                                             [] { return g_watch->late_read; }))
        << "no reader read " << path;
    lock.unlock();
    flip_a_bit(path);
    g_watch->flipped = true;
  }
  return system_sysio().lstat(path, st);
}

// Copies read again ahead of the run, each once: one found flipped there is kept as when the
// run reads it itself, and so is one that changes after it was read there (it is read again).
TEST_F(LedgerRun, CopiesReadAheadProveOnlyWhatTheyStillAre) {
  h.write_small_card(8);
  const auto images = image_contents(h.card);
  ASSERT_TRUE(run()) << h.ctx->error;
  const std::vector<std::string> names = image_files(h.archive);
  ASSERT_EQ(names.size(), 8u);
  flip_a_bit(names[1]);
  // Changed longer ago than the file system's clock tick: its fingerprint can stand.
  struct stat changed;
  ASSERT_EQ(::lstat(names[1].c_str(), &changed), 0);
  std::this_thread::sleep_for(std::chrono::nanoseconds(
      fingerprint_settle_wait_ns(fingerprint_of(changed), real_time_ns(),
                                 change_time_tick_ns(names[1]))));

  ReadWatch watch;
  watch.run_thread = std::this_thread::get_id();
  watch.archive = h.archive;
  watch.flip_late = names[3];
  g_watch = &watch;
  {
    Sysio table = system_sysio();
    table.open = open_watched;
    table.close = close_watched;
    table.lstat = lstat_watched;
    ScopedSysio watched(table);
    // Six copies proven again, two made beside the changed ones and read back.
    EXPECT_EQ(safe_run(true), 8);
  }
  g_watch = nullptr;
  EXPECT_TRUE(watch.flipped) << "the run never looked at " << names[3];
  const std::string& report = h.ctx->report;
  // Each found changed; the copies beside them are named as in the test above.
  for (const std::size_t i : {1u, 3u})
    EXPECT_TRUE(contains(report, "WARNING: The archived copy \"" + names[i] +
                                     "\" no longer matches the card; it is kept as it is.\n"))
        << report;
  auto archived = image_contents(h.archive);
  EXPECT_EQ(archived.size(), 10u);
  for (const auto& [bytes, n] : images) EXPECT_EQ(archived[bytes], 1);
  // Each read once (by a reader, unless the run came to it before a reader did).
  for (const std::size_t i : {0u, 2u, 4u, 5u, 6u, 7u})
    EXPECT_EQ(watch.reads[names[i]].first + watch.reads[names[i]].second, 1) << names[i];
  EXPECT_GE(watch.reads[names[3]].first, 1) << "the changed copy was not read again";
}

// A FAT card's file read in another zone keeps its identity; nothing else does.
TEST(CardTime, ZoneShiftsOfLocalTimesAreTheSameTime) {
  const std::int64_t t = 1715941230;
  for (std::int64_t shift : {0, 2, -2, 3600, -3600 - 2, 5 * 3600 + 1, 5 * 3600 + 1800,
                             -9 * 3600 - 2700, 26 * 3600, -26 * 3600 + 2})
    EXPECT_TRUE(same_card_time(t + shift, t, true)) << shift;
  for (std::int64_t shift : {3, -3, 600, 3600 + 3, 3600 + 450, 26 * 3600 + 900, -27 * 3600})
    EXPECT_FALSE(same_card_time(t + shift, t, true)) << shift;
  EXPECT_FALSE(same_card_time(t + 3600, t, false));
  EXPECT_FALSE(same_card_time(INT64_MAX, INT64_MIN, true));
  EXPECT_EQ(earliest_card_time(INT64_MIN + 5, true), INT64_MIN);
  EXPECT_EQ(latest_card_time(t, true) - earliest_card_time(t, true), 2 * (26 * 3600 + 2));
}

}  // namespace
}  // namespace cw
