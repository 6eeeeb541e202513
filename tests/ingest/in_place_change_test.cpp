// Copies changed in place (XMP merged, GPS tags written, corrected capture dates written) with
// the run killed between a change and its record: the next run knows each changed copy as its
// image's and makes every change.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>

#include "foundation/sysio.h"
#include "gps/gpx.h"
#include "gps/tag_writer.h"
#include "ingest/exif_times.h"
#include "metadata/jpeg_xmp.h"
#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_card.h"
#include "tests/fixtures/sample_files.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::files_below;
using test::read_file;

constexpr int kImages = 4;

// Kills this process as the second image is moved into place; as the second image's merged
// file is synced, about to replace it; as the final copy of IMG_0002, its dates written, is read
// to record its change (the ledger still has the copy as changing); or as the new file of
// IMG_0003's dates is synced, about to replace the copy.
enum class KillAt { kSecondCopy, kSecondMerge, kSecondDatesRecorded, kThirdDatesSynced };
KillAt g_kill_at = KillAt::kSecondCopy;
int g_copies = 0;
bool g_second_written = false;

int rename_or_die(const char* from, const char* to) {
  if (g_kill_at == KillAt::kSecondCopy && std::string(to).ends_with(".JPG") && ++g_copies == 2)
    ::kill(::getpid(), SIGKILL);
  return system_sysio().rename(from, to);
}

int fsync_or_die(int fd) {
  const std::string path = test::fd_path(fd);
  if (path.ends_with("archive/IMG_0002.JPG-cwtmp")) g_second_written = true;
  if ((g_kill_at == KillAt::kSecondMerge && path.ends_with("IMG_0002.JPG-cwtmp")) ||
      (g_kill_at == KillAt::kThirdDatesSynced && path.ends_with("IMG_0003.JPG-cwtmp")))
    ::kill(::getpid(), SIGKILL);
  return system_sysio().fsync(fd);
}

int open_or_die(const char* path, int flags, mode_t mode) {
  if (g_kill_at == KillAt::kSecondDatesRecorded && g_second_written &&
      std::string(path).ends_with("archive/IMG_0002.JPG"))
    ::kill(::getpid(), SIGKILL);
  return system_sysio().open(path, flags, mode);
}

struct InPlaceChange : ::testing::Test {
  test::Harness h;
  std::string db_path = h.dir / "ledger.sqlite3";
  GPX tracks;
  GpsRunSettings gps;
  bool tagging = false;

  void SetUp() override {
    h.write_small_card(kImages);
    h.set(kParamSidecarPath, h.dir / "title.xmp");
    test::write_file(h.dir / "title.xmp", fixtures::sample_xmp_packet("merged"));
  }
  bool run() { return h.run_slot_with(db_path, tagging ? &gps : nullptr); }
  // Nothing archived, backed up or recorded, as before a first run.
  void start_over() { for (const auto& p : {h.archive, h.backup, db_path}) fsys::remove_all(p); }
  // One run in a child process that `arm` has set up to be killed; true when it was.
  bool run_killed(const std::function<void()>& arm) {
    return test::killed_in_child([&] {
      ::setenv("CW_KILLED_RUN", std::to_string(::getpid()).c_str(), 1);
      arm();
      run();
    });
  }
  // One run in a child process, killed at the point `at` names.
  bool run_killed(KillAt at) {
    return run_killed([at] {
      g_kill_at = at;
      Sysio table = system_sysio();
      table.rename = rename_or_die;
      table.fsync = fsync_or_die;
      table.open = open_or_die;
      set_sysio(table);
    });
  }
  // Every card image in the archive once under its own name, with no temporary file; in the
  // backup, when there is one, the card's images as they are.
  void expect_each_image_once() {
    std::vector<std::string> expected;
    for (int i = 1; i <= kImages; ++i)
      expected.push_back(h.archive + "/IMG_000" + std::to_string(i) + ".JPG");
    EXPECT_EQ(test::image_files(h.archive), expected);
    if (fsys::exists(h.backup)) {
      EXPECT_EQ(test::image_contents(h.backup), test::image_contents(h.card));
    }
  }
  // Every archived JPEG holds the sidecar's XMP, and no sidecar is left beside it.
  void expect_each_image_merged() {
    for (int i = 1; i <= kImages; ++i) {
      const std::string name = h.archive + "/IMG_000" + std::to_string(i);
      const std::optional<JpegXmpPackets> xmp = read_jpeg_xmp(name + ".JPG");
      ASSERT_TRUE(xmp) << i;
      EXPECT_NE(xmp->main.find(">merged<"), std::string::npos) << i;
      EXPECT_FALSE(fsys::exists(name + ".xmp")) << i;
    }
  }
  // Once a run has completed what a killed one left, the next finds everything in place.
  void expect_a_third_run_to_change_nothing() {
    const auto archived = files_below(h.archive);
    ASSERT_TRUE(run());
    EXPECT_EQ(files_below(h.archive), archived);
  }
  // GPS tags from a track around the card's capture times, written by the stand-in tagger.
  void use_tagger();
  void expect_each_image_tagged();
};

// Killed as the second image is moved into place (the first merged already, its record not
// stored yet), or as the second image's merged file is about to replace it (left beside it).
TEST_F(InPlaceChange, KilledAroundAMergeTheNextRunKnowsTheMergedCopy) {
  h.set(kParamWantXMPtoJPG, "1");
  for (const KillAt kill : {KillAt::kSecondCopy, KillAt::kSecondMerge}) {
    const bool in_merge = kill == KillAt::kSecondMerge;
    SCOPED_TRACE(in_merge ? "killed in the second merge" : "killed at the second copy");
    start_over();
    ASSERT_TRUE(run_killed(kill));
    const std::optional<JpegXmpPackets> first = read_jpeg_xmp(h.archive + "/IMG_0001.JPG");
    ASSERT_TRUE(first && first->main.find(">merged<") != std::string::npos);
    ASSERT_EQ(fsys::exists(h.archive + "/IMG_0002.JPG-cwtmp"), in_merge);
    ASSERT_EQ(fsys::exists(h.archive + "/IMG_0002.JPG"), in_merge);

    ASSERT_TRUE(run()) << h.ctx->error << h.ctx->report;
    expect_each_image_once();
    expect_each_image_merged();
    expect_a_third_run_to_change_nothing();
  }
}

// Killed after the copies were recorded and before their merges began: they hold the card's
// bytes, and one lacks its sidecar too. The next run places that sidecar and merges them all.
TEST_F(InPlaceChange, CopiesRecordedBeforeTheirMergeAreMergedByTheNextRun) {
  ASSERT_TRUE(run()) << h.ctx->error;  // merging off: the copies and sidecars such a kill leaves
  fsys::remove(h.archive + "/IMG_0002.xmp");
  h.set(kParamWantXMPtoJPG, "1");
  ASSERT_TRUE(run()) << h.ctx->error << h.ctx->report;
  expect_each_image_once();
  expect_each_image_merged();
  EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
}

// A stand-in tagger: ExifTool's -o writes a copy of the image with "GPS" at its end, without
// it the image gets that in place (as ExifTool's in-place options do); an image tagged already
// stays as it is. While the folder holds "kill", the image IMG_0003 is tagged and then the run
// (CW_KILLED_RUN) is killed before it can take the result.
const char* const kTagger =
    "#!/bin/sh\n"
    "tag() {\n"
    "out=; prev=\n"
    "for image; do [ \"$prev\" = -o ] && out=$image; prev=$image; done\n"
    "target=${out:-$image}\n"
    "[ -z \"$out\" ] || cp -p -- \"$image\" \"$out\" || return 1\n"
    "[ \"$(tail -c 3 \"$target\")\" = GPS ] || printf GPS >> \"$target\"\n"
    "case $image in *IMG_0003.JPG) [ -e \"${0%/*}/kill\" ] && kill -9 \"$CW_KILLED_RUN\";; esac\n"
    "}\n"
    "if [ \"$1\" = -stay_open ]; then set --; while IFS= read -r l; do case $l in\n"
    "  -execute*) tag \"$@\"; echo \"{ready${l#-execute}}\"; set -- ;;\n"
    "  False) exit 0 ;; *) set -- \"$@\" \"$l\" ;; esac; done; exit 0; fi\n"
    "tag \"$@\"\n";

void InPlaceChange::use_tagger() {
  std::string message;
  ASSERT_TRUE(tracks.load_gpx_text(
      "<gpx><trk><trkseg><trkpt lat='48.85' lon='2.35'><time>2024-05-17T10:00:00Z</time>"
      "</trkpt><trkpt lat='48.86' lon='2.30'><time>2024-05-17T11:00:00Z</time></trkpt>"
      "</trkseg></trk></gpx>", "t.gpx", message));
  gps.tracks = &tracks;
  gps.exiftool = h.dir / "tagger";
  test::write_file(gps.exiftool, kTagger);
  fsys::permissions(gps.exiftool, fsys::perms::owner_all);
  tagging = true;
}

void InPlaceChange::expect_each_image_tagged() {
  for (int i = 1; i <= kImages; ++i) {
    const std::string jpeg = read_file(h.archive + "/IMG_000" + std::to_string(i) + ".JPG");
    EXPECT_TRUE(jpeg.ends_with("GPS")) << i;
  }
}

// Killed while tagging the third image, without a backup (first copies are tagged at the end of
// the run) and with one (primary copies are tagged as they are made).
TEST_F(InPlaceChange, KilledWhileTaggingTheNextRunTagsEveryImageOnce) {
  use_tagger();
  for (const bool with_backup : {false, true}) {
    SCOPED_TRACE(with_backup ? "with a backup" : "without a backup");
    start_over();
    if (with_backup) h.with_backup();
    test::write_file(h.dir / "kill", "");
    ASSERT_TRUE(run_killed([] {}));
    fsys::remove(h.dir / "kill");
    const std::string first = h.archive + "/IMG_0001.JPG";
    ASSERT_TRUE(read_file(first).ends_with("GPS") || fsys::exists(tagged_temp_path(first)));

    ASSERT_TRUE(run()) << h.ctx->error << h.ctx->report;
    expect_each_image_once();
    expect_each_image_tagged();
    expect_a_third_run_to_change_nothing();
  }
}

// Primary copies in place with the first copies' bytes but never recorded nor tagged, as a run
// killed between placing and tagging them leaves them: the next run tags them.
TEST_F(InPlaceChange, PrimaryCopiesFoundUntaggedAreTagged) {
  h.with_backup();
  ASSERT_TRUE(run()) << h.ctx->error;  // untagged copies
  fsys::remove(db_path);                // and unrecorded
  use_tagger();
  ASSERT_TRUE(run()) << h.ctx->error << h.ctx->report;
  expect_each_image_once();
  expect_each_image_tagged();
}

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

struct ExifTimes : InPlaceChange {
  std::map<std::string, std::string> card;  // the card's files as written

  void SetUp() override {
    if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
    InPlaceChange::SetUp();
    card = files_below(h.card);
    h.params.write_exif_times = true;
  }
  // The camera clock of image `i` corrected by `seconds`.
  void correct(int i, std::int64_t seconds) { correct(image_name(i), seconds); }
  void correct(const std::string& name, std::int64_t seconds) {
    h.correct_clock(h.card + "/DCIM/100CWTST/" + name, seconds);
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
    start_over();
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
  start_over();
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
  for (const bool backed_up : {false, true})
    for (const KillAt at : {KillAt::kSecondDatesRecorded, KillAt::kThirdDatesSynced}) {
      SCOPED_TRACE(at == KillAt::kSecondDatesRecorded ? "killed recording the second"
                                                      : "killed writing the third");
      SCOPED_TRACE(backed_up ? "with a backup" : "without a backup");
      if (backed_up) h.with_backup();
      start_over();
      ASSERT_TRUE(run_killed(at));
      ASSERT_EQ(dates_of(copy(2)), corrected(2));
      ASSERT_EQ(fsys::exists(copy(3) + "-cwtmp"), at == KillAt::kThirdDatesSynced);

      ASSERT_TRUE(run()) << h.ctx->error << h.ctx->report;
      expect_each_image_once();
      for (int i = 1; i <= kImages; ++i) EXPECT_EQ(dates_of(copy(i)), corrected(i)) << i;
      EXPECT_EQ(files_below(h.card), card);
      EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
      expect_a_third_run_to_change_nothing();
    }
}

// A card sidecar goes into its JPEG (a large one as the JPEG test's merge puts it); a JPEG the
// merge cannot read keeps its sidecar beside it, with a warning naming it, and the card goes on.
TEST(MergeOnACard, CardSidecarGoesInAndABadJpegOnlyWarns) {
  test::Harness h;
  h.set(kParamWantXMPtoJPG, "1");
  const std::string folder = h.card + "/DCIM/100CAM";
  ASSERT_TRUE(fixtures::write_with_time(folder + "/IMG_0001.JPG",
                                        fixtures::make_jpeg("2024:05:17 10:20:30"), 1700000000));
  test::write_file(folder + "/IMG_0001.xmp", fixtures::sample_xmp_packet("from the card"));
  ASSERT_TRUE(fixtures::write_with_time(folder + "/IMG_0002.JPG", "not a JPEG at all", 1700000000));
  test::write_file(folder + "/IMG_0002.xmp", fixtures::sample_xmp_packet("kept"));

  ASSERT_TRUE(h.run()) << h.ctx->error << h.ctx->report;
  const std::optional<JpegXmpPackets> xmp = read_jpeg_xmp(h.archive + "/IMG_0001.JPG");
  ASSERT_TRUE(xmp);
  EXPECT_NE(xmp->main.find(">from the card<"), std::string::npos);
  EXPECT_FALSE(fsys::exists(h.archive + "/IMG_0001.xmp"));
  EXPECT_TRUE(test::contains(h.ctx->report, "WARNING: can't write XMP to JPEG: " + h.archive +
                                                "/IMG_0002.JPG; its sidecar " + h.archive +
                                                "/IMG_0002.xmp stays beside it."))
      << h.ctx->report;
  EXPECT_EQ(read_file(h.archive + "/IMG_0002.JPG"), "not a JPEG at all");
  EXPECT_TRUE(fsys::exists(h.archive + "/IMG_0002.xmp"));
}

}  // namespace
}  // namespace cw
