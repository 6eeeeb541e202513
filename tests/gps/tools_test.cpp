// The outside GPS tools: ExifTool's command line and the counts of a tagging run (with the
// stand-in ExifTool for the error paths), programs found on PATH, and receivers read through
// the real gpsbabel.
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
  EXPECT_EQ(exiftool_args("/usr/bin/exiftool", {-33.5f, -70.25f, -12.5f}, "-odd.jpg"),
            (std::vector<std::string>{
                "/usr/bin/exiftool", "-q", "-m", "-overwrite_original_in_place", "-P",
                "-gps:GPSLatitudeRef=S", "-gps:GPSLatitude=33.500000", "-gps:GPSLongitudeRef=W",
                "-gps:GPSLongitude=70.250000", "-gps:GPSAltitudeRef=below",
                "-gps:GPSAltitude=12.500000", "./-odd.jpg"}));
  EXPECT_EQ(exiftool_args("x", {1, 2, 0}, "/a.jpg")[9], "-gps:GPSAltitudeRef=above");
}

TEST(TagWriter, CountsEveryImageAndReportsWhatExifToolSaid) {
  test::TempDir dir;
  GPX tracks;
  std::string message;
  ASSERT_TRUE(tracks.load_gpx_text("<trk><trkpt lat='50' lon='10'><time>2024-05-17T12:00:00Z"
                                   "</time></trkpt><trkpt lat='51' lon='11'><time>2024-05-17T"
                                   "12:10:00Z</time></trkpt></trk>", "t.gpx", message));
  std::vector<std::string> list;
  auto add = [&](const std::string& name, const std::string& date) {
    list.push_back(dir / name);
    ASSERT_TRUE(fixtures::write_with_time(list.back(), fixtures::make_jpeg(date), 0));
  };
  for (int i = 1; i <= 6; ++i) add("in" + std::to_string(i) + ".jpg", "2024:05:17 12:0" + std::to_string(i) + ":00");
  add("early.jpg", "2024:05:17 11:00:00");
  add("late.jpg", "2024:05:17 13:00:00");
  add("fail.jpg", "2024:05:17 12:07:00");
  add("warn.jpg", "2024:05:17 12:08:00");
  add("nodate.jpg", "");
  ScopedEnv fail("FAKE_EXIFTOOL_FAIL", "fail.jpg"), warn("FAKE_EXIFTOOL_WARN", "warn.jpg"),
      log("FAKE_EXIFTOOL_LOG", dir / "runs");

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
  const std::string runs = test::read_file(dir / "runs");
  EXPECT_EQ(runs.substr(0, runs.find('\n')),
            "-q -m -overwrite_original_in_place -P -gps:GPSLatitudeRef=N "
            "-gps:GPSLatitude=50.099998 -gps:GPSLongitudeRef=E -gps:GPSLongitude=10.100000 "
            "-gps:GPSAltitudeRef=above -gps:GPSAltitude=0.000000 " + dir / "in1.jpg");

  // Without ExifTool the run says so once and its images count as errors.
  gps.exiftool = dir / "no/exiftool";
  list = {dir / "in1.jpg", dir / "late.jpg"};
  results.clear();
  counts = {};
  EXPECT_FALSE(tag_images(gps, list, counts, results));
  EXPECT_EQ(results, exiftool_missing_message(gps.exiftool));
  EXPECT_NE(results.find("apt install libimage-exiftool-perl"), std::string::npos);
  EXPECT_EQ(counts.errors, 1);
  EXPECT_EQ(counts.out_of_interval, 1);
}

TEST(ToolPath, FoundOnPath) {
  EXPECT_EQ(find_program_on_path("sh").value_or("").substr(0, 1), "/");
  EXPECT_FALSE(find_program_on_path("no-such-program-for-cardwright"));
  EXPECT_EQ(resolve_tool("/opt/tools/exiftool", "exiftool"), "/opt/tools/exiftool");
  EXPECT_EQ(resolve_tool("", "no-such-program-for-cardwright"), "no-such-program-for-cardwright");
  EXPECT_TRUE(program_exists(kStandIn));
  EXPECT_FALSE(program_exists(CW_SOURCE_DIR "/tests/gps"));
}

TEST(Receiver, CommandLines) {
  EXPECT_EQ(gpsbabel_port("COM3"), "/dev/ttyS2");
  EXPECT_EQ(gpsbabel_port("usb"), "usb:");
  EXPECT_EQ(gpsbabel_port("/dev/ttyUSB0:"), "/dev/ttyUSB0");
  EXPECT_EQ(gpsbabel_args("gpsbabel", GpsReceiver::kMagellan, "COM1", "t.gpx"),
            (std::vector<std::string>{"gpsbabel", "-t", "-i", "Magellan,baud=115200", "-f",
                                      "/dev/ttyS0", "-o", "gpx", "-F", "t.gpx"}));
  EXPECT_EQ(gpsbabel_args("gpsbabel", GpsReceiver::kMagellan, "USB", "t.gpx")[3], "Magellan");
  EXPECT_EQ(gpsbabel_args("gpsbabel", GpsReceiver::kGarmin, "COM2", "t.gpx")[3], "Garmin");
}

// A Magellan track log: "$PMGNTRK" sentences with their checksums.
std::string magellan_log() {
  std::string out;
  for (const char* body : {"PMGNTRK,4415.163,N,07631.126,W,00095,M,110833.53,A,,030409",
                           "PMGNTRK,4414.765,N,07631.087,W,00100,M,110905.52,A,,030409",
                           "PMGNTRK,4414.711,N,07631.117,W,00099,M,110920.53,A,,030409"}) {
    unsigned sum = 0;
    for (const char* c = body; *c; ++c) sum ^= static_cast<unsigned char>(*c);
    char check[8];
    std::snprintf(check, sizeof check, "*%02X\r\n", sum);
    out += std::string("$") + body + check;
  }
  return out + "$PMGNCMD,END*3D\r\n";
}

TEST(Receiver, ReadsThroughGpsbabel) {
  if (!test::have_program("gpsbabel")) GTEST_SKIP() << "gpsbabel not installed";
  test::TempDir dir;
  ScopedEnv tmp("TMPDIR", dir / "tmp");
  fsys::create_directories(dir / "tmp");
  test::write_file(dir / "track log", magellan_log());
  GPX store;
  std::string message;
  ASSERT_TRUE(read_receiver(store, GpsReceiver::kMagellan, dir / "track log", "", "gpsbabel",
                            message)) << message;
  ASSERT_EQ(store.tracks.size(), 1u);
  ASSERT_EQ(store.tracks[0].points.size(), 3u);
  EXPECT_NEAR(store.tracks[0].points[0].lat, 44 + 15.163 / 60, 1e-5);
  EXPECT_EQ(gps_time_text(store.tracks[0].points[2].time), "2009-04-03T11:09:20");
  EXPECT_EQ(store.tracks[0].file, "Magellan receiver on " + dir / "track log");
  EXPECT_TRUE(fsys::is_empty(dir / "tmp"));  // the temporary GPX file is gone

  ASSERT_TRUE(read_receiver(store, GpsReceiver::kMagellan, dir / "track log", dir / "kept $ 'x'.gpx",
                            "gpsbabel", message)) << message;
  EXPECT_EQ(store.tracks.size(), 2u);
  EXPECT_EQ(store.tracks[1].file, dir / "kept $ 'x'.gpx");

  EXPECT_FALSE(read_receiver(store, GpsReceiver::kGarmin, "USB", "", "gpsbabel", message));
  EXPECT_EQ(message, "Found no Garmin USB devices.");
  EXPECT_EQ(store.tracks.size(), 2u);
  EXPECT_TRUE(fsys::is_empty(dir / "tmp"));
}

}  // namespace
}  // namespace cw
