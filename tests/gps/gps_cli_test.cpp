// `cardwright gps` on the command line: the zone list, positions of images on a track (as the
// library computes them, in text and JSON), and the usage errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "gps/camera_clock.h"
#include "gps/gpx.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

using ::testing::HasSubstr;

TEST(GpsCommand, LocatesImagesAsTheTrackStoreDoes) {
  CW_REQUIRE_CORPUS(corpus);
  test::TempDir dir;
  const std::string track = (corpus / "gps" / "Geotag.gpx").string();
  const std::string in = dir / "in.jpg", out = dir / "out.jpg";
  test::write_file(in, fixtures::make_jpeg("2003:05:24 11:09:30"));
  test::write_file(out, fixtures::make_jpeg("2003:05:25 11:09:30"));
  GPX tracks(camera_offset("USA Mountain -7", true));
  std::string message;
  ASSERT_TRUE(tracks.load_files({track}, message));
  GpsPosition expected;
  ASSERT_EQ(tracks.interpolate(in, 0, false, expected), GpsMatch::kFound);

  std::string text;
  const std::string args = "gps locate --zone 'USA Mountain' --dst --track '" + track + "' '";
  ASSERT_EQ(test::run_cardwright(args + in + "' '" + out + "'", &text), 0) << text;
  char line[200];
  std::snprintf(line, sizeof line, "%s\t%.6f\t%.6f\t%.1f\n", in.c_str(), expected.lat, expected.lon,
                expected.ele);
  EXPECT_THAT(text, HasSubstr(line));
  EXPECT_THAT(text, HasSubstr(out + "\tout of range\n"));
  ASSERT_EQ(test::run_cardwright(args + out + "' --json", &text), 0);
  EXPECT_EQ(text, "[{\"image\": \"" + out + "\", \"status\": \"out of range\"}]\n");

  ASSERT_EQ(test::run_cardwright("gps zones", &text), 0);
  EXPECT_THAT(text, HasSubstr("\nParis +1\n"));
  EXPECT_EQ(test::run_cardwright("gps locate --zone Atlantis --track x y", &text), 2);
  EXPECT_EQ(test::run_cardwright("gps locate --track '" + track + "'", &text), 2);
}

TEST(GpsCommand, AnIngestionWithATrackTagsItsImages) {
  CW_REQUIRE_CORPUS(corpus);
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  test::TempDir dir;
  test::write_file(dir / "card/DCIM/100/IN.JPG", fixtures::make_jpeg("2003:05:24 11:09:30"));
  test::write_file(dir / "card/DCIM/100/OUT.JPG", fixtures::make_jpeg("2003:05:25 11:09:30"));
  std::string json;
  ASSERT_EQ(test::run_cardwright("ingest --json --no-backup --card " + test::sh_quote(dir / "card") +
                                     " --primary " + test::sh_quote(dir / "archive") +
                                     " --gps-track " +
                                     test::sh_quote((corpus / "gps" / "Geotag.gpx").string()) +
                                     " --camera-zone -7 --camera-dst --folder-format ''",
                                 &json, dir / "errors"),
            0)
      << test::read_file(dir / "errors");
  EXPECT_THAT(json, HasSubstr("\"gps_tagged\": 1, \"gps_out_of_interval\": 1, \"gps_errors\": 0"));
}

}  // namespace
}  // namespace cw
