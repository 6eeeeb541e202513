// Movies and AVCHD streams, against exiftool on files ffmpeg and our own writer make.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "imagefile/identity.h"
#include "imagefile/tv_reader.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/avchd_maker.h"
#include "tests/fixtures/bmff_builder.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/tiff_builder.h"
#include "tests/imagefile/dump_reader.h"

namespace cw {
namespace {

using test::DumpReader;

// The computer's zone for these tests: Central European, so that UTC and local times differ.
constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

// exiftool's value of `tag` in `file`, read with `options`; "" when the file has none.
std::string tool_value(const std::string& file, const std::string& tag,
                       const std::string& options = "") {
  const std::string out = test::exiftool(options + " -s3 -" + tag, file);
  return out.substr(0, out.find('\n'));
}

using fixtures::be32;
using fixtures::be64;
const auto box = &fixtures::bmff_box;
// The movie's date with its zone offset as the reader gives them, or why it could not read it.
std::string dated(TV_Reader& r, const std::string& path) {
  if (!r.open(path, true, true)) return std::string("error: ").append(r.message());
  const MacroPair* date = r.image()->find_pair("DateTimeOriginal");
  const MacroPair* offset = r.image()->find_pair("OffsetTimeOriginal");
  return (date ? date->value : "<none>") + (offset ? offset->value : "");
}
const std::string kFileType = box("ftyp", std::string("qt  ") + be32(0) + "qt  ");
// Movie headers of version 0 (32-bit times) and 1 (64-bit), created `created` s after 1904.
std::string mvhd0(std::uint32_t created) {
  return box("mvhd", be32(0) + be32(created) + std::string(92, '\0'));
}
std::string mvhd1(std::uint64_t created) {
  return box("mvhd", be32(1u << 24) + be64(created) + std::string(104, '\0'));
}
// 2021-05-12 10:21:21 UTC in seconds since 1904.
constexpr std::uint64_t kMay2021 = 1620814881ull + 2082844800ull;

// A QuickTime metadata box: a key table counting `count` keys, and one item per key given.
std::string key_meta(std::uint32_t count, const std::vector<std::string>& keys,
                     const std::vector<std::string>& values) {
  std::string table = be32(0) + be32(count), items;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    table += be32(8 + keys[i].size()) + "mdta" + keys[i];
    const std::string data = box("data", be32(1) + be32(0) + values[i]);
    items += be32(8 + data.size()) + be32(static_cast<std::uint32_t>(i + 1)) + data;
  }
  return box("meta", box("hdlr", be32(0) + be32(0) + "mdta" + std::string(12, '\0')) +
                         box("keys", table) + box("ilst", items));
}

TEST(Movie, FfmpegMoviesAgreeWithExiftool) {
  if (!test::have_program("ffmpeg") || !test::have_program("exiftool"))
    GTEST_SKIP() << "ffmpeg or exiftool not installed";
  test::ScopedZone zone(kCentralEurope);
  test::TempDir dir;
  const std::string mp4 = dir / "A001.MP4", mov = dir / "B001.MOV", udta = dir / "C001.MOV",
                    items = dir / "D001.MP4";
  const std::string source =
      "ffmpeg -v error -y -f lavfi -i testsrc=duration=1:size=64x48:rate=5 "
      "-metadata creation_time=2021-05-12T10:21:21Z ";
  ASSERT_EQ(test::run_command(source + test::sh_quote(mp4)), 0);
  ASSERT_EQ(test::run_command(source +
                              "-movflags use_metadata_tags "
                              "-metadata com.apple.quicktime.creationdate=2021-05-12T12:21:21+0200 "
                              "-metadata com.apple.quicktime.make=Canon "
                              "-metadata 'com.apple.quicktime.model=Canon EOS R6' " +
                              test::sh_quote(mov)),
            0);
  // The date and texts go into user-data boxes of a MOV, an item list of an MP4.
  const std::string texts_options =
      "-metadata make=Sony -metadata model=ILCE-7M4 -metadata date=2021-05-12T09:00:00-0500 ";
  ASSERT_EQ(test::run_command(source + texts_options + test::sh_quote(udta)), 0);
  ASSERT_EQ(test::run_command(source + texts_options + test::sh_quote(items)), 0);
  TV_Reader r;

  // The movie header's UTC time is shown in the computer's zone, with that zone's offset
  // (exiftool inherits the test's zone); as the camera's local time it has no offset.
  const std::string header = tool_value(mp4, "CreateDate");
  const std::string in_zone = tool_value(mp4, "CreateDate", "-api QuickTimeUTC");
  ASSERT_EQ(in_zone.size(), 25u) << in_zone;
  EXPECT_EQ(dated(r, mp4), in_zone);
  EXPECT_NE(in_zone.substr(0, 19), header);
  r.set_video_times_local(true);
  EXPECT_EQ(dated(r, mp4), header);
  EXPECT_EQ(capture_datetime(*r.image()), exif_datetime_stamp(header));

  // The creation-date key (local time with its zone) is preferred to the header whatever the
  // setting; make and model come from their keys.
  const std::string created = tool_value(mov, "CreationDate");
  EXPECT_EQ(dated(r, mov), created);
  r.set_video_times_local(false);
  EXPECT_EQ(dated(r, mov), created);
  EXPECT_EQ(r.image()->find_pair("Make")->value, tool_value(mov, "Make"));
  EXPECT_EQ(r.image()->model, tool_value(mov, "Model"));
  EXPECT_EQ(r.image()->date_time, r.image()->find_pair("DateTimeOriginal")->value);

  // User-data texts (©day, ©mak, ©mod).
  EXPECT_EQ(dated(r, udta), tool_value(udta, "ContentCreateDate"));
  EXPECT_EQ(r.image()->find_pair("Model")->value, tool_value(udta, "Model"));
  EXPECT_EQ(r.image()->make, tool_value(udta, "Make"));
  EXPECT_EQ(dated(r, items), tool_value(items, "ContentCreateDate"));

  // The dump says where the date came from.
  DumpReader d;
  ASSERT_TRUE(d.open(test::read_file(mov), "b.mov")) << d.r.message();
  EXPECT_NE(d.dump.find("com.apple.quicktime.model: Canon EOS R6"), std::string::npos) << d.dump;
  EXPECT_NE(d.dump.find("(com.apple.quicktime.creationdate)"), std::string::npos) << d.dump;
}

TEST(Movie, HeaderTimesKeysAndBadBoxes) {
  DumpReader d;
  auto read = [&](const std::string& bytes) {
    return d.open(bytes, "m.mov", true, true) ? d.values({"DateTimeOriginal", "Model"})
                                              : std::string("error: ") + d.r.message();
  };
  d.r.set_video_times_local(true);
  // Version 0 and 1 headers; zero means "not set", so the movie has no date of its own (the
  // file time dates it then).
  EXPECT_EQ(read(kFileType + box("moov", mvhd0(kMay2021))), "2021:05:12 10:21:21|<none>");
  EXPECT_EQ(read(kFileType + box("moov", mvhd1(kMay2021))), "2021:05:12 10:21:21|<none>");
  EXPECT_EQ(read(kFileType + box("moov", mvhd0(0))), "<none>|<none>");
  EXPECT_EQ(read(kFileType + box("moov", mvhd1(~0ull >> 1))), "<none>|<none>");  // past 9999
  EXPECT_EQ(d.r.image()->date_time, "");
  EXPECT_EQ(capture_identity_text(*d.r.image()), "");
  // A movie box with a 64-bit size, and one that runs to the end of the file (size 0).
  const std::string moov =
      mvhd0(kMay2021) +
      key_meta(2, {"com.apple.quicktime.model", "com.apple.quicktime.make"}, {"EOS R6", "Canon"});
  EXPECT_EQ(read(kFileType + be32(1) + "moov" + be64(16 + moov.size()) + moov),
            "2021:05:12 10:21:21|EOS R6");
  EXPECT_EQ(read(kFileType + be32(0) + "moov" + moov), "2021:05:12 10:21:21|EOS R6");
  EXPECT_EQ(d.r.image()->make, "Canon");

  // XMP in its uuid box, and EXIF in another: the EXIF date before the XMP's, the movie
  // header's last; XMP gives what the EXIF lacks.
  const std::string xmp = box("uuid", fixtures::cr3_xmp_uuid() +
                                          "<rdf:Description xmp:CreateDate=\"2020-01-02T03:04:05"
                                          "+01:00\"><tiff:Model>XMP Cam</tiff:Model>");
  EXPECT_EQ(read(kFileType + xmp + box("moov", mvhd0(kMay2021))), "2020:01:02 03:04:05|XMP Cam");
  fixtures::CameraInfo camera;
  camera.date_time_original = "2019:07:08 09:10:11";
  const std::string exif =
      box("uuid", std::string(16, '\x11') + fixtures::build_exif_app1_payload(camera));
  EXPECT_EQ(read(kFileType + box("moov", mvhd0(kMay2021) + exif) + xmp),
            "2019:07:08 09:10:11|" + camera.model);

  // Bad inputs: a clear error, at once.
  EXPECT_EQ(read(kFileType + box("free", "")), "error: no movie box (moov) in the file");
  EXPECT_EQ(read(kFileType + box("moov", mvhd0(kMay2021)).substr(0, 40)),
            "error: box extends beyond its parent");
  EXPECT_EQ(read(kFileType + box("moov", box("mvhd", be32(1u << 24) + be32(0)))),
            "error: movie header box too short");
  EXPECT_EQ(read(kFileType + box("moov", mvhd0(kMay2021) + key_meta(3, {"a"}, {"x"}))),
            "error: metadata key beyond its table");
  EXPECT_EQ(read(kFileType + box("moov", key_meta(0xffffffffu, {}, {}))),
            "error: too many metadata keys");
  // A user-data text longer than its box is left out; the movie's other values stay.
  const std::string bad_text = box("\xa9mod", std::string("\x00\x40\x00\x00", 4) + "EOS");
  EXPECT_EQ(read(kFileType + box("moov", box("udta", bad_text) + mvhd0(kMay2021))),
            "2021:05:12 10:21:21|<none>");
  // What was read before the failure stays: it still dates the movie.
  EXPECT_EQ(read(kFileType + box("moov", mvhd0(kMay2021) + be32(100) + "udta")),
            "error: box extends beyond its parent");
  EXPECT_EQ(d.values({"DateTimeOriginal"}), "2021:05:12 10:21:21");
}

TEST(Movie, ClipCompanionDateIsPreferred) {
  test::TempDir root;
  const std::string dir = root / "PRIVATE/M4ROOT/CLIP", clip = dir + "/C0001.MP4";
  const std::string movie = kFileType + box("moov", mvhd0(kMay2021));
  test::write_file(clip, movie);
  TV_Reader r;
  r.set_video_times_local(true);
  EXPECT_EQ(dated(r, clip), "2021:05:12 10:21:21");
  // The companion (any case) beside the clip gives the date and its zone.
  test::write_file(dir + "/c0001m01.xml",
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<NonRealTimeMeta>\n"
                   "  <Duration value=\"100\"/>\n"
                   "  <Device manufacturer=\"Sony\" modelName=\"ILCE-7M4\" serialNo=\"1\"/>\n"
                   "  <CreationDate value=\"2024-03-15T10:20:30+01:00\"/>\n</NonRealTimeMeta>\n");
  EXPECT_EQ(dated(r, clip), "2024:03:15 10:20:30+01:00");
  EXPECT_EQ(r.image()->find_pair("Model")->value, "ILCE-7M4");
  // Another clip's companion does not count, nor do bytes without a path.
  test::write_file(dir + "/C0002.MP4", movie);
  EXPECT_EQ(dated(r, dir + "/C0002.MP4"), "2021:05:12 10:21:21");
  ASSERT_TRUE(r.open_bytes(movie, "C0001.MP4", true, true));
  EXPECT_EQ(r.image()->find_pair("DateTimeOriginal")->value, "2021:05:12 10:21:21");
  // A companion without a readable date leaves the movie's own.
  test::write_file(dir + "/c0001m01.xml", "<CreationDate value=\"yesterday\"/>");
  EXPECT_EQ(dated(r, clip), "2021:05:12 10:21:21");
}

TEST(Avchd, GeneratedStreamsAgreeWithExiftool) {
  test::TempDir dir;
  fixtures::MdpmRecording east;  // 2024-03-15 10:20:30 +01:00
  fixtures::MdpmRecording west;
  west.year = 2009, west.month = 12, west.day = 1, west.hour = 0, west.minute = 0;
  west.second = 0, west.zone_minutes = -210;  // zero bytes that need emulation prevention
  fixtures::MdpmRecording summer = west;      // -03:30 on summer time: an hour ahead, -02:30
  summer.daylight_saving = true;
  DumpReader d;
  for (const auto& [rec, expected] : std::vector<std::pair<fixtures::MdpmRecording, std::string>>{
           {east, "2024:03:15 10:20:30+01:00"}, {west, "2009:12:01 00:00:00-03:30"},
           {summer, "2009:12:01 00:00:00-02:30"}}) {
    const std::string stream = fixtures::avchd_stream(rec, 40);
    const std::string path = dir / "00000.MTS";
    test::write_file(path, stream);
    ASSERT_TRUE(d.open(stream, "00000.MTS", true, true)) << d.r.message();
    EXPECT_EQ(d.values({"DateTimeOriginal"}) + d.values({"OffsetTimeOriginal"}), expected);
    EXPECT_EQ(d.r.image()->date_time, expected.substr(0, 19));
    // exiftool shows the zone as written with "DST" after it.
    if (test::have_program("exiftool")) {
      EXPECT_EQ(tool_value(path, "DateTimeOriginal"),
                rec.daylight_saving ? expected.substr(0, 19) + "-03:30 DST" : expected);
    }
  }

  // Bad streams: a lost sync byte, no video.
  std::string stream = fixtures::avchd_stream(east);
  std::string broken = stream;
  broken[2 * 192 + 4] = 0x00;
  EXPECT_EQ(d.error(broken, "a.m2ts", true, true), "transport packet without its sync byte");
  EXPECT_EQ(d.error(stream.substr(0, 2 * 192), "a.mts", true, true),
            "no video stream in the first packets of the stream");
}

}  // namespace
}  // namespace cw
