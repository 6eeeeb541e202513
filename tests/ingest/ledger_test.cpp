// The ingest ledger over whole runs with a database: a stopped run completed by the next one,
// a card ingested again after its copies changed and its names did, archive copies changed
// after they were proven, and the run's own bookkeeping of what it stored.
#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "database/database.h"
#include "foundation/content_hash.h"
#include "foundation/sysio.h"
#include "ingest/card_time.h"
#include "ingest/copy_verifier.h"
#include "ingest/run_ledger.h"
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
  std::string backup = h.dir / "backup", post = h.dir / "post";

  void SetUp() override { ASSERT_TRUE(db.open(h.dir / "ledger.sqlite3")); }
  void with_backups() {
    h.set(kParamWantBackup, "1");
    h.set(kParamBackupFolder, backup);
    h.set(kParamWantBackupPost, "1");
    h.set(kParamBackupFolderPost, post);
  }
  // One run as a slot makes it, its ledger kept in the database when `recorded`; with
  // `reverify`, every earlier copy is read back again.
  bool run(bool recorded = true, bool reverify = false) {
    control = std::make_unique<SingleSlotControl>();
    h.ctx = std::make_unique<EngineContext>(EngineJob{control.get(), 0, "Test card"});
    h.ctx->database = recorded ? &db : nullptr;
    h.ctx->reverify = reverify;
    return run_slot(h.params, h.card, *h.ctx);
  }
};

// Stopped after five first copies, or after five copies into the primary tree, a run is
// completed by the next run of the card, also when the stopped run's record was lost (killed
// before it was stored): every tree then holds each image exactly once, the report counts the
// images completed, and the card is never touched.
TEST_F(LedgerRun, StoppedRunIsCompletedWithoutCopyingTwice) {
  with_backups();
  h.write_small_card(12);
  const auto card = files_below(h.card);
  const auto images = image_contents(h.card);
  struct Stop {
    const std::string* tree;
    bool recorded;
  };
  for (const auto [stop_in, recorded] :
       {Stop{&backup, true}, {&h.archive, true}, {&backup, false}, {&h.archive, false}}) {
    SCOPED_TRACE("stopped in " + *stop_in + (recorded ? "" : ", not recorded"));
    for (const std::string& tree : {backup, h.archive, post}) fsys::remove_all(tree);
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
    const auto in_backup = image_contents(backup), in_primary = image_contents(h.archive),
               in_post = image_contents(post);
    for (const auto& [bytes, n] : in_backup) {
      if (!in_primary.count(bytes) || !in_post.count(bytes)) ++unfinished;
      if (!in_primary.count(bytes)) ++without_primary;
    }
    ASSERT_GT(unfinished, 0);

    ASSERT_TRUE(run()) << h.ctx->error;
    for (const std::string& tree : {backup, h.archive, post})
      EXPECT_EQ(image_contents(tree), images) << tree;
    // Every card file is counted once, and the primary copies are those of the files copied
    // from the card now and those an earlier run had left without one.
    const RunCounters& c = h.ctx->counts;
    EXPECT_EQ(c.files_found + c.duplicates_on_card() + c.already_archived, 12);
    EXPECT_EQ(c.already_archived, static_cast<int>(in_backup.size()));
    EXPECT_EQ(c.copied_without_conversion, c.files_found + without_primary);
    EXPECT_TRUE(contains(h.ctx->report,
                         "    Files already in the archive: " + std::to_string(in_backup.size()) +
                             "\n        of them completed by this run: " +
                             std::to_string(unfinished) + "\n"))
        << h.ctx->report;
    EXPECT_TRUE(contains(h.ctx->report, "SUCCESSFUL INGESTION"));
    EXPECT_EQ(h.ctx->verdict.line,
              "Card safe to format: all 12 images have verified copies in 3 trees");
  }
  EXPECT_EQ(files_below(h.card), card);
}

// A card ingested again takes nothing new: not after XMP was merged into its JPEG copies, not
// for video and sound files, not after the name and folder formats changed. Two different
// images of one name, size and time in two folders both reach the archive.
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
  ASSERT_NE(jpeg_a, jpeg_b);
  ASSERT_NE(raw_a, raw_b);
  const std::pair<const char*, const std::string*> files[] = {
      {"100CAM/IMG_0001.JPG", &jpeg_a}, {"101CAM/IMG_0001.JPG", &jpeg_b},
      {"100CAM/IMG_0002.CR2", &raw_a},  {"101CAM/IMG_0002.CR2", &raw_b}};
  for (const auto& [path, bytes] : files) {
    fsys::create_directories(fsys::path(h.card + "/DCIM/" + path).parent_path());
    ASSERT_TRUE(fixtures::write_with_time(h.card + "/DCIM/" + path, *bytes, when));
  }
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
    ASSERT_TRUE(run()) << h.ctx->error;
    EXPECT_EQ(files_below(h.archive), archived) << name_format;
    EXPECT_EQ(h.ctx->counts.already_archived, 6) << name_format;
    // A file found in the archive is not a duplicate too.
    EXPECT_TRUE(contains(h.ctx->report, "    Files skipped because of duplication: 0\n"
                                        "    Files already in the archive: 6\n"));
    EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
  }
  EXPECT_EQ(files_below(h.card), card);
}

// The images of a tree by name, sidecars and manifests left out, in name order.
std::vector<std::string> images_in(const std::string& tree) {
  std::vector<std::string> out;
  for (const auto& [path, bytes] : files_below(tree))
    if (!path.ends_with(".xmp") && !path.starts_with("Manifests/")) out.push_back(tree + "/" + path);
  return out;
}

// After a card was archived in three trees, one copy in each tree gets a bit flipped (same
// size) and another is only touched. The next run finds them by their stat fingerprints and
// reads them again: the touched one still counts, each changed one is kept as it is and the
// card's file is copied beside it under the next suffix, on a line naming both. Copies left
// alone are never read again, unless every copy is to be read again.
TEST_F(LedgerRun, ArchiveCopiesChangedSinceTheyWereProvenAreReadAgainAndKept) {
  with_backups();
  h.write_small_card(8);
  const auto images = image_contents(h.card);
  ASSERT_TRUE(run()) << h.ctx->error;
  ASSERT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
  ASSERT_EQ(h.ctx->counts.files_verified, 24);
  ASSERT_TRUE(run()) << h.ctx->error;
  EXPECT_EQ(h.ctx->counts.files_verified, 0);
  EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;

  std::vector<std::string> changed;
  std::vector<std::string> changed_bytes;
  std::size_t image = 0;
  for (const std::string& tree : {backup, h.archive, post}) {
    const std::vector<std::string> names = images_in(tree);
    ASSERT_EQ(names.size(), 8u) << tree;
    changed.push_back(names[image++]);
    flip_a_bit(changed.back());
    changed_bytes.push_back(read_file(changed.back()));
  }
  const std::string touched = images_in(backup)[5];
  fsys::last_write_time(touched, fsys::last_write_time(touched));

  ASSERT_TRUE(run()) << h.ctx->error;
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
  for (const std::string& tree : {backup, h.archive, post}) {
    auto contents = image_contents(tree);
    EXPECT_EQ(contents.size(), 9u) << tree;  // each image once, and the changed copy
    for (const auto& [bytes, n] : images) EXPECT_EQ(contents[bytes], 1) << tree;
  }
  EXPECT_EQ(h.ctx->counts.already_archived, 7);
  // The touched copy read again, and the three new copies read back.
  EXPECT_EQ(h.ctx->counts.files_verified, 4);
  EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;

  ASSERT_TRUE(run()) << h.ctx->error;
  EXPECT_EQ(h.ctx->counts.files_verified, 0);
  EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
  ASSERT_TRUE(run(true, true)) << h.ctx->error;
  EXPECT_EQ(h.ctx->counts.files_verified, 24);
  EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
  for (const std::string& tree : {backup, h.archive, post})
    EXPECT_EQ(image_contents(tree).size(), 9u) << tree;
}

// What the readers ahead of a run did, seen through the system-call table: the reads of each
// copy by the run's own thread and by others, and one copy that gets a bit flipped once a
// reader has read it whole, when the run first looks at it.
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

// Every copy is to be read again: the copies are read on threads of their own while the run
// hashes the card, each once. A copy read there with a bit flipped is kept as it is and the card's
// file copied beside it, as when the run reads it itself; so is one that changes after it was
// read there (the read no longer stands for it: it is read again).
TEST_F(LedgerRun, CopiesReadAheadProveOnlyWhatTheyStillAre) {
  h.write_small_card(8);
  const auto images = image_contents(h.card);
  ASSERT_TRUE(run()) << h.ctx->error;
  const std::vector<std::string> names = images_in(h.archive);
  ASSERT_EQ(names.size(), 8u);
  flip_a_bit(names[1]);
  // Changed longer ago than the file system's clock tick: its fingerprint can stand.
  struct stat changed;
  ASSERT_EQ(::lstat(names[1].c_str(), &changed), 0);
  std::this_thread::sleep_for(std::chrono::nanoseconds(
      fingerprint_settle_wait_ns(fingerprint_of(changed), real_time_ns())));

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
    ASSERT_TRUE(run(true, true)) << h.ctx->error;
  }
  g_watch = nullptr;
  EXPECT_TRUE(watch.flipped) << "the run never looked at " << names[3];
  const std::string& report = h.ctx->report;
  for (const std::size_t i : {1u, 3u}) {
    const std::string& path = names[i];
    EXPECT_TRUE(contains(report, "WARNING: The archived copy \"" + path +
                                     "\" no longer matches the card; it is kept as it is.\n"))
        << report;
    EXPECT_TRUE(contains(report, "Changed archive copy kept: \"" + path +
                                     "\" -- the card's file is copied beside it: \"" +
                                     path.substr(0, path.size() - 4) + "_00001.JPG\"\n"))
        << report;
  }
  // Six copies proven again, two made beside the changed ones and read back.
  EXPECT_EQ(h.ctx->counts.files_verified, 8);
  EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
  auto archived = image_contents(h.archive);
  EXPECT_EQ(archived.size(), 10u);
  for (const auto& [bytes, n] : images) EXPECT_EQ(archived[bytes], 1);
  // Each read once (by a reader, unless the run came to it before a reader did).
  for (const std::size_t i : {0u, 2u, 4u, 5u, 6u, 7u})
    EXPECT_EQ(watch.reads[names[i]].first + watch.reads[names[i]].second, 1) << names[i];
  EXPECT_GE(watch.reads[names[3]].first, 1) << "the changed copy was not read again";
}

// The run's ledger tells its own entries from those an earlier run stored, and a copy proven
// before the disk was flushed waits, stored as only written, until a durable store: the
// count of such entries is what makes a long phase flush, and it falls to none after one.
TEST(RunLedgerStore, ProofsWaitForTheFlushAndEarlierEntriesAreLookedAtOnce) {
  test::Harness h;
  Database db;
  ASSERT_TRUE(db.open(h.dir / "ledger.sqlite3"));
  RunLedger ledger;
  ledger.attach(&db);
  auto entry = [](std::uint64_t n) {
    LedgerEntry e;
    e.source = "DCIM/IMG_" + std::to_string(n) + ".JPG";
    e.size = 100 + n;
    e.hash = Hash128{n, n * 7};
    LedgerCopy c;
    c.root = "/archive";
    c.path = "/archive/IMG_" + std::to_string(n) + ".JPG";
    c.size = e.size;
    c.hash = e.hash;
    c.state = CopyState::kVerified;
    e.copies.push_back(c);
    return e;
  };
  constexpr std::uint64_t kEntries = 3;
  for (std::uint64_t n = 1; n <= kEntries; ++n) {
    const std::size_t index = ledger.add(entry(n));
    EXPECT_TRUE(ledger.created_here(index));
    EXPECT_FALSE(ledger.first_look(index));
  }
  auto state_stored = [&db](std::uint64_t n) {
    return ledger_find(db, Hash128{n, n * 7}, 100 + n)->copies.at(0).state;
  };
  ASSERT_TRUE(ledger.store(false));
  EXPECT_EQ(ledger.waiting_for_flush(), kEntries);
  EXPECT_EQ(state_stored(2), CopyState::kWritten);
  ASSERT_TRUE(ledger.store(false));
  EXPECT_EQ(ledger.waiting_for_flush(), kEntries);
  ASSERT_TRUE(ledger.store(true));
  EXPECT_EQ(ledger.waiting_for_flush(), 0u);
  EXPECT_EQ(state_stored(2), CopyState::kVerified);

  RunLedger next;
  next.attach(&db);
  const std::optional<std::size_t> found = next.find(Hash128{2, 14}, 102);
  ASSERT_TRUE(found);
  EXPECT_FALSE(next.created_here(*found));
  EXPECT_TRUE(next.first_look(*found));
  EXPECT_FALSE(next.first_look(*found));
  EXPECT_FALSE(next.find(Hash128{9, 63}, 109));
}

// A copy is read back through direct reads where the buffer allows them and through the
// cache otherwise (the path file systems without direct reads take): both give its hash, and
// a copy on the disk that changed after it was written shows as a mismatch either way.
TEST(ReadBack, DirectAndCachedReadsAgree) {
  test::Harness h;
  const std::string path = h.dir / "copy.bin";
  std::string bytes(300000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 % 251);
  ASSERT_TRUE(fixtures::write_bytes(path, bytes));
  ContentHasher hasher;
  hasher.update(bytes.data(), bytes.size());
  const VerifyJob job{path, hasher.digest(), 0, 0};
  constexpr std::size_t kSize = 64 * 1024;
  const std::unique_ptr<char, decltype(&std::free)> buffer(
      static_cast<char*>(std::aligned_alloc(kReadBackAlignment, kSize + kReadBackAlignment)),
      &std::free);
  ASSERT_TRUE(buffer);
  char* const direct = buffer.get();
  char* const cached = buffer.get() + 1;  // not aligned: read through the cache
  EXPECT_EQ(read_back(job, direct, kSize).outcome, VerifyOutcome::kMatch);
  EXPECT_EQ(read_back(job, cached, kSize - 1).outcome, VerifyOutcome::kMatch);

  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, "x", 1, 123456), 1);
  ::close(fd);
  EXPECT_EQ(read_back(job, direct, kSize).outcome, VerifyOutcome::kMismatch);
  EXPECT_EQ(read_back(job, cached, kSize - 1).outcome, VerifyOutcome::kMismatch);

  const VerifyResult gone = read_back(VerifyJob{h.dir / "none.bin", job.expected, 0, 0},
                                      direct, kSize);
  EXPECT_EQ(gone.outcome, VerifyOutcome::kUnreadable);
  EXPECT_EQ(gone.error, ENOENT);
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
