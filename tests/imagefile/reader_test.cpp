// The TIFF/EXIF reader on synthetic files: byte orders, header locations, directory rules,
// value formatting and the guards against loops.
#include <gtest/gtest.h>

#include <cstring>

#include "imagefile/identity.h"
#include "imagefile/tag_tables.h"
#include "imagefile/tv_reader.h"
#include "platform/camera_source.h"
#include "tests/imagefile/tiff_builder.h"

namespace cw {
namespace {

using test::TiffBuilder;
using test::TiffEntry;

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

std::string value_of(const TV_Reader& r, const char* name) {
  const MacroPair* p = r.image()->find_pair(name);
  return p ? p->value : "<none>";
}

TEST(Reader, BothByteOrdersGiveTheSameValues) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "big endian" : "little endian");
    TV_Reader r;
    ASSERT_TRUE(r.open_bytes(camera_tiff(big), "x.tif", true, true)) << r.message();
    EXPECT_EQ(value_of(r, "Make"), "TestMaker");
    EXPECT_EQ(value_of(r, "model"), "Model One");
    EXPECT_EQ(value_of(r, "Orientation"), "6");
    EXPECT_EQ(value_of(r, "ExposureTime"), "1/250");
    EXPECT_EQ(value_of(r, "FNumber"), "28/10");
    EXPECT_EQ(value_of(r, "ISOSpeedRatings"), "400");
    EXPECT_EQ(value_of(r, "DateTimeChanged"), "2024:01:02 09:00:00");
    EXPECT_EQ(capture_datetime(*r.image()), "20240102_030405");
    EXPECT_EQ(r.image()->find_pair("Make")->directory, kFromIFD0);
    EXPECT_EQ(r.image()->find_pair("FNumber")->directory, kFromExif);
    EXPECT_EQ(r.image()->find_pair("FNumber")->type, 5);

    // Quick mode alone: the identity fields from the tag rules.
    ASSERT_TRUE(r.open_bytes(camera_tiff(big), "x.tif", true, false)) << r.message();
    EXPECT_TRUE(r.image()->macro_pairs.empty());
    EXPECT_EQ(capture_identity_text(*r.image()), "2024:01:02 03:04:06.42/2024:01:02 09:00:00");
    EXPECT_EQ(r.image()->make, "TestMaker");
    EXPECT_EQ(r.image()->orientation, 6u);
  }
}

TEST(Reader, DumpShowsDirectoriesEntriesAndNotes) {
  TV_Reader r;
  std::string dump;
  r.set_print(string_sink(dump));
  ASSERT_TRUE(r.open_bytes(camera_tiff(true), "x.tif", false, false)) << r.message();
  EXPECT_NE(dump.find("\nFirst Image File Directory at offset 8 (5 entries)\n"), std::string::npos);
  EXPECT_NE(dump.find("\tMake: TestMaker\n"), std::string::npos);
  EXPECT_NE(dump.find("\tOrientation: 6 \n\t\t(Orientation: right top)\n"), std::string::npos);
  EXPECT_NE(dump.find("\tExif IFD: 200 \n"), std::string::npos);
  EXPECT_NE(dump.find("\nNext Image File Directory offset is zero\n"), std::string::npos);
  EXPECT_NE(dump.find("\nEXIF Image File Directory at offset 200 (6 entries)\n"), std::string::npos);
  EXPECT_NE(dump.find("\tExposureTime: 1/250 \n"), std::string::npos);
  EXPECT_NE(dump.find("\nNumber of Sub IFDs: 0\n"), std::string::npos);
  // Macro mode captures instead of printing.
  dump.clear();
  ASSERT_TRUE(r.open_bytes(camera_tiff(true), "x.tif", true, true));
  EXPECT_EQ(dump.find("\tMake:"), std::string::npos);
}

TEST(Reader, JpegHeadersLocateTheTiffStructure) {
  const std::string tiff = camera_tiff(false);
  TV_Reader r;
  // EXIF after a JFIF segment: base is the TIFF header inside APP1 (2 + 18 + 10).
  ASSERT_TRUE(r.open_bytes(test::jpeg_with_exif(tiff, true), "a.jpg", true, true)) << r.message();
  EXPECT_EQ(r.image()->base, 30u);
  EXPECT_TRUE(r.image()->jpeg);
  EXPECT_EQ(value_of(r, "FNumber"), "28/10");
  // JPEG in EXIF form: base 12.
  ASSERT_TRUE(r.open_bytes(test::jpeg_with_exif(tiff, false), "a.jpg", true, true)) << r.message();
  EXPECT_EQ(r.image()->base, 12u);
  EXPECT_EQ(value_of(r, "ExposureTime"), "1/250");

  // JFIF without EXIF: nothing to give in quick mode, an error otherwise.
  std::string jfif = std::string("\xFF\xD8\xFF\xE0") + test::be16(16) +
                     std::string("JFIF\0\x01\x02\x01\0\x48\0\x48\0\0", 14) +
                     std::string("\xFF\xDB\x00\x43\x00\x00\x00\x00\x00\x00", 10) + "\xFF\xD9";
  EXPECT_TRUE(r.open_bytes(jfif, "b.jpg", true, true)) << r.message();
  EXPECT_TRUE(r.image()->macro_pairs.empty());
  std::string dump;
  r.set_print(string_sink(dump));
  EXPECT_FALSE(r.open_bytes(jfif, "b.jpg", false, false));
  EXPECT_STREQ(r.message(), "Bad header - invalid byte-order designation");
  EXPECT_NE(dump.find("JPEG/JFIF (not TIFF compatible)\n\tHeader length: 16\n\tVersion: 1.2\n"),
            std::string::npos);

  // A broken EXIF-form header.
  std::string bad = test::jpeg_with_exif(tiff, false);
  bad[10] = 'X';
  EXPECT_FALSE(r.open_bytes(bad, "c.jpg", true, true));
  EXPECT_STREQ(r.message(), "Bad header - doesn't start with recognizable markers");
}

TEST(Reader, RafMrwAndOddMagicNumbers) {
  TV_Reader r;
  // RAF: the TIFF structure at 160.
  std::string raf = "FUJIFILM" + std::string(152, '\0') + camera_tiff(true);
  ASSERT_TRUE(r.open_bytes(raf, "a.raf", true, true)) << r.message();
  EXPECT_EQ(r.image()->base, 160u);
  EXPECT_EQ(value_of(r, "Model"), "Model One");
  EXPECT_FALSE(r.open_bytes("FUJIFILM" + std::string(100, '\0'), "b.raf", true, true));
  EXPECT_STREQ(r.message(), "Read error - FUJI file may be short (reading header)");

  // MRW: blocks PRD, WBG, then TTW holding the TIFF structure.
  std::string tiff = camera_tiff(true);
  std::string mrw = std::string("\0MRM", 4) + test::be16(0) + test::be16(0) +
                    std::string("\0PRD", 4) + std::string("\0\0\0\x04", 4) + "abcd" +
                    std::string("\0TTW", 4) + test::be16(0) + test::be16(tiff.size()) + tiff;
  ASSERT_TRUE(r.open_bytes(mrw, "a.mrw", true, true)) << r.message();
  EXPECT_EQ(r.image()->base, 28u);
  EXPECT_EQ(value_of(r, "ISOSpeedRatings"), "400");

  // ORF-style magic: a warning, then a normal read.
  TiffBuilder orf(true, 0x4f52);
  orf.ifd(8, {orf.ascii(0x10f, "OLYMPUS")}, 0, 100);
  std::string dump;
  r.set_print(string_sink(dump));
  ASSERT_TRUE(r.open_bytes(orf.bytes(), "a.orf", false, false)) << r.message();
  EXPECT_NE(dump.find("Magic number (20306) not TIFF standard\n"), std::string::npos);
  EXPECT_EQ(r.image()->make, "OLYMPUS");
}

TEST(Reader, DirectoryRulesEndTheReadWithTheirMessage) {
  TV_Reader r;
  {
    TiffBuilder t(false);
    t.put(8, t.u16(0) + t.u32(0));
    EXPECT_FALSE(r.open_bytes(t.bytes(), "z.tif", false, false));
    EXPECT_STREQ(r.message(), "Image File Directory has no entries");
  }
  {  // An empty EXIF directory fails the read; IFD0's pairs stay.
    TiffBuilder t(false);
    t.ifd(8, {t.ascii(0x10f, "Maker"), t.longs(0x8769, {100})}, 0, 60);
    t.put(100, t.u16(0) + t.u32(0));
    EXPECT_FALSE(r.open_bytes(t.bytes(), "z.tif", true, true));
    EXPECT_STREQ(r.message(), "Image File Directory has no entries");
    EXPECT_EQ(value_of(r, "Make"), "Maker");
  }
  {
    TiffBuilder t(true, 42, 0);
    t.put(8, std::string(20, '\0'));
    EXPECT_FALSE(r.open_bytes(t.bytes(), "z.tif", false, false));
    EXPECT_STREQ(r.message(), "Bad header - missing Image File Directory");
  }
  struct Case {
    TiffEntry entry;
    const char* message;
  };
  TiffBuilder t(false);
  const Case cases[] = {
      {t.shorts(0x8769, {100}), "Exif_IFD is not type 4 and/or has more than one value"},
      {t.longs(0x8825, {100, 200}), "GPS_IFD is not type 4 and/or has more than one value"},
      {t.shorts(0x100, {10, 20}), "Tag is missing value"},
      {t.rational(0x103, 1, 1), "Tag is missing value"},
      {t.shorts(0x102, {8, 8}), "BitsPerSample has other than 1 or 3 values"},
      {t.longs(0x102, {8, 8, 8}), "BitsPerSample has other than 16-bit values"},
      {t.rational(0x111, 1, 1), "StripOffsets type not 3 or 4"},
      {t.ascii(0x201, ""), "JPEGInterchangeFormat type not 3 or 4"},
      {t.shorts(0x14a, {100}), "SubIFD offset is not signed 32-bit number (type 4)"},
  };
  for (const Case& c : cases) {
    TiffBuilder b(false);
    b.ifd(8, {b.ascii(0x10f, "M"), c.entry}, 0, 100);
    EXPECT_FALSE(r.open_bytes(b.bytes(), "z.tif", false, false)) << c.message;
    EXPECT_STREQ(r.message(), c.message);
  }
  // Truncated in the middle of the entries.
  TiffBuilder inline_values(false);
  inline_values.ifd(8, {t.shorts(0x100, {1}), t.shorts(0x101, {1}), t.shorts(0x112, {1}),
                        t.shorts(0x115, {1}), t.shorts(0x116, {1})}, 0, 100);
  std::string cut = inline_values.bytes().substr(0, 8 + 2 + 12 * 3 + 5);
  EXPECT_FALSE(r.open_bytes(cut, "z.tif", false, false));
  EXPECT_STREQ(r.message(), "Read error - file may be short (reading entry)");
}

TEST(Reader, TenSubIFDsAreReadElevenAreTooMany) {
  for (std::uint32_t n : {10u, 11u}) {
    TiffBuilder t(false);
    std::vector<std::uint32_t> offsets;
    for (std::uint32_t i = 0; i < n; ++i) offsets.push_back(1000 + 100 * i);
    t.ifd(8, {t.longs(0x14a, offsets)}, 0, 100);
    for (std::uint32_t at : offsets) t.ifd(at, {t.shorts(0x100, {at})}, 0, at + 50);
    TV_Reader r;
    std::string dump;
    r.set_print(string_sink(dump));
    const bool ok = r.open_bytes(t.bytes(), "s.nef", false, false);
    if (n == 10) {
      ASSERT_TRUE(ok) << r.message();
      EXPECT_NE(dump.find("\nNumber of Sub IFDs: 10\n"), std::string::npos);
      EXPECT_EQ(r.image()->root->sub_ifd_count, 10);
      EXPECT_EQ(r.image()->root->sub_ifds[9]->image_width, 1900u);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_STREQ(r.message(), "Too many SubIFDs");
    }
  }
}

TEST(Reader, ValuesAreFormattedAndCut) {
  TiffBuilder t(false);
  const std::string long_text(300, 'a');
  std::vector<std::uint32_t> many;
  for (std::uint32_t i = 1; i <= 12; ++i) many.push_back(i);
  t.ifd(8,
        {t.ascii(0x10e, long_text), t.longs(0x118, many), {0x11a, 10, 1, t.u32(-5) + t.u32(2)},
         {0x11c, 8, 1, t.u16(65535)}, {0x11e, 99, 1, "abcd"}, {0x11f, 3, 0, ""}},
        0, 200);
  TV_Reader r;
  std::string dump;
  r.set_print(string_sink(dump));
  ASSERT_TRUE(r.open_bytes(t.bytes(), "v.tif", false, false)) << r.message();
  EXPECT_NE(dump.find("\tImageDescription: " + std::string(201, 'a') + "...\n"), std::string::npos);
  EXPECT_NE(dump.find("\tMinSampleValue: 1 2 3 4 5 6 7 8 9 10 11 ...\n"), std::string::npos);
  EXPECT_NE(dump.find("\tXResolution: -5/2 \n"), std::string::npos);
  EXPECT_NE(dump.find("\tPlanarConfiguration: -1 \n"), std::string::npos);
  EXPECT_NE(dump.find("Unknown type = 99\n"), std::string::npos);
  EXPECT_NE(dump.find("\tYPosition: [NULL]\n"), std::string::npos);
  EXPECT_EQ(r.image()->image_description, std::string(300, 'a').substr(0, 300));
  EXPECT_EQ(r.image()->image_description.size(), 300u);
}

TEST(Reader, OutOfOrderTagsWarnAndAreStillUsed) {
  TiffBuilder t(true);
  t.ifd(8, {t.ascii(0x110, "Second"), t.ascii(0x10f, "First")}, 0, 100);
  TV_Reader r;
  std::string dump;
  r.set_print(string_sink(dump));
  ASSERT_TRUE(r.open_bytes(t.bytes(), "o.tif", false, false)) << r.message();
  EXPECT_NE(dump.find("\nWARNING: Tags are out of order.\n"), std::string::npos);
  EXPECT_EQ(r.image()->make, "First");
  EXPECT_EQ(r.image()->model, "Second");
}

TEST(Reader, DirectoryLoopsAreNotFollowed) {
  TiffBuilder t(false);
  // IFD0's next is itself; its EXIF pointer is IFD0 again; a SubIFD points at the EXIF IFD.
  t.ifd(8, {t.ascii(0x10f, "Loop"), t.longs(0x14a, {8}), t.longs(0x8769, {8})}, 8, 100);
  TV_Reader r;
  std::string dump;
  r.set_print(string_sink(dump));
  EXPECT_TRUE(r.open_bytes(t.bytes(), "l.tif", false, false)) << r.message();
  EXPECT_NE(dump.find("was read already"), std::string::npos);
  EXPECT_TRUE(r.open_bytes(t.bytes(), "l.tif", true, true)) << r.message();
  EXPECT_EQ(r.image()->macro_pairs.size(), 1u);

  // A long chain of distinct directories stops at the depth cap.
  TiffBuilder c(false);
  for (std::uint32_t i = 0; i < 100; ++i) c.ifd(8 + 20 * i, {c.shorts(0x100, {i})}, 8 + 20 * (i + 1), 0);
  c.ifd(8 + 20 * 100, {c.shorts(0x100, {1})}, 0, 0);
  dump.clear();
  EXPECT_TRUE(r.open_bytes(c.bytes(), "c.tif", false, false)) << r.message();
  EXPECT_NE(dump.find("nested too deeply"), std::string::npos);
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
  EXPECT_EQ(strip.size(), 12u);
  EXPECT_EQ(d.read(9), false);
  EXPECT_STREQ(r.message(), "Image File Directory offset not at word boundary");
}

// A camera whose streams hand out a few bytes at a time, as slow devices do.
class TrickleCamera : public CameraSource {
 public:
  class Stream : public CameraStream {
   public:
    explicit Stream(std::string bytes) : bytes_(std::move(bytes)) {}
    long long read(void* buffer, std::size_t n) override {
      n = std::min<std::size_t>({n, 7, bytes_.size() - pos_});
      std::memcpy(buffer, bytes_.data() + pos_, n);
      pos_ += n;
      return static_cast<long long>(n);
    }
    std::uint64_t size() const override { return bytes_.size(); }

   private:
    std::string bytes_;
    std::size_t pos_ = 0;
  };
  std::vector<std::pair<std::string, std::string>> devices() override { return {}; }
  std::vector<std::string> images_for_device(const std::string&) override { return {}; }
  bool stat(const std::string& path, CameraFileInfo& info) override {
    if (path != "ptp/IMG_0001.JPG") return false;
    info.size = bytes.size();
    info.modified = 0;
    return true;
  }
  std::unique_ptr<CameraStream> open(const std::string& path) override {
    ++opened;
    if (path != "ptp/IMG_0001.JPG") return nullptr;
    return std::make_unique<Stream>(bytes);
  }
  std::string bytes;
  int opened = 0;
};

TEST(Reader, CameraImagesAreReadThroughTheCameraSource) {
  TrickleCamera camera;
  camera.bytes = test::jpeg_with_exif(camera_tiff(true), true);
  set_camera_source(&camera);
  TV_Reader r;
  EXPECT_TRUE(r.open("ptp/IMG_0001.JPG", true, true)) << r.message();
  EXPECT_EQ(value_of(r, "FNumber"), "28/10");
  EXPECT_EQ(r.extension(), "jpg");
  const std::string id = image_identity_text(r, "ptp/IMG_0001.JPG");
  EXPECT_EQ(id.substr(0, id.find('/', 1) + 1), "/" + std::to_string(camera.bytes.size()) + "/");
  EXPECT_NE(id.find("/2024:01:02 03:04:06.42/2024:01:02 09:00:00"), std::string::npos) << id;
  EXPECT_FALSE(r.is_open());  // the camera stream is closed after the identity
  EXPECT_FALSE(r.open("ptp/missing.jpg", true, true));
  EXPECT_STREQ(r.message(), "Can't open file");
  set_camera_source(nullptr);
}

TEST(Reader, TagTablesHaveNoRepeats) {
  EXPECT_EQ(tag_def().rows().size(), 242u);
  EXPECT_EQ(tag_def_EXIF().rows().size(), 42u);
  EXPECT_EQ(tag_def_GPS().rows().size(), 31u);
  EXPECT_EQ(tag_def_CRW().rows().size(), 60u);
  EXPECT_EQ(first_repeated_tag(tag_def().rows()), -1);
  const TagRow repeated[] = {{1, "a"}, {7, "b"}, {1, "c"}};
  EXPECT_EQ(first_repeated_tag(repeated), 1);
  EXPECT_EQ(tag_def().name(0x8769), "Exif IFD");
  EXPECT_EQ(tag_def().name(0x828e), "CFAPattern?");
  EXPECT_EQ(tag_def().name(0x7777), "[Tag 30583]");
  EXPECT_EQ(tag_def_GPS().name(0x1e), "GPSDifferential");
}

TEST(Reader, CaptureDateStamps) {
  EXPECT_EQ(exif_datetime_stamp("2023:07:15 14:30:00"), "20230715_143000");
  EXPECT_EQ(exif_datetime_stamp("2023:01:15 00:00:59"), "20230115_000059");
  EXPECT_EQ(exif_datetime_stamp("20010101_003635"), "20010101_003635");
  EXPECT_EQ(exif_datetime_stamp("    :  :     :  :  "), "    :  :     :  :  ");
}

}  // namespace
}  // namespace cw
