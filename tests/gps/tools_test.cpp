// The outside GPS tools: ExifTool's command line and a tagging run's counts (with the stand-in),
// and receivers read through the real gpsbabel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "gps/receiver.h"
#include "gps/tag_writer.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;

const std::string kStandIn = CW_SOURCE_DIR "/tests/fixtures/fake_exiftool";

struct ScopedEnv {
  std::string name;
  ScopedEnv(std::string n, const std::string& value) : name(std::move(n)) {
    setenv(name.c_str(), value.c_str(), 1);
  }
  ~ScopedEnv() { unsetenv(name.c_str()); }
};

TEST(TagWriter, ExifToolCommandLine) {
  EXPECT_EQ(exiftool_args("/usr/bin/exiftool", {-33.5f, -70.25f, -12.5f}, "-odd.jpg",
                          tagged_temp_path("-odd.jpg")),
            (std::vector<std::string>{
                "/usr/bin/exiftool", "-q", "-m", "-P", "-o", "./-odd.jpg-cwtmp",
                "-gps:GPSLatitudeRef=S", "-gps:GPSLatitude=33.500000", "-gps:GPSLongitudeRef=W",
                "-gps:GPSLongitude=70.250000", "-gps:GPSAltitudeRef=below",
                "-gps:GPSAltitude=12.500000", "./-odd.jpg"}));
}

TEST(TagWriter, CountsEveryImageAndReportsWhatExifToolSaid) {
  test::TempDir dir;
  GPX tracks;
  std::string message;
  ASSERT_TRUE(tracks.load_gpx_text("<trk><trkpt lat='50' lon='10'><time>2024-05-17T12:00:00Z"
                                   "</time></trkpt><trkpt lat='51' lon='11'><time>2024-05-17T"
                                   "12:10:00Z</time></trkpt></trk>", "t.gpx", message));
  std::vector<std::string> list;
  for (const auto& [name, date] : std::vector<std::pair<std::string, std::string>>{
           {"1.jpg", "12:01"}, {"2.jpg", "12:02"}, {"3.jpg", "12:03"}, {"4.jpg", "12:04"},
           {"5.jpg", "12:05"}, {"6.jpg", "12:06"}, {"early.jpg", "11:00"}, {"late.jpg", "13:00"},
           {"fail.jpg", "12:07"}, {"warn.jpg", "12:08"}, {"nodate.jpg", ""}}) {
    list.push_back(dir / name);
    const std::string exif = date.empty() ? "" : "2024:05:17 " + date + ":00";
    ASSERT_TRUE(fixtures::write_with_time(list.back(), fixtures::make_jpeg(exif), 0));
  }
  ScopedEnv fail("FAKE_EXIFTOOL_FAIL", "fail.jpg"), warn("FAKE_EXIFTOOL_WARN", "warn.jpg");
  GpsRunSettings gps{&tracks, 0, kStandIn};
  GpsTagCounts counts;
  std::string results;
  EXPECT_TRUE(tag_images(gps, list, counts, results));
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(counts.tagged, 6);
  EXPECT_EQ(counts.out_of_interval, 2);
  EXPECT_EQ(counts.errors, 3);  // ExifTool failed, ExifTool warned, no date
  EXPECT_EQ(results, "ERROR processing " + dir / "fail.jpg" + ": Error: Stand-in failure - " +
                         dir / "fail.jpg" + "\nERROR processing " + dir / "warn.jpg" +
                         ": Warning: [minor] Stand-in warning - " + dir / "warn.jpg" + "\n");
}

TEST(Receiver, CommandLines) {
  EXPECT_EQ(gpsbabel_port("/dev/ttyUSB0:"), "/dev/ttyUSB0");
  EXPECT_EQ(gpsbabel_args("gpsbabel", GpsReceiver::kMagellan, "COM1", "t.gpx"),
            (std::vector<std::string>{"gpsbabel", "-t", "-i", "Magellan,baud=115200", "-f",
                                      "/dev/ttyS0", "-o", "gpx", "-F", "t.gpx"}));
  EXPECT_EQ(gpsbabel_args("gpsbabel", GpsReceiver::kMagellan, "USB", "t.gpx")[3], "Magellan");
  EXPECT_EQ(gpsbabel_args("gpsbabel", GpsReceiver::kGarmin, "COM12", "t.gpx")[5], "/dev/ttyS11");
}

const char* const kMagellanLog =
    "$PMGNTRK,4807.038,N,01131.000,E,00520,M,093012.40,A,,170524*7D\r\n"
    "$PMGNTRK,4807.112,N,01131.245,E,00523,M,093042.70,A,,170524*72\r\n"
    "$PMGNTRK,4807.201,N,01131.498,E,00531,M,093112.00,A,,170524*75\r\n$PMGNCMD,END*3D\r\n";

TEST(Receiver, ReadsThroughGpsbabel) {
  if (!test::have_program("gpsbabel")) GTEST_SKIP() << "gpsbabel not installed";
  test::TempDir dir;
  ScopedEnv tmp("TMPDIR", dir / "tmp");
  fsys::create_directories(dir / "tmp");
  test::write_file(dir / "track log", kMagellanLog);
  GPX store;
  std::string message;
  ASSERT_TRUE(read_receiver(store, GpsReceiver::kMagellan, dir / "track log", "", "gpsbabel",
                            message)) << message;
  ASSERT_EQ(store.tracks.at(0).points.size(), 3u);
  EXPECT_NEAR(store.tracks[0].points[0].lat, 48 + 7.038 / 60, 1e-5);
  EXPECT_EQ(gps_time_text(store.tracks[0].points[2].time), "2024-05-17T09:31:12");
  EXPECT_EQ(store.tracks[0].file, "Magellan receiver on " + dir / "track log");

  ASSERT_TRUE(read_receiver(store, GpsReceiver::kMagellan, dir / "track log", dir / "kept $ 'x'.gpx",
                            "gpsbabel", message)) << message;
  EXPECT_EQ(store.tracks.at(1).file, dir / "kept $ 'x'.gpx");

  EXPECT_FALSE(read_receiver(store, GpsReceiver::kGarmin, "USB", "", "gpsbabel", message));
  EXPECT_EQ(message, "Found no Garmin USB devices.");
  EXPECT_EQ(store.tracks.size(), 2u);
  EXPECT_TRUE(fsys::is_empty(dir / "tmp"));  // no temporary file left behind
}

}  // namespace
}  // namespace cw
