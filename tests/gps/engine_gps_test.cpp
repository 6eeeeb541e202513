// GPS tagging inside whole runs, with the real ExifTool, the stand-in and none at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "gps/camera_clock.h"
#include "gps/image_time.h"
#include "gps/tag_writer.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_files.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::contains;
using test::Harness;

constexpr std::time_t kCardTime = 1700000000;

// 12:00 to 12:10 UTC; the camera was set to French summer time, so it showed 14:00 to 14:10.
const char* const kTrack =
    "<gpx><trk><trkseg>"
    "<trkpt lat=\"48.85\" lon=\"2.35\"><ele>35</ele><time>2024-05-17T12:00:00Z</time></trkpt>"
    "<trkpt lat=\"48.86\" lon=\"2.30\"><ele>75</ele><time>2024-05-17T12:10:00Z</time></trkpt>"
    "</trkseg></trk></gpx>";

struct GpsRun : ::testing::Test {
  Harness h;
  std::string folder = h.card + "/DCIM/100GPS";
  GPX tracks{CameraZone::listed("France +1", true)};
  GpsRunSettings gps;

  void SetUp() override {
    std::string message;
    ASSERT_TRUE(tracks.load_gpx_text(kTrack, "paris.gpx", message));
    gps.tracks = &tracks;
    // Two inside the track (one named with a quote, "$" and spaces), two outside, one undated.
    write("IN 'quote' $HOME.JPG", "2024:05:17 14:02:30");
    write("IN2.JPG", "2024:05:17 14:07:00");
    write("EARLY.JPG", "2024:05:17 13:59:00");
    write("LATE.JPG", "2024:05:17 14:11:00");
    write("NODATE.JPG", "");
  }
  void write(const std::string& name, const std::string& date) {
    ASSERT_TRUE(fixtures::write_with_time(folder + "/" + name, fixtures::make_jpeg(date), kCardTime));
  }
  bool run() {
    h.ctx = std::make_unique<EngineContext>(EngineJob{&h.control, 0, "GPS card"});
    h.ctx->gps = &gps;
    return copycard(h.params, kParamCount, h.card, *h.ctx);
  }
};

// exiftool's numeric GPS position of a file: "lat lon alt", or "" when it has none.
std::string position_of(const std::string& file) {
  return test::exiftool("-n -s3 -GPSLatitude -GPSLongitude -GPSAltitude", file);
}

TEST_F(GpsRun, RealExifToolTagsPrimaryCopiesBeforeTheirThirdCopy) {
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  gps.exiftool = find_executable(kExifToolName);
  const std::string backup = h.dir / "backup", post = h.dir / "post";
  h.set(kParamWantBackup, "1");
  h.set(kParamBackupFolder, backup);
  h.set(kParamWantBackupPost, "1");
  h.set(kParamBackupFolderPost, post);
  // EARLY's camera ran two minutes slow: corrected, it was taken inside the track.
  h.correct_clock(folder + "/EARLY.JPG", 120);
  ASSERT_TRUE(run()) << h.ctx->error << h.ctx->report;
  EXPECT_TRUE(contains(h.ctx->report,
                       "\nGPS Tagging:\n\t3 tagged\n\t1 out of time interval\n\t1 error(s)\n"))
      << h.ctx->report;
  for (const auto& [name, date] : {std::pair{"IN 'quote' $HOME.JPG", "2024:05:17 14:02:30"},
                                   std::pair{"IN2.JPG", "2024:05:17 14:07:00"},
                                   std::pair{"EARLY.JPG", "2024:05:17 14:01:00"}}) {
    GpsPosition want;
    ASSERT_EQ(tracks.position_at(*exif_text_seconds(date), 0, want), GpsMatch::kFound);
    for (const std::string& root : {h.archive, post}) {
      const std::string file = root + "/" + name;
      double lat = 0, lon = 0, alt = 0;
      std::istringstream(position_of(file)) >> lat >> lon >> alt;
      EXPECT_NEAR(lat, want.lat, 2e-6) << file;
      EXPECT_NEAR(lon, want.lon, 2e-6) << file;
      EXPECT_NEAR(alt, want.ele, 2e-6) << file;
    }
    EXPECT_EQ(position_of(backup + "/" + name), "");  // the backup stays as the card had it
  }
  for (const char* name : {"LATE.JPG", "NODATE.JPG"})
    for (const std::string& root : {h.archive, post}) EXPECT_EQ(position_of(root + "/" + name), "");
}

TEST_F(GpsRun, WithoutBackupTheListIsTaggedAtTheEndAndAMissingExifToolFailsTheRun) {
  gps.exiftool = CW_SOURCE_DIR "/tests/fixtures/fake_exiftool";
  h.correct_clock(folder + "/LATE.JPG", -120);  // a clock two minutes fast, taken inside the track
  EXPECT_TRUE(run()) << h.ctx->error;
  EXPECT_TRUE(contains(h.ctx->report,
                       "\nGPS Tagging:\n\t3 tagged\n\t1 out of time interval\n\t1 error(s)\n"))
      << h.ctx->report;

  // A missing ExifTool fails the run once every copy is made, with no counts: no image was
  // tried.
  gps.exiftool = h.dir / "missing-exiftool";
  fsys::remove_all(h.archive);
  EXPECT_FALSE(run());
  EXPECT_EQ(h.ctx->error, "Error performing GPS tagging");
  EXPECT_TRUE(contains(h.ctx->report, "\nGPS Tagging:\n" + exiftool_missing_message(gps.exiftool)));
  EXPECT_FALSE(contains(h.ctx->report, " tagged\n")) << h.ctx->report;
  EXPECT_TRUE(fsys::exists(h.archive + "/NODATE.JPG"));
}

}  // namespace
}  // namespace cw
