// The outside GPS tools: ExifTool's command line and tagging runs, and gpsbabel.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <utility>

#include "gps/receiver.h"
#include "gps/tag_writer.h"
#include "ingest/card_layout.h"
#include "tests/common/scoped_env.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::ScopedEnv;

const std::string kStandIn = CW_SOURCE_DIR "/tests/fixtures/fake_exiftool";

// A file name that begins with "-" would read as an option, one that begins with "#" as a
// comment of the argument input, white space at its start would be lost: each such image and
// its output file still reach ExifTool as those very files.
TEST(TagWriter, AwkwardFileNamesReachExifToolAsFiles) {
  for (const std::string image : {"-odd.jpg", "#a.jpg", " b.jpg", "\tc.jpg"}) {
    const std::string output = tagged_temp_path(image);
    const std::vector<std::string> args = exiftool_args("exiftool", {}, image, output);
    const auto o = std::find(args.begin(), args.end(), "-o");
    ASSERT_NE(o, args.end()) << image;
    for (const auto& [given, passed] : {std::pair{image, args.back()}, {output, *(o + 1)}}) {
      EXPECT_EQ(std::string("-# \t").find(passed.front()), std::string::npos) << passed;
      EXPECT_EQ(fsys::path(passed).lexically_normal(), fsys::path(given).lexically_normal());
    }
  }
}

// A track from 12:00 to 12:10 UTC on 2024-05-17, `list` filled with JPEGs in `dir`, and what
// tagging them counts and reports.
struct TagFixture {
  test::TempDir dir;
  GPX tracks;
  std::vector<std::string> list;
  GpsTagCounts counts;
  std::string results;
  TagFixture() {
    std::string message;
    EXPECT_TRUE(tracks.load_gpx_text("<trk><trkpt lat='50' lon='10'><time>2024-05-17T12:00:00Z"
                                     "</time></trkpt><trkpt lat='51' lon='11'><time>2024-05-17T"
                                     "12:10:00Z</time></trkpt></trk>", "t.gpx", message));
  }
  void add(const std::string& name, const std::string& hhmm) {
    list.push_back(dir / name);
    const std::string exif = hhmm.empty() ? "" : "2024:05:17 " + hhmm + ":00";
    ASSERT_TRUE(fixtures::write_with_time(list.back(), fixtures::make_jpeg(exif), 0));
  }
  // 200 images inside the track, named with what an argument line must guard against.
  void add_many() {
    for (int i = 0; i < 200; ++i) {
      const char* lead = i % 4 == 0 ? "-" : i % 4 == 1 ? "#" : i % 4 == 2 ? " " : "";
      add(std::string(lead) + "many " + std::to_string(i) + ".jpg",
          "12:0" + std::to_string(1 + i % 9));
    }
  }
};

TEST(TagWriter, CountsEveryImageThroughOneExifToolAndNamesVideos) {
  TagFixture f;
  for (const auto& [name, hhmm] : std::vector<std::pair<std::string, std::string>>{
           {"1.jpg", "12:01"}, {"2.jpg", "12:02"}, {"3.jpg", "12:03"}, {"4.jpg", "12:04"},
           {"5.jpg", "12:05"}, {"6.jpg", "12:06"}, {"early.jpg", "11:00"}, {"late.jpg", "13:00"},
           {"fail.jpg", "12:07"}, {"warn.jpg", "12:08"}, {"nodate.jpg", ""}, {"clip.MOV", "12:02"},
           {"line\nbreak.jpg", "12:03"}})
    f.add(name, hhmm);
  f.add_many();
  ScopedEnv fail("FAKE_EXIFTOOL_FAIL", "fail.jpg"), warn("FAKE_EXIFTOOL_WARN", "warn.jpg");
  ScopedEnv starts("FAKE_EXIFTOOL_STARTS", f.dir / "starts");
  GpsRunSettings gps{&f.tracks, 0, kStandIn};
  gps.cannot_carry_tags = is_video_extension;
  std::vector<int> done;
  TagWriter writer(kStandIn);
  EXPECT_TRUE(tag_images(gps, writer, f.list, f.counts, f.results, {},
                         [&done](const std::string&, int n, int total) {
                           if (total == 213) done.push_back(n);
                         }));
  EXPECT_TRUE(f.list.empty());
  EXPECT_EQ(done.size(), 213u);
  EXPECT_EQ(done.back(), 213);
  EXPECT_EQ(f.counts.tagged, 207);  // the line break goes through a run of its own
  EXPECT_EQ(f.counts.out_of_interval, 2);
  EXPECT_EQ(f.counts.errors, 3);  // ExifTool failed, ExifTool warned, no date
  EXPECT_EQ(untaggable_line(f.counts),
            "\t1 video(s) cannot carry GPS tags: " + f.dir / "clip.MOV" + "\n");
  EXPECT_EQ(f.results, "ERROR processing " + f.dir / "fail.jpg" + ": Error: Stand-in failure - " +
                           f.dir / "fail.jpg" + "\nERROR processing " + f.dir / "warn.jpg" +
                           ": Warning: [minor] Stand-in warning - " + f.dir / "warn.jpg" + "\n");
  EXPECT_EQ(writer.processes_started(), 1);
  EXPECT_EQ(test::read_file(f.dir / "starts").size(),
            test::read_file(f.dir / "starts").find('\n') + 1);  // one start logged
  for (const auto& entry : fsys::directory_iterator(f.dir.path()))
    EXPECT_EQ(entry.path().string().find("-cwtmp"), std::string::npos) << entry.path();
}

// A stop ends ExifTool in the middle of an image, which counts as an error; the one before stays
// tagged, and a list met by the stop is not begun.
TEST(TagWriter, StopEndsExifToolAtOnce) {
  TagFixture f;
  f.add("1.jpg", "12:01");
  f.add("hang.jpg", "12:02");
  f.add("3.jpg", "12:03");
  const std::string hanging = f.dir / "hanging";
  ScopedEnv hang("FAKE_EXIFTOOL_HANG", "hang.jpg"), marker("FAKE_EXIFTOOL_HANGING", hanging),
      starts("FAKE_EXIFTOOL_STARTS", f.dir / "starts");
  GpsRunSettings gps{&f.tracks, 0, kStandIn};
  // The request comes once ExifTool has begun the image it would take a minute over.
  const StopSource stop = [&hanging] { return test::read_file(hanging) == "begun\n"; };
  TagWriter writer(kStandIn);
  EXPECT_TRUE(tag_image(gps, writer, f.list[0], f.counts, f.results, stop));
  EXPECT_FALSE(tag_image(gps, writer, f.list[1], f.counts, f.results, stop));
  const pid_t pid = std::stoi(test::read_file(f.dir / "starts"));
  EXPECT_NE(::kill(pid, 0), 0);  // ended and reaped
  EXPECT_EQ(test::read_file(hanging), "begun\n");  // it never got to the end of the image
  EXPECT_EQ(f.counts.tagged, 1);
  EXPECT_EQ(f.counts.errors, 1);
  EXPECT_EQ(f.results, "ERROR processing " + f.list[1] + ": Stopped\n");
  EXPECT_FALSE(fsys::exists(tagged_temp_path(f.list[1])));

  std::vector<std::string> rest{f.list[2]};
  EXPECT_TRUE(tag_images(gps, writer, rest, f.counts, f.results, stop));
  EXPECT_TRUE(rest.empty());
  EXPECT_EQ(f.counts.tagged + f.counts.out_of_interval + f.counts.errors, 2);
  EXPECT_EQ(writer.processes_started(), 1);
}

TEST(TagWriter, MissingExifToolEmptiesTheListOnceThenCountsErrors) {
  TagFixture f;
  f.add("in.jpg", "12:01");
  f.add("early.jpg", "11:00");
  GpsRunSettings gps{&f.tracks, 0, f.dir / "no-exiftool"};
  TagWriter writer(gps.exiftool);
  EXPECT_FALSE(tag_images(gps, writer, f.list, f.counts, f.results));
  EXPECT_TRUE(f.list.empty());
  EXPECT_EQ(f.results, exiftool_missing_message(gps.exiftool));
  EXPECT_EQ(f.counts.tagged + f.counts.out_of_interval + f.counts.errors, 0);
  EXPECT_EQ(writer.processes_started(), 0);
  EXPECT_EQ(exiftool_searched(gps.exiftool), gps.exiftool);
  EXPECT_EQ(exiftool_searched("").rfind("exiftool in PATH (", 0), 0u);

  // Reported once: a later run counts the images it could have tagged as errors.
  GpsRunSettings again = gps;
  f.add("in.jpg", "12:01");
  f.add("early.jpg", "11:00");
  f.results.clear();
  EXPECT_TRUE(tag_images(again, writer, f.list, f.counts, f.results));
  EXPECT_EQ(f.results, "");
  EXPECT_EQ(f.counts.errors, 1);
  EXPECT_EQ(f.counts.out_of_interval, 1);
}

TEST(TagWriter, RealExifToolWritesEveryPositionFromOneProcess) {
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  TagFixture f;
  f.add_many();
  const std::vector<std::string> images = f.list;
  GpsRunSettings gps{&f.tracks, 0, find_executable(kExifToolName)};
  TagWriter writer(gps.exiftool);
  EXPECT_TRUE(tag_images(gps, writer, f.list, f.counts, f.results));
  EXPECT_EQ(f.counts.tagged, 200) << f.results;
  EXPECT_EQ(writer.processes_started(), 1);
  for (std::size_t i : {0u, 1u, 2u, 3u, 199u}) {
    GpsPosition want;
    ASSERT_EQ(f.tracks.interpolate(images[i], 0, false, want), GpsMatch::kFound);
    // "./" keeps the names that begin with "-" from reading as options here too.
    std::string out;
    test::run_command("cd " + test::sh_quote(f.dir.path()) + " && exiftool -n -s3 -GPSLatitude " +
                          "-GPSLongitude ./" + test::sh_quote(images[i].substr(images[i].rfind('/') + 1)),
                      &out);
    double lat = 0, lon = 0;
    std::istringstream(out) >> lat >> lon;
    EXPECT_NEAR(lat, want.lat, 2e-6) << images[i];
    EXPECT_NEAR(lon, want.lon, 2e-6) << images[i];
    EXPECT_EQ(fixtures::mtime_of(images[i]), 0) << images[i];
  }
}

// The port as the user names it is the device gpsbabel reads.
TEST(Receiver, PortsNameTheDeviceGpsbabelReads) {
  auto device = [](GpsReceiver kind, const std::string& port) {
    const std::vector<std::string> args = gpsbabel_args("gpsbabel", kind, port, "t.gpx");
    const auto f = std::find(args.begin(), args.end(), "-f");
    return f != args.end() && f + 1 != args.end() ? f[1] : "";
  };
  EXPECT_EQ(device(GpsReceiver::kMagellan, "COM1"), "/dev/ttyS0");
  EXPECT_EQ(device(GpsReceiver::kGarmin, "COM12"), "/dev/ttyS11");
  EXPECT_EQ(device(GpsReceiver::kGarmin, "USB"), "usb:");
  EXPECT_EQ(device(GpsReceiver::kMagellan, "/dev/ttyUSB0:"), "/dev/ttyUSB0");
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
