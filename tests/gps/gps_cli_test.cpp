// `cardwright gps` and the ingest options that take a track, from the shell.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "gps/camera_clock.h"
#include "gps/gpx.h"
#include "tests/common/scoped_env.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(GpsCommand, LocatesImagesAsTheTrackStoreDoes) {
  CW_REQUIRE_CORPUS(corpus);
  test::TempDir dir;
  const std::string track = (corpus / "gps" / "Geotag.gpx").string();
  const std::string in = dir / "in.jpg", out = dir / "out.jpg";
  test::write_file(in, fixtures::make_jpeg("2003:05:24 11:09:30"));
  test::write_file(out, fixtures::make_jpeg("2003:05:25 11:09:30"));
  GPX tracks(CameraZone::listed("USA Mountain -7", true));
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
  const std::string console = test::read_file(dir / "errors");
  // Both copies join the tagging list, each announced with its archive path.
  const std::string registered = "registered [" + dir / "archive/";
  const std::size_t first = console.find(registered);
  ASSERT_NE(first, std::string::npos) << console;
  EXPECT_NE(console.find(registered, first + 1), std::string::npos) << console;
}

TEST(GpsCommand, UndatedLogFilesTakeTheDateGiven) {
  test::TempDir dir;
  test::write_file(dir / "gga.log",
                   "$GPGGA,120000,5000.0000,N,01000.0000,E,1,08,1.0,1,M,,,,\r\n"
                   "$GPGGA,120001,5000.0000,N,01000.0000,E,1,08,1.0,1,M,,,,\r\n");
  const std::string file = test::sh_quote(dir / "gga.log");
  std::string text;
  EXPECT_EQ(test::run_cardwright("gps load --zone +0 " + file, &text), 1);
  ASSERT_EQ(test::run_cardwright("gps load --zone +0 --track-date 2024-05-17 " + file, &text), 0);
  EXPECT_THAT(text, HasSubstr("Loaded 2 points from 2024-05-17T12:00:00 UTC+0 to "
                              "2024-05-17T12:00:01 UTC+0"));
  EXPECT_EQ(test::run_cardwright("gps load --track-date 17.05.2024 " + file, &text), 2);

  // An ingestion takes the date with its track.
  test::write_file(dir / "card/DCIM/100/A.JPG", fixtures::make_jpeg("2024:05:17 12:00:00"));
  const std::string ingest = "ingest --no-backup --dry-run --card " +
                             test::sh_quote(dir / "card") + " --primary " +
                             test::sh_quote(dir / "archive") + " --gps-track " + file;
  EXPECT_EQ(test::run_cardwright(ingest, &text), 1);
  EXPECT_EQ(test::run_cardwright(ingest + " --track-date 2024-05-17", &text), 0) << text;
  EXPECT_THAT(text, Not(HasSubstr("ERROR")));
}

// Zones by name: listed on request and taken by ingest.
TEST(GpsCommand, ZonesByName) {
  CW_REQUIRE_CORPUS(corpus);
  CW_REQUIRE_ZONE_DATABASE();
  std::string text;
  ASSERT_EQ(test::run_cardwright("gps zones", &text), 0);
  EXPECT_THAT(text, HasSubstr("'cardwright gps zones --all' lists them"));
  EXPECT_THAT(text, Not(HasSubstr("\nEurope/Berlin\n")));
  ASSERT_EQ(test::run_cardwright("gps zones --all", &text), 0);
  EXPECT_THAT(text, HasSubstr("\nParis +1\n"));
  EXPECT_THAT(text, HasSubstr("\nEurope/Berlin\n"));

  test::TempDir dir;
  const std::string track = (corpus / "gps" / "Geotag.gpx").string();
  test::write_file(dir / "card/DCIM/100/IN.JPG", fixtures::make_jpeg("2003:05:24 19:09:30"));
  EXPECT_EQ(test::run_cardwright("gps load --zone Europe/Atlantis '" + track + "'", &text), 2);
  EXPECT_THAT(text, HasSubstr("--zone 'Europe/Atlantis': expects a zone of"));
  const std::string ingest = "ingest --no-backup --dry-run --card " +
                             test::sh_quote(dir / "card") + " --primary " +
                             test::sh_quote(dir / "archive") + " --camera-zone ";
  EXPECT_EQ(test::run_cardwright(ingest + "Mars/Olympus_Mons", &text), 2);
  EXPECT_THAT(text, HasSubstr("a zone name such as Europe/Berlin"));
  EXPECT_EQ(test::run_cardwright(ingest + "Europe/Berlin", &text), 0) << text;
}

}  // namespace
}  // namespace cw
