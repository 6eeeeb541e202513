// Corrected capture dates written into the final copies of images whose camera clock was wrong.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "foundation/capture_shift.h"
#include "foundation/sysio.h"
#include "ingest/exif_times.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_card.h"
#include "tests/fixtures/sample_files.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::files_below;
using test::read_file;

TEST(CorrectedDateArgs, AbsoluteValuesOfTheDatesTheImageHasOnly) {
  const ExifPairs pairs = {{"Make", "Cam"},
                           {"DateTimeOriginal", "2024:05:17 00:20:30"},
                           {"DateTimeDigitized", "2024:05:17 00:20:31"}};
  EXPECT_EQ(corrected_date_args(pairs, -3600, "/a/-x.JPG", "/a/-x.JPG-cwtmp"),
            (std::vector<std::string>{"-q", "-m", "-P", "-o", "/a/-x.JPG-cwtmp",
                                      "-EXIF:DateTimeOriginal=2024:05:16 23:20:30",
                                      "-EXIF:CreateDate=2024:05:16 23:20:31", "/a/-x.JPG"}));
  // A name that would read as an option is passed as a path.
  const std::vector<std::string> relative = corrected_date_args(pairs, 60, "-x.JPG", "-x.t");
  EXPECT_EQ(relative[4], "./-x.t");
  EXPECT_EQ(relative.back(), "./-x.JPG");
  EXPECT_EQ(relative[6], "-EXIF:CreateDate=2024:05:17 00:21:31");
  // Nothing to write: no date, a date that is no date, or no correction.
  EXPECT_TRUE(corrected_date_args({{"Make", "Cam"}}, 60, "a", "b").empty());
  EXPECT_TRUE(corrected_date_args({{"DateTimeOriginal", "0000:00:00 00:00:00"}}, 60, "a", "b")
                  .empty());
  EXPECT_TRUE(corrected_date_args(pairs, 0, "a", "b").empty());
}

constexpr int kImages = 4;
constexpr std::int64_t kShift = -3792;
const std::string kFirstCapture = fixtures::CardSpec{}.first_capture;

std::string image_name(int i) { return "IMG_000" + std::to_string(i) + ".JPG"; }

// The date the card's image `i` was taken at, corrected by `seconds`.
std::string capture_of(int i, std::int64_t seconds) {
  return fixtures::exif_date_plus(kFirstCapture, 7 * (i - 1) + static_cast<long>(seconds));
}

// ExifTool's reading of a file's two capture dates, one a line.
std::string dates_of(const std::string& file) {
  return test::exiftool("-s3 -EXIF:DateTimeOriginal -EXIF:CreateDate", file);
}

// Kills this process as the final copy of IMG_0002, its dates written, is read to record its
// change (the ledger still has the copy as changing), or as the new file of IMG_0003's dates
// is synced, about to replace the copy.
enum class KillAt { kSecondRecorded, kThirdSynced };
KillAt g_kill_at = KillAt::kSecondRecorded;
bool g_second_written = false;

int fsync_or_die(int fd) {
  const std::string path = test::fd_path(fd);
  if (path.ends_with("archive/IMG_0002.JPG-cwtmp")) g_second_written = true;
  if (g_kill_at == KillAt::kThirdSynced && path.ends_with("IMG_0003.JPG-cwtmp"))
    ::kill(::getpid(), SIGKILL);
  return system_sysio().fsync(fd);
}

int open_or_die(const char* path, int flags, mode_t mode) {
  if (g_kill_at == KillAt::kSecondRecorded && g_second_written &&
      std::string(path).ends_with("archive/IMG_0002.JPG"))
    ::kill(::getpid(), SIGKILL);
  return system_sysio().open(path, flags, mode);
}

struct ExifTimes : ::testing::Test {
  test::Harness h;
  std::string db_path = h.dir / "ledger.sqlite3";
  std::map<std::string, std::string> card;  // the card's files as written

  void SetUp() override {
    if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
    h.write_small_card(kImages);
    card = files_below(h.card);
    h.params.write_exif_times = true;
  }
  // The camera clock of image `i` corrected by `seconds`.
  void correct(int i, std::int64_t seconds) { correct(image_name(i), seconds); }
  void correct(const std::string& name, std::int64_t seconds) {
    struct stat st;
    ASSERT_EQ(::stat((h.card + "/DCIM/100CWTST/" + name).c_str(), &st), 0);
    h.params.capture_shifts.set(st.st_dev, st.st_ino, CaptureShift{seconds, 0});
  }
  bool run() { return h.run_slot_with(db_path); }
  bool run_killed(KillAt at) {
    return test::killed_in_child([&] {
      g_kill_at = at;
      Sysio table = system_sysio();
      table.open = open_or_die;
      table.fsync = fsync_or_die;
      set_sysio(table);
      run();
    });
  }
  std::string copy(int i) const { return h.archive + "/" + image_name(i); }
};

// One image of four corrected, with and without a backup: only its final copy changes. A
// corrected video is named in the report and copied as it is.
TEST_F(ExifTimes, TheFinalCopyCarriesTheCorrectedDatesAndNothingElseChanges) {
  test::write_file(h.card + "/DCIM/100CWTST/MVI_0005.MOV", "not really a movie");
  card = files_below(h.card);
  correct(2, kShift);
  correct("MVI_0005.MOV", kShift);
  for (const bool backed_up : {false, true}) {
    SCOPED_TRACE(backed_up ? "with a backup" : "without a backup");
    fsys::remove_all(h.archive);
    fsys::remove(db_path);
    if (backed_up) h.with_backup();
    ASSERT_TRUE(run()) << h.ctx->error << h.ctx->report;
    EXPECT_EQ(dates_of(copy(2)), capture_of(2, kShift) + "\n" + capture_of(2, kShift) + "\n");
    for (const int i : {1, 3, 4})
      EXPECT_EQ(read_file(copy(i)), card.at("DCIM/100CWTST/" + image_name(i))) << i;
    EXPECT_EQ(files_below(h.card), card);
    if (backed_up) {
      EXPECT_EQ(test::image_contents(h.backup), test::image_contents(h.card));
    }
    EXPECT_NE(h.ctx->report.find("Corrected EXIF dates:\n\t1 written\n\t0 error(s)\n"
                                 "\t1 video(s) cannot carry EXIF dates: " +
                                 h.archive + "/MVI_0005.MOV\n"),
              std::string::npos)
        << h.ctx->report;
    EXPECT_EQ(read_file(h.archive + "/MVI_0005.MOV"), "not really a movie");
    // The copy keeps the card file's modification time.
    EXPECT_EQ(fixtures::mtime_of(copy(2)),
              fixtures::mtime_of(h.card + "/DCIM/100CWTST/" + image_name(2)));
  }
  // Not asked for: the copies are the card's files.
  h.params.write_exif_times = false;
  fsys::remove_all(h.archive);
  fsys::remove(db_path);
  ASSERT_TRUE(run()) << h.ctx->error;
  EXPECT_EQ(read_file(copy(2)), card.at("DCIM/100CWTST/IMG_0002.JPG"));
  EXPECT_EQ(h.ctx->report.find("Corrected EXIF dates"), std::string::npos);
}

// Killed before the second image's new dates were recorded or while the third's were written:
// the next run writes every copy's dates once, from the card's (never moved twice).
TEST_F(ExifTimes, KilledWhileWritingTheNextRunWritesEveryCopyOnce) {
  for (int i = 1; i <= kImages; ++i) correct(i, kShift);
  const auto corrected = [](int i) {
    return capture_of(i, kShift) + "\n" + capture_of(i, kShift) + "\n";
  };
  for (const auto& [backed_up, at] :
       {std::pair{false, KillAt::kSecondRecorded}, std::pair{false, KillAt::kThirdSynced},
        std::pair{true, KillAt::kSecondRecorded}, std::pair{true, KillAt::kThirdSynced}}) {
    SCOPED_TRACE(at == KillAt::kSecondRecorded ? "killed recording the second"
                                               : "killed writing the third");
    SCOPED_TRACE(backed_up ? "with a backup" : "without a backup");
    if (backed_up) h.with_backup();
    fsys::remove_all(h.archive);
    fsys::remove_all(h.backup);
    fsys::remove(db_path);
    ASSERT_TRUE(run_killed(at));
    ASSERT_EQ(dates_of(copy(2)), corrected(2));
    ASSERT_EQ(fsys::exists(copy(3) + "-cwtmp"), at == KillAt::kThirdSynced);

    ASSERT_TRUE(run()) << h.ctx->error << h.ctx->report;
    EXPECT_EQ(test::image_files(h.archive),
              (std::vector<std::string>{copy(1), copy(2), copy(3), copy(4)}));
    for (int i = 1; i <= kImages; ++i) EXPECT_EQ(dates_of(copy(i)), corrected(i)) << i;
    if (backed_up) {
      EXPECT_EQ(test::image_contents(h.backup), test::image_contents(h.card));
    }
    EXPECT_EQ(files_below(h.card), card);
    EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
    const auto archived = files_below(h.archive);
    ASSERT_TRUE(run());
    EXPECT_EQ(files_below(h.archive), archived);
  }
}

}  // namespace
}  // namespace cw
