// Copies changed in place (XMP merged, GPS tags written) with the run killed between a change
// and its record: the next run knows each changed copy as its image's and makes every change.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "foundation/sysio.h"
#include "gps/gpx.h"
#include "gps/tag_writer.h"
#include "metadata/jpeg_xmp.h"
#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/sample_files.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::files_below;
using test::read_file;

constexpr int kImages = 4;

// Kills this process as the second image is moved into place, or as the second image's merged
// file is synced, about to replace it.
enum class KillAt { kSecondCopy, kSecondMerge };
KillAt g_kill_at = KillAt::kSecondCopy;
int g_copies = 0;

int rename_or_die(const char* from, const char* to) {
  if (g_kill_at == KillAt::kSecondCopy && std::string(to).ends_with(".JPG") && ++g_copies == 2)
    ::kill(::getpid(), SIGKILL);
  return system_sysio().rename(from, to);
}

int fsync_or_die(int fd) {
  if (g_kill_at == KillAt::kSecondMerge && test::fd_path(fd).ends_with("IMG_0002.JPG-cwtmp"))
    ::kill(::getpid(), SIGKILL);
  return system_sysio().fsync(fd);
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
  // One run in a child process that `arm` has set up to be killed; true when it was.
  bool run_killed(const std::function<void()>& arm) {
    return test::killed_in_child([&] {
      arm();
      run();
    });
  }
  // Every card image in the archive once under its own name, with no temporary file.
  void expect_each_image_once() {
    std::vector<std::string> expected;
    for (int i = 1; i <= kImages; ++i)
      expected.push_back(h.archive + "/IMG_000" + std::to_string(i) + ".JPG");
    EXPECT_EQ(test::image_files(h.archive), expected);
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
    fsys::remove_all(h.archive);
    fsys::remove(db_path);
    ASSERT_TRUE(run_killed([kill] {
      g_kill_at = kill;
      Sysio table = system_sysio();
      table.rename = rename_or_die;
      table.fsync = fsync_or_die;
      set_sysio(table);
    }));
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
// stays as it is. While the folder holds "kill", the image IMG_0002 is tagged and then the run
// is killed before it can take the result.
const char* const kTagger =
    "#!/bin/sh\n"
    "tag() {\n"
    "out=; prev=\n"
    "for image; do [ \"$prev\" = -o ] && out=$image; prev=$image; done\n"
    "target=${out:-$image}\n"
    "[ -z \"$out\" ] || cp -p -- \"$image\" \"$out\" || return 1\n"
    "[ \"$(tail -c 3 \"$target\")\" = GPS ] || printf GPS >> \"$target\"\n"
    "case $image in *IMG_0003.JPG) [ -e \"${0%/*}/kill\" ] && kill -9 $PPID;; esac\n"
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
    fsys::remove_all(h.archive);
    fsys::remove(db_path);
    if (with_backup) h.with_backup();
    test::write_file(h.dir / "kill", "");
    ASSERT_TRUE(run_killed([] {}));
    fsys::remove(h.dir / "kill");
    const std::string first = h.archive + "/IMG_0001.JPG";
    ASSERT_TRUE(read_file(first).ends_with("GPS") || fsys::exists(tagged_temp_path(first)));

    ASSERT_TRUE(run()) << h.ctx->error << h.ctx->report;
    expect_each_image_once();
    expect_each_image_tagged();
    if (with_backup) {
      EXPECT_EQ(test::image_contents(h.backup), test::image_contents(h.card));
    }
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
