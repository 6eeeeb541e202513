// CRW heaps, X3F files and the choice of embedded previews, on synthetic files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "imagefile/identity.h"
#include "imagefile/preview.h"
#include "imagefile/tv_reader.h"
#include "tests/fixtures/tiff_builder.h"
#include "tests/imagefile/dump_reader.h"

namespace cw {
namespace {

using test::DumpReader;
using fixtures::le16;
using fixtures::le32;
using ::testing::HasSubstr;

struct CrwEntry {
  std::uint16_t tag;
  std::string value;  // heap bytes, or the 8 in-entry bytes when tag has location 1
};

// A heap: the values, then the directory, then the 32-bit directory start.
std::string crw_heap(const std::vector<CrwEntry>& entries) {
  std::string values, dir = le16(static_cast<std::uint32_t>(entries.size()));
  for (const CrwEntry& e : entries) {
    if ((e.tag >> 14) == 1) {
      dir += le16(e.tag) + e.value.substr(0, 8);
      continue;
    }
    dir += le16(e.tag) + le32(static_cast<std::uint32_t>(e.value.size())) +
           le32(static_cast<std::uint32_t>(values.size()));
    values += e.value;
  }
  return values + dir + le32(static_cast<std::uint32_t>(values.size()));
}

std::string crw_file(const std::string& heap) {
  return std::string("II") + le32(26) + "HEAPCCDR" + le32(0x10002) + std::string(8, '\0') + heap;
}

TEST(Crw, NestedHeapsAreReadAndPositionsRestored) {
  // Root: an ImageProps heap (0x300a) holding an ExifInformation heap (0x300b) that holds
  // the make/model; after the sub-heap, the root's TimeStamp must still be read.
  const char make_model[] = "Canon\0Canon EOS Test";
  const std::string inner = crw_heap({{0x080a, std::string(make_model, sizeof make_model)},
                                      {0x5029, le16(0) + le16(50) + le16(0) + le16(0)}});
  const std::string middle = crw_heap({{0x300b, inner}, {0x0810, std::string("Owner\0", 6)}});
  const std::string root = crw_heap({{0x300a, middle},
                                     {0x180e, le32(1000000000) + le32(0) + le32(0)},
                                     {0x501c, le16(200) + std::string(6, '\0')}});
  DumpReader d;
  ASSERT_TRUE(d.open(crw_file(root), "a.crw", true, true)) << d.r.message();
  EXPECT_EQ(d.values({"Make", "Model", "FocalLength", "Artist", "ISOSpeedRatings",
                      "DateTimeOriginal"}),
            "Canon|Canon EOS Test|50|Owner|200|2001:09:09 01:46:40");
  EXPECT_EQ(d.r.image()->make, "Canon");

  // The dump names each heap by its tag.
  ASSERT_TRUE(d.open(crw_file(root), "a.crw")) << d.r.message();
  for (const char* text : {"\nFirst Directory Block at offset 26 (3 entries)\n",
                           "\nImageProps Directory Block at offset",
                           "\nExifInformation Directory Block at offset",
                           "\t\tCanonRawMakeModel: Canon - Canon EOS Test\n",
                           "\t\t\tDateTimeOriginal: 2001:09:09 01:46:40\n"})
    EXPECT_THAT(d.dump, HasSubstr(text));
  EXPECT_FALSE(d.r.image()->root->read(0));
  EXPECT_STREQ(d.r.message(), "TV_IFD_CRW::read not supported");
}

TEST(Crw, BadLocationsAndHeapsOutsideTheFileOrAtThemselves) {
  DumpReader d;
  for (std::uint16_t location : {2, 3}) {  // location bits 2 and 3 are invalid
    std::string heap = crw_heap({{0x0810, std::string("Owner\0", 6)}});
    heap.replace(6 + 2, 2, le16(static_cast<std::uint16_t>(location << 14 | 0x080a)));
    EXPECT_EQ(d.error(crw_file(heap), "b.crw"), "Read error - invalid DataLocation value");
  }
  // A sub-heap whose length runs past the end.
  std::string heap = crw_heap({{0x300a, crw_heap({{0x0810, std::string("X\0", 2)}})}});
  heap.replace(heap.size() - 4 - 10 + 2, 4, le32(0x7fffffff));
  EXPECT_FALSE(d.open(crw_file(heap), "c.crw"));
  EXPECT_STRNE(d.r.message(), "");
  // A sub-heap that is the root heap again is not read twice.
  std::string self = crw_heap({{0x300a, std::string(8, '\0')}});
  const std::uint32_t length = static_cast<std::uint32_t>(self.size());
  self.replace(self.size() - 4 - 10 + 2, 8, le32(length) + le32(0));
  self.replace(self.size() - 4, 4, le32(8));
  EXPECT_TRUE(d.open(crw_file(self), "d.crw")) << d.r.message();
  EXPECT_THAT(d.dump, HasSubstr("was read already"));
}

// An X3F file: header, optional PROP section, directory, directory pointer.
std::string x3f_file(bool with_prop) {
  std::string header(224, '\0');
  header.replace(0, 4, "\x01\x02\x03\x04");
  header.replace(20, 12, le32(2268) + le32(1512) + le32(90));
  header.replace(32, 8, "Sunlight");
  header[64] = 1;  // exposure adjust
  header.replace(96, 4, le32(0x3f800000));
  std::string f = "FOVb" + le16(2) + le16(1) + header, prop;
  if (with_prop) {
    const std::pair<std::string, std::string> props[] = {
        {"CAMMANUF", "SIGMA"}, {"CAMMODEL", "SIGMA SD9"}, {"ISO", "100"}, {"TIME", "978309395"}};
    std::string chars, table;
    for (const auto& [name, value] : props) {
      for (const std::string& text : {name, value}) {
        table += le32(static_cast<std::uint32_t>(chars.size() / 2));
        for (char c : text) chars += le16(static_cast<unsigned char>(c));
        chars += le16(0);
      }
    }
    prop = "SECp" + le32(0x20000) + le32(4) + le32(0) + le32(0) +
           le32(static_cast<std::uint32_t>(chars.size() / 2)) + table + chars;
  }
  const std::uint32_t prop_at = static_cast<std::uint32_t>(f.size());
  f += prop;
  const std::uint32_t dir_at = static_cast<std::uint32_t>(f.size());
  f += "SECd" + le32(0x20000) + le32(with_prop ? 2 : 1) + le32(0) + le32(8) + "IMA2";
  if (with_prop) f += le32(prop_at) + le32(static_cast<std::uint32_t>(prop.size())) + "PROP";
  return f + le32(dir_at);
}

TEST(X3f, PropertiesBecomeMacroPairsAndTheHeaderIsDumped) {
  DumpReader d;
  ASSERT_TRUE(d.open(x3f_file(true), "a.x3f", true, true)) << d.r.message();
  EXPECT_EQ(d.values({"Make", "Model", "ISOSpeedRatings", "DateTimeOriginal",
                      "DateTimeDigitized"}),
            "SIGMA|SIGMA SD9|100|20010101_003635|20010101_003635");
  EXPECT_EQ(capture_datetime(*d.r.image()), "20010101_003635");
  for (const char* text : {"File Format Version: 2.1\n", "White Balance Label: Sunlight\n",
                           "Exposure adjust: 1.000000\n", "\tCAMMODEL = SIGMA SD9\n"})
    EXPECT_THAT(d.dump, HasSubstr(text));

  // Without PROP: no pairs but a full dump.
  ASSERT_TRUE(d.open(x3f_file(false), "b.x3f", true, true)) << d.r.message();
  EXPECT_TRUE(d.r.image()->macro_pairs.empty());
  for (const char* text : {"X3F\n", "Image Columns: 2268\nImage Rows: 1512\nRotation: 90\n",
                           "Directory Section: SECd\nNumber of Entries: 1\n",
                           "Entry 0: offset: 0; length: 8; type: IMA2\n"})
    EXPECT_THAT(d.dump, HasSubstr(text));
  // A property table larger than the file is refused before anything is allocated.
  std::string big = x3f_file(true);
  big.replace(8 + 224 + 8, 4, le32(0x40000000));
  EXPECT_EQ(d.error(big, "c.x3f", true, true),
            "Read error - file may be short (reading PROP data)");
  std::string no_dir = x3f_file(false);
  no_dir.replace(no_dir.size() - 4, 4, le32(0));
  EXPECT_EQ(d.error(no_dir, "d.x3f", true, true), "Bad header - missing DirectoryPointer");
}

// NEF-like: IFD0 holds a 160 x 120 RGB thumbnail; SubIFD 1 a large JPEG, SubIFD 2 a small one.
std::string nef_like(const char* make, std::uint32_t rgb_size) {
  fixtures::TiffBuilder t(false);
  t.ifd(8,
        {t.longs(0x100, {rgb_size}), t.longs(0x101, {rgb_size * 3 / 4}), t.shorts(0x102, {8}),
         t.shorts(0x103, {1}), t.ascii(0x10f, make), t.longs(0x111, {4000}),
         t.shorts(0x115, {3}), t.longs(0x117, {57600}), t.longs(0x14a, {300, 400})},
        0, 200);
  t.ifd(300, {t.shorts(0x103, {6}), t.longs(0x201, {5000}), t.longs(0x202, {3000})}, 0, 350);
  t.ifd(400, {t.shorts(0x103, {6}), t.longs(0x201, {9000}), t.longs(0x202, {500})}, 0, 450);
  t.put(5000, "\xFF\xD8" + std::string(2996, 'J') + "\xFF\xD9");
  t.put(9000, "\xFF\xD8" + std::string(496, 'j') + "\xFF\xD9");
  t.put(12000, std::string(100, '\0'));
  return t.bytes();
}

TEST(Preview, ExtractionTakesTheLargestJpegTheThumbnailViewTheSmallRgb) {
  const std::string nef = nef_like("NIKON CORPORATION", 160);
  TV_Reader extract(true);
  ASSERT_TRUE(extract.open_bytes(nef, "a.nef", false, false)) << extract.message();
  PreviewChoice c = choose_preview(extract);
  EXPECT_TRUE(c.jpeg);
  ASSERT_EQ(c.directory, extract.image()->root->sub_ifds[0].get());
  std::vector<std::uint8_t> jpeg;
  ASSERT_TRUE(read_jpeg(extract, c.directory, jpeg)) << extract.message();
  EXPECT_EQ(std::string(jpeg.begin(), jpeg.end()), nef.substr(5000, 3000));

  TV_Reader thumbs(false);
  ASSERT_TRUE(thumbs.open_bytes(nef, "a.nef", false, false)) << thumbs.message();
  c = choose_preview(thumbs);
  EXPECT_EQ(c.directory, thumbs.image()->root.get());
  EXPECT_FALSE(c.jpeg);
  // With a large RGB image the thumbnail view takes the first JPEG instead.
  ASSERT_TRUE(thumbs.open_bytes(nef_like("NIKON", 400), "b.nef", false, false));
  c = choose_preview(thumbs);
  EXPECT_EQ(c.directory, thumbs.image()->root->sub_ifds[0].get());
  EXPECT_TRUE(c.jpeg);
}

TEST(Preview, OlympusLargeRgbOnlyHasNoPreviewAndJpegFilesAreWhole) {
  fixtures::TiffBuilder t(false);
  t.ifd(8,
        {t.longs(0x100, {3000}), t.longs(0x101, {2000}), t.shorts(0x103, {1}),
         t.ascii(0x10f, "OLYMPUS IMAGING CORP."), t.longs(0x111, {200})},
        0, 100);
  TV_Reader r(true);
  ASSERT_TRUE(r.open_bytes(t.bytes(), "a.orf", false, false)) << r.message();
  EXPECT_EQ(choose_preview(r).directory, nullptr);

  const std::string jpeg = fixtures::jpeg_with_exif(nef_like("X", 160).substr(0, 600), false);
  ASSERT_TRUE(r.open_bytes(jpeg, "b.jpg", false, false) || r.image());
  std::vector<std::uint8_t> whole;
  ASSERT_TRUE(read_jpeg(r, nullptr, whole)) << r.message();
  EXPECT_EQ(whole.size(), jpeg.size());

  // A preview that runs past the end of the file is an error, not a short buffer.
  ASSERT_TRUE(r.open_bytes(nef_like("NIKON", 160).substr(0, 6000), "c.nef", false, false))
      << r.message();
  PreviewChoice c = choose_preview(r);
  ASSERT_NE(c.directory, nullptr);
  EXPECT_FALSE(read_jpeg(r, c.directory, whole));
  EXPECT_STREQ(r.message(), "Read error - file may be short (reading value)");
}

}  // namespace
}  // namespace cw
