// The TIFF/EXIF reader on synthetic files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "imagefile/byte_source.h"
#include "imagefile/identity.h"
#include "imagefile/tag_tables.h"
#include "imagefile/tv_reader.h"
#include "platform/camera_source.h"
#include "tests/fixtures/tiff_builder.h"
#include "tests/common/test_env.h"
#include "tests/imagefile/dump_reader.h"

namespace cw {
namespace {

using test::DumpReader;
using fixtures::TiffBuilder;
using fixtures::TiffEntry;
using fixtures::be16;
using fixtures::jpeg_with_exif;
using ::testing::HasSubstr;
using ::testing::Not;

// IFD0 at 8 (Make, Model, Orientation, DateTime, EXIF pointer), EXIF IFD at 200.
std::string camera_tiff(bool big) {
  TiffBuilder t(big);
  t.ifd(8,
        {t.ascii(0x10f, "TestMaker"), t.ascii(0x110, "Model One"), t.shorts(0x112, {6}),
         t.ascii(0x132, "2024:01:02 09:00:00"), t.longs(0x8769, {200})},
        0, 100);
  t.ifd(200,
        {t.rational(0x829a, 1, 250), t.rational(0x829d, 28, 10), t.shorts(0x8827, {400}),
         t.ascii(0x9003, "2024:01:02 03:04:05"), t.ascii(0x9004, "2024:01:02 03:04:06"),
         t.ascii(0x9292, "42")},
        0, 300);
  return t.bytes();
}

TEST(Reader, FileSourceGivesTheFileBytesAcrossItsWindowAtAnyPosition) {
  test::TempDir tmp;
  std::string bytes(200000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  const std::string path = tmp / "IMG_0001.JPG";
  test::write_file(path, bytes);
  const auto source = open_file_source(path);
  ASSERT_TRUE(source);
  EXPECT_EQ(source->size(), bytes.size());
  // Each read as {position, count}: in the first window, across its end, back before it, one
  // larger than a window, and one that runs past the end of the file.
  const std::pair<std::uint64_t, std::size_t> reads[] = {
      {0, 10}, {65530, 20}, {5, 3}, {1000, 150000}, {199995, 10}};
  for (const auto& [at, n] : reads) {
    ASSERT_TRUE(source->seek(at));
    std::string got(n, '\0');
    const std::size_t count = source->read(got.data(), n);
    got.resize(count);
    EXPECT_EQ(got, bytes.substr(at, n)) << at;
    EXPECT_EQ(source->tell(), at + count);
  }
  char rest;
  EXPECT_EQ(source->read(&rest, 1), 0u);
  EXPECT_FALSE(open_file_source(tmp.str()));  // a folder is no file
}

TEST(Reader, BothByteOrdersGiveTheSameValues) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "big endian" : "little endian");
    DumpReader d;
    ASSERT_TRUE(d.open(camera_tiff(big), "x.tif", true, true)) << d.r.message();
    EXPECT_EQ(d.values({"Make", "model", "Orientation", "ExposureTime", "FNumber",
                        "ISOSpeedRatings", "DateTimeChanged"}),
              "TestMaker|Model One|6|1/250|28/10|400|2024:01:02 09:00:00");
    EXPECT_EQ(capture_datetime(*d.r.image()), "20240102_030405");
    EXPECT_EQ(d.r.image()->find_pair("Make")->directory, kFromIFD0);
    EXPECT_EQ(d.r.image()->find_pair("FNumber")->directory, kFromExif);
    EXPECT_EQ(d.r.image()->find_pair("FNumber")->type, 5);
    EXPECT_THAT(d.dump, Not(HasSubstr("\tMake:")));  // macro mode captures, not prints

    // Quick mode alone: the identity fields from the tag rules.
    ASSERT_TRUE(d.open(camera_tiff(big), "x.tif", true, false)) << d.r.message();
    EXPECT_TRUE(d.r.image()->macro_pairs.empty());
    EXPECT_EQ(capture_identity_text(*d.r.image()), "2024:01:02 03:04:06.42/2024:01:02 09:00:00");
    EXPECT_EQ(d.r.image()->make, "TestMaker");
    EXPECT_EQ(d.r.image()->orientation, 6u);
  }
  DumpReader d;  // the dump: directories, entries and notes
  ASSERT_TRUE(d.open(camera_tiff(true), "x.tif")) << d.r.message();
  for (const char* line : {"\nFirst Image File Directory at offset 8 (5 entries)\n",
                           "\tMake: TestMaker\n",
                           "\tOrientation: 6 \n\t\t(Orientation: right top)\n",
                           "\tExif IFD: 200 \n", "\nNext Image File Directory offset is zero\n",
                           "\nEXIF Image File Directory at offset 200 (6 entries)\n",
                           "\tExposureTime: 1/250 \n", "\nNumber of Sub IFDs: 0\n"})
    EXPECT_THAT(d.dump, HasSubstr(line));
}

TEST(Reader, JpegRafAndMrwHeadersLocateTheTiffStructure) {
  const std::string tiff = camera_tiff(false);
  DumpReader d;
  // EXIF after a JFIF segment: base is the TIFF header inside APP1 (2 + 18 + 10).
  ASSERT_TRUE(d.open(jpeg_with_exif(tiff, true), "a.jpg", true, true)) << d.r.message();
  EXPECT_EQ(d.r.image()->base, 30u);
  EXPECT_TRUE(d.r.image()->jpeg);
  EXPECT_EQ(d.values({"FNumber"}), "28/10");
  ASSERT_TRUE(d.open(jpeg_with_exif(tiff, false), "a.jpg", true, true)) << d.r.message();
  EXPECT_EQ(d.r.image()->base, 12u);  // JPEG in EXIF form
  EXPECT_EQ(d.values({"ExposureTime"}), "1/250");

  // JFIF without EXIF: nothing to give in quick mode, an error otherwise.
  const std::string jfif = std::string("\xFF\xD8\xFF\xE0") + be16(16) +
                           std::string("JFIF\0\x01\x02\x01\0\x48\0\x48\0\0", 14) +
                           std::string("\xFF\xDB\x00\x43\x00\x00\x00\x00\x00\x00", 10) + "\xFF\xD9";
  EXPECT_TRUE(d.open(jfif, "b.jpg", true, true)) << d.r.message();
  EXPECT_TRUE(d.r.image()->macro_pairs.empty());
  EXPECT_EQ(d.error(jfif, "b.jpg"), "Bad header - invalid byte-order designation");
  EXPECT_THAT(d.dump, HasSubstr("JPEG/JFIF (not TIFF compatible)\n\tHeader length: 16\n"
                                "\tVersion: 1.2\n"));
  std::string bad = jpeg_with_exif(tiff, false);
  bad[10] = 'X';
  EXPECT_EQ(d.error(bad, "c.jpg", true, true),
            "Bad header - doesn't start with recognizable markers");

  // RAF: the TIFF structure at 160.
  ASSERT_TRUE(d.open("FUJIFILM" + std::string(152, '\0') + camera_tiff(true), "a.raf", true, true))
      << d.r.message();
  EXPECT_EQ(d.r.image()->base, 160u);
  EXPECT_EQ(d.values({"Model"}), "Model One");
  EXPECT_EQ(d.error("FUJIFILM" + std::string(100, '\0'), "b.raf", true, true),
            "Read error - FUJI file may be short (reading header)");

  // MRW: blocks PRD, then TTW holding the TIFF structure.
  const std::string mrw = std::string("\0MRM", 4) + be16(0) + be16(0) +
                          std::string("\0PRD\0\0\0\x04", 8) + "abcd" + std::string("\0TTW", 4) +
                          be16(0) + be16(tiff.size()) + tiff;
  ASSERT_TRUE(d.open(mrw, "a.mrw", true, true)) << d.r.message();
  EXPECT_EQ(d.r.image()->base, 28u);
  EXPECT_EQ(d.values({"ISOSpeedRatings"}), "400");

  // ORF-style magic: a warning, then a normal read.
  TiffBuilder orf(true, 0x4f52);
  orf.ifd(8, {orf.ascii(0x10f, "OLYMPUS")}, 0, 100);
  ASSERT_TRUE(d.open(orf.bytes(), "a.orf")) << d.r.message();
  EXPECT_THAT(d.dump, HasSubstr("Magic number (20306) not TIFF standard\n"));
  EXPECT_EQ(d.r.image()->make, "OLYMPUS");
}

TEST(Reader, DirectoryRulesEndTheReadWithTheirMessage) {
  TiffBuilder t(false), empty(false), no_ifd(true, 42, 0), five(false);
  empty.put(8, t.u16(0) + t.u32(0));
  no_ifd.put(8, std::string(20, '\0'));
  five.ifd(8, {t.shorts(0x100, {1}), t.shorts(0x101, {1}), t.shorts(0x112, {1}),
               t.shorts(0x115, {1}), t.shorts(0x116, {1})}, 0, 100);
  auto with = [](const TiffEntry& entry) {
    TiffBuilder b(false);
    b.ifd(8, {b.ascii(0x10f, "M"), entry}, 0, 100);
    return b.bytes();
  };
  const std::pair<std::string, const char*> cases[] = {
      {empty.bytes(), "Image File Directory has no entries"},
      {no_ifd.bytes(), "Bad header - missing Image File Directory"},
      {five.bytes().substr(0, 8 + 2 + 12 * 3 + 5),  // cut inside the entries
       "Read error - file may be short (reading entry)"},
      {with(t.shorts(0x8769, {100})), "Exif_IFD is not type 4 and/or has more than one value"},
      {with(t.longs(0x8825, {100, 200})), "GPS_IFD is not type 4 and/or has more than one value"},
      {with(t.shorts(0x100, {10, 20})), "Tag is missing value"},
      {with(t.rational(0x103, 1, 1)), "Tag is missing value"},
      {with(t.shorts(0x102, {8, 8})), "BitsPerSample has other than 1 or 3 values"},
      {with(t.longs(0x102, {8, 8, 8})), "BitsPerSample has other than 16-bit values"},
      {with(t.rational(0x111, 1, 1)), "StripOffsets type not 3 or 4"},
      {with(t.ascii(0x201, "")), "JPEGInterchangeFormat type not 3 or 4"},
      {with(t.shorts(0x14a, {100})), "SubIFD offset is not signed 32-bit number (type 4)"},
  };
  DumpReader d;
  for (const auto& [bytes, message] : cases) EXPECT_EQ(d.error(bytes, "z.tif"), message);
  // An empty EXIF directory fails the read; IFD0's pairs stay.
  t.ifd(8, {t.ascii(0x10f, "Maker"), t.longs(0x8769, {100})}, 0, 60);
  t.put(100, t.u16(0) + t.u32(0));
  EXPECT_EQ(d.error(t.bytes(), "z.tif", true, true), "Image File Directory has no entries");
  EXPECT_EQ(d.values({"Make"}), "Maker");
}

TEST(Reader, TenSubIFDsAreReadElevenAreTooMany) {
  for (std::uint32_t n : {10u, 11u}) {
    TiffBuilder t(false);
    std::vector<std::uint32_t> offsets;
    for (std::uint32_t i = 0; i < n; ++i) offsets.push_back(1000 + 100 * i);
    t.ifd(8, {t.longs(0x14a, offsets)}, 0, 100);
    for (std::uint32_t at : offsets) t.ifd(at, {t.shorts(0x100, {at})}, 0, at + 50);
    DumpReader d;
    ASSERT_EQ(d.error(t.bytes(), "s.nef"), n == 10 ? "<read>" : "Too many SubIFDs");
    if (n == 11) continue;
    EXPECT_THAT(d.dump, HasSubstr("\nNumber of Sub IFDs: 10\n"));
    EXPECT_EQ(d.r.image()->root->sub_ifd_count, 10);
    EXPECT_EQ(d.r.image()->root->sub_ifds[9]->image_width, 1900u);
  }
}

TEST(Reader, ValuesAreFormattedAndCutAndOutOfOrderTagsStillUsed) {
  TiffBuilder t(false);
  const std::string long_text(300, 'a');
  t.ifd(8,
        {t.ascii(0x10e, long_text), t.longs(0x118, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
         {0x11a, 10, 1, t.u32(-5) + t.u32(2)}, {0x11c, 8, 1, t.u16(65535)}, {0x11e, 99, 1, "abcd"},
         {0x11f, 3, 0, ""}},
        0, 200);
  DumpReader d;
  ASSERT_TRUE(d.open(t.bytes(), "v.tif")) << d.r.message();
  EXPECT_THAT(d.dump, HasSubstr("\tImageDescription: " + std::string(201, 'a') + "...\n"));
  EXPECT_THAT(d.dump, HasSubstr("\tMinSampleValue: 1 2 3 4 5 6 7 8 9 10 11 ...\n"));
  EXPECT_THAT(d.dump, HasSubstr("\tXResolution: -5/2 \n"));
  EXPECT_THAT(d.dump, HasSubstr("\tPlanarConfiguration: -1 \n"));
  EXPECT_THAT(d.dump, HasSubstr("Unknown type = 99\n"));
  EXPECT_THAT(d.dump, HasSubstr("\tYPosition: [NULL]\n"));
  EXPECT_EQ(d.r.image()->image_description, long_text);

  TiffBuilder o(true);
  o.ifd(8, {o.ascii(0x110, "Second"), o.ascii(0x10f, "First")}, 0, 100);
  ASSERT_TRUE(d.open(o.bytes(), "o.tif")) << d.r.message();
  EXPECT_THAT(d.dump, HasSubstr("\nWARNING: Tags are out of order.\n"));
  EXPECT_EQ(d.r.image()->make, "First");
  EXPECT_EQ(d.r.image()->model, "Second");
}

TEST(Reader, DirectoryLoopsAreNotFollowed) {
  TiffBuilder t(false);
  // IFD0's next is itself; its EXIF pointer is IFD0 again; a SubIFD points at the EXIF IFD.
  t.ifd(8, {t.ascii(0x10f, "Loop"), t.longs(0x14a, {8}), t.longs(0x8769, {8})}, 8, 100);
  DumpReader d;
  EXPECT_TRUE(d.open(t.bytes(), "l.tif")) << d.r.message();
  EXPECT_THAT(d.dump, HasSubstr("was read already"));
  EXPECT_TRUE(d.open(t.bytes(), "l.tif", true, true)) << d.r.message();
  EXPECT_EQ(d.r.image()->macro_pairs.size(), 1u);

  // A long chain of distinct directories stops at the depth cap.
  TiffBuilder c(false);
  for (std::uint32_t i = 0; i < 100; ++i) c.ifd(8 + 20 * i, {c.shorts(0x100, {i})}, 28 + 20 * i, 0);
  c.ifd(8 + 20 * 100, {c.shorts(0x100, {1})}, 0, 0);
  EXPECT_TRUE(d.open(c.bytes(), "c.tif")) << d.r.message();
  EXPECT_THAT(d.dump, HasSubstr("nested too deeply"));
}

TEST(Reader, OpenFailuresAndStrips) {
  TV_Reader r;
  EXPECT_FALSE(r.open("/nonexistent/file.nef", true, true));
  EXPECT_STREQ(r.message(), "Can't open file");
  EXPECT_FALSE(r.open_bytes("II*", "short.tif", true, true));
  EXPECT_STREQ(r.message(), "Read error - file may be short (reading header)");
  EXPECT_EQ(reader_extension("dir.x/IMG_0001.CR2"), "cr2");
  EXPECT_EQ(reader_extension("IMG_0001"), "jpg");

  // A 4 x 5 RGB image in strips of 2 rows: sizes 24, 24, 12.
  TiffBuilder t(false);
  t.ifd(8,
        {t.shorts(0x100, {4}), t.shorts(0x101, {5}), t.shorts(0x102, {8}), t.shorts(0x103, {1}),
         t.longs(0x111, {300, 324, 348}), t.shorts(0x115, {3}), t.shorts(0x116, {2})},
        0, 200);
  t.put(300, std::string(60, '\x7f'));
  ASSERT_TRUE(r.open_bytes(t.bytes(), "s.tif", false, false)) << r.message();
  TV_IFD& d = *r.image()->root;
  EXPECT_EQ(d.strip_size(0), 24u);
  EXPECT_EQ(d.strip_size(2), 12u);
  EXPECT_EQ(d.strip_size(3), 0u);
  std::vector<std::uint8_t> strip;
  ASSERT_TRUE(d.read_strip(2, strip));
  EXPECT_EQ(strip, std::vector<std::uint8_t>(12, 0x7f));
  EXPECT_FALSE(d.read(9));
  EXPECT_STREQ(r.message(), "Image File Directory offset not at word boundary");
}

// A camera whose streams hand out at most 7 bytes at a time, as slow devices do.
struct TrickleCamera : NoCameraSource {
  struct Stream : CameraStream {
    explicit Stream(std::string b) : bytes(std::move(b)) {}
    long long read(void* buffer, std::size_t n) override {
      n = std::min<std::size_t>({n, 7, bytes.size() - pos});
      std::memcpy(buffer, bytes.data() + pos, n);
      pos += n;
      return static_cast<long long>(n);
    }
    std::uint64_t size() const override { return bytes.size(); }
    std::string bytes;
    std::size_t pos = 0;
  };
  bool stat(const std::string& path, CameraFileInfo& info) override {
    info.size = bytes.size();
    info.modified = 0;
    return path == kPath;
  }
  std::unique_ptr<CameraStream> open(const std::string& path) override {
    return path == kPath ? std::make_unique<Stream>(bytes) : nullptr;
  }
  static constexpr const char* kPath = "ptp/IMG_0001.JPG";
  std::string bytes = jpeg_with_exif(camera_tiff(true), true);
};

TEST(Reader, CameraImagesAreReadThroughTheCameraSource) {
  TrickleCamera camera;
  TV_Reader r;
  // A reader given no camera cannot open a camera path.
  EXPECT_FALSE(r.open(TrickleCamera::kPath, true, true));
  EXPECT_STREQ(r.message(), "Can't open file");
  r.set_cameras(&camera);
  EXPECT_TRUE(r.open(TrickleCamera::kPath, true, true)) << r.message();
  EXPECT_EQ(r.image()->find_pair("FNumber")->value, "28/10");
  const std::string id = image_identity_text(r, TrickleCamera::kPath);
  ASSERT_EQ(id[0], '/');
  EXPECT_EQ(id.substr(1, id.find('/', 1) - 1), std::to_string(camera.bytes.size())) << id;
  EXPECT_THAT(id, HasSubstr("/2024:01:02 03:04:06.42/2024:01:02 09:00:00"));
  EXPECT_FALSE(r.is_open());  // the camera stream is closed after the identity
  EXPECT_FALSE(r.open("ptp/missing.jpg", true, true));
  EXPECT_STREQ(r.message(), "Can't open file");
}

TEST(Reader, TagNamesAndDateStamps) {
  for (const TagTable* table : {&tag_def(), &tag_def_EXIF(), &tag_def_GPS(), &tag_def_CRW()})
    EXPECT_EQ(first_repeated_tag(table->rows()), -1);
  const TagRow repeated[] = {{1, "a"}, {7, "b"}, {1, "c"}};
  EXPECT_EQ(first_repeated_tag(repeated), 1);
  EXPECT_EQ(tag_def().name(0x7777), "[Tag 30583]");
  // Dates become stamps (as the capture identity tests show); anything else passes as it is.
  EXPECT_EQ(exif_datetime_stamp("    :  :     :  :  "), "    :  :     :  :  ");
}

}  // namespace
}  // namespace cw
