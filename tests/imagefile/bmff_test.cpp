// ISO base media still images (CR3, HEIF): the box walker, the readers, exiftool's agreement.
#include "imagefile/bmff.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "imagefile/identity.h"
#include "imagefile/preview.h"
#include "imagefile/tv_reader.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/bmff_builder.h"
#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/programs.h"
#include "tests/imagefile/dump_reader.h"
#include "tests/imagefile/exiftool_agreement.h"

namespace cw {
namespace {

namespace fs = std::filesystem;
using namespace fixtures;

std::string preview_of(TV_Reader& reader) {
  const PreviewChoice choice = choose_preview(reader);
  std::vector<std::uint8_t> bytes;
  if (!choice.directory || !choice.jpeg || !read_jpeg(reader, choice.directory, bytes))
    return "<none>";
  return std::string(bytes.begin(), bytes.end());
}

TEST(BoxWalker, SizesAreCheckedAgainstTheParentAndTheFile) {
  const std::string child = bmff_box("free", "abcd");
  // 64-bit size, size 0 (to the parent's end) and a uuid box nested in a uuid box.
  const std::string large = be32(1) + "wide" + be64(16 + 4) + "data";
  const std::string nested =
      bmff_uuid_box(cr3_xmp_uuid(), bmff_uuid_box(cr3_preview_uuid(), child));
  const std::string file = large + nested + be32(0) + "rest" + "tail bytes";
  auto source = make_buffer_source(file);
  BoxWalker w(*source);
  std::vector<std::string> seen;
  Box last;
  ASSERT_TRUE(w.for_each(0, file.size(), [&](const Box& b) {
    seen.push_back(fourcc_text(b.type));
    last = b;
    return true;
  })) << w.error();
  EXPECT_EQ(seen, (std::vector<std::string>{"wide", "uuid", "rest"}));
  EXPECT_EQ(last.end, file.size());
  EXPECT_EQ(last.payload_size(), 10u);
  Box outer, inner, leaf;
  ASSERT_TRUE(w.read_header(20, file.size(), outer));
  EXPECT_EQ(std::string(outer.uuid.begin(), outer.uuid.end()), cr3_xmp_uuid());
  ASSERT_TRUE(w.find(outer.payload, outer.end, "uuid", inner));
  ASSERT_TRUE(w.find(inner.payload, inner.end, "free", leaf));
  EXPECT_EQ(leaf.payload_size(), 4u);

  // Each malformed header is refused with a reason, and nothing outside the parent is read.
  struct Case {
    std::string bytes;
    const char* error;
  };
  const Case cases[] = {
      {be32(64) + "over" + "short", "box extends beyond its parent"},
      {be32(4) + "tiny", "box smaller than its header"},
      {be32(1) + "wide" + be64(UINT64_MAX), "box extends beyond its parent"},
      {be32(1) + "wide" + be64(8), "box smaller than its header"},
      {be32(20) + "uuid" + "0123456789ab", "uuid box too short"},
      {be32(9) + "cut", "box header beyond its parent"},
  };
  for (const Case& c : cases) {
    auto s = make_buffer_source(c.bytes);
    BoxWalker bad(*s);
    Box b;
    EXPECT_FALSE(bad.read_header(0, c.bytes.size(), b)) << c.error;
    EXPECT_STREQ(bad.error(), c.error);
  }
  // A child may not run past its parent even when the file goes on.
  const std::string parent = bmff_box("moov", be32(100) + "trak") + std::string(200, 'x');
  auto s = make_buffer_source(parent);
  BoxWalker walker(*s);
  Box moov, trak;
  ASSERT_TRUE(walker.read_header(0, parent.size(), moov));
  EXPECT_FALSE(walker.find(moov.payload, moov.end, "trak", trak));
  EXPECT_STREQ(walker.error(), "box extends beyond its parent");
  // The header budget ends a file made of nothing but empty boxes.
  std::string many;
  for (int i = 0; i < kMaxBoxHeaders + 10; ++i) many += be32(8) + "free";
  auto m = make_buffer_source(many);
  BoxWalker budget(*m);
  EXPECT_FALSE(budget.for_each(0, many.size(), [](const Box&) { return true; }));
  EXPECT_STREQ(budget.error(), "too many boxes");
}

TEST(Cr3Reader, FourDirectoriesPreviewsAndXmp) {
  const Cr3Spec spec = sample_cr3();
  const std::string file = build_cr3(spec);
  test::DumpReader macros;
  ASSERT_TRUE(macros.open(file, "IMG_0001.CR3", true, true)) << macros.r.message();
  const TV_Image& im = *macros.r.image();
  // Pairs named and placed as a TIFF file's: CMT1's as IFD0 values, CMT2's as the EXIF
  // directory's.
  EXPECT_EQ(macros.values({"Make", "Model", "Orientation", "DateTimeChanged", "DateTimeOriginal",
                           "DateTimeDigitized", "CameraSerialNumber", "ExposureTime"}),
            "Canon|Canon EOS R6|8|2024:05:17 10:20:30|2021:05:12 12:21:21|2024:05:17 10:20:30|"
            "083021001234|1/250");
  EXPECT_EQ(im.find_pair("DateTimeChanged")->directory, kFromIFD0);
  EXPECT_EQ(im.find_pair("DateTimeDigitized")->directory, kFromExif);
  // Maker notes and GPS give no macro values (their tags are not the EXIF directory's).
  for (const MacroPair& p : im.macro_pairs) EXPECT_NE(p.value, "Firmware Version 1.0.0");
  EXPECT_EQ(capture_datetime(im), "20210512_122121");
  EXPECT_EQ(im.model, "Canon EOS R6");
  EXPECT_EQ(im.orientation, 8u);

  // The dump shows every structure, GPS included, and the XMP packet.
  test::DumpReader dump;
  ASSERT_TRUE(dump.open(file, "IMG_0001.CR3")) << dump.r.message();
  for (const char* part : {"CMT1 (IFD0)", "CMT2 (EXIF IFD)", "CMT3 (maker notes)", "CMT4 (GPS IFD)",
                           "GPSLatitudeRef: N", "[Tag 0x0007]: Firmware Version 1.0.0",
                           "BodySerialNumber: 083021001234", "LensModel: RF24-105mm F4 L IS USM",
                           "Canon thumbnail: 160x120", "Canon preview: 1620x1080", "cr3 title"})
    EXPECT_NE(dump.dump.find(part), std::string::npos) << part;
  EXPECT_NE(dump.r.image()->root->xmp.find("cr3 title"), std::string::npos);
  ASSERT_NE(dump.r.image()->root->gps, nullptr);

  // The thumbnail view takes THMB; JPEG extraction takes the larger PRVW.
  EXPECT_EQ(preview_of(dump.r), spec.thumbnail_jpeg);
  TV_Reader largest(true);
  ASSERT_TRUE(largest.open_bytes(file, "IMG_0001.CR3", false, true, true));
  EXPECT_EQ(preview_of(largest), spec.preview_jpeg);

  // A camera without a set clock: the zero date counts as absent, the next date is taken.
  Cr3Spec unset = spec;
  unset.info.date_time_original = "0000:00:00 00:00:00";
  unset.preview_jpeg = "not a JPEG stream";  // a preview that is no JPEG is not offered
  unset.thumbnail_jpeg.clear();
  TV_Reader zero(true);
  ASSERT_TRUE(zero.open_bytes(build_cr3(unset), "x.cr3", true, true)) << zero.message();
  EXPECT_EQ(capture_datetime(*zero.image()), "20240517_102030");
  EXPECT_EQ(preview_of(zero), "<none>");

  // A damaged structure is reported; what the others hold is still read.
  std::string damaged = file;
  const std::size_t cmt2 = damaged.find("CMT2");
  damaged.replace(cmt2 + 4, 2, "XX");  // the byte-order mark of its TIFF header
  TV_Reader partial;
  EXPECT_FALSE(partial.open_bytes(damaged, "x.cr3", true, true));
  EXPECT_STREQ(partial.message(), "Bad header - invalid byte-order designation");
  ASSERT_NE(partial.image()->find_pair("Model"), nullptr);
  EXPECT_EQ(partial.image()->find_pair("DateTimeOriginal"), nullptr);

  // Every truncation gives a clear message and no crash.
  for (std::size_t n = 0; n < file.size(); n += 7) {
    TV_Reader cut(true);
    EXPECT_TRUE(cut.open_bytes(file.substr(0, n), "x.cr3", n % 2, true) || *cut.message()) << n;
    preview_of(cut);
  }
}

TEST(HeifReader, ExifAndXmpItemsInEveryLayout) {
  const CameraInfo info{
      .model = "Pixel Phone", .date_time_original = "2023:08:09 07:06:05", .orientation = 6};
  struct Layout {
    int extents;
    bool prefix, item_data;
    int location_version, entry_version;
    const char* brand;
  };
  const Layout layouts[] = {
      {1, false, false, 0, 2, "heic"},
      {1, true, false, 1, 2, "heic"},
      {4, false, false, 2, 3, "mif1"},
      {3, true, true, 1, 2, "avif"},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE(std::string(l.brand) + " extents " + std::to_string(l.extents) +
                 (l.item_data ? " idat" : "") + " iloc v" + std::to_string(l.location_version));
    const std::string file = build_heif({.brand = l.brand,
                                         .exif_tiff = build_exif_tiff(info),
                                         .exif_prefix = l.prefix,
                                         .exif_extents = l.extents,
                                         .in_item_data = l.item_data,
                                         .location_version = l.location_version,
                                         .entry_version = l.entry_version,
                                         .xmp = sample_xmp_packet("heif title")});
    test::DumpReader r;
    ASSERT_TRUE(r.open(file, "IMG_1.HEIC", true, true)) << r.r.message();
    EXPECT_EQ(r.values({"Model", "Orientation", "DateTimeOriginal"}),
              "Pixel Phone|6|2023:08:09 07:06:05");
    ASSERT_TRUE(r.open(file, "IMG_1.HEIC")) << r.r.message();
    EXPECT_NE(r.r.image()->root->xmp.find("heif title"), std::string::npos);
    EXPECT_NE(r.dump.find("EXIF Image File Directory"), std::string::npos);
    // The file's own source is back in place after the item was read from memory.
    EXPECT_EQ(r.r.source()->size(), file.size());
    EXPECT_EQ(preview_of(r.r), "<none>");
  }

  // Broken item tables: a clear message each, in bounded time.
  HeifSpec spec;
  spec.exif_tiff = build_exif_tiff(info);
  const std::string good = build_heif(spec);
  const std::size_t iloc = good.find("iloc");
  auto with = [&](std::size_t at, const std::string& bytes) {
    std::string f = good;
    f.replace(at, bytes.size(), bytes);
    return f;
  };
  const std::size_t first_extent = iloc + 8 + 2 + 2 + 2 + 2 + 2 + 4 + 2;
  struct Broken {
    std::string file;
    const char* error;
  };
  const Broken broken[] = {
      // an extent past the end of the file
      {with(first_extent, be32(0x7fffff00)), "item extent beyond the end of the file"},
      // an extent length past the end of the file
      {with(first_extent + 4, be32(0x7fffff00)), "item extent beyond the end of the file"},
      // the item stored by reference to another item (construction method 2)
      {with(iloc + 8 + 2 + 2 + 2, be16(2)), "item stored in a way not read"},
      // a located item count far beyond what the box holds
      {with(iloc + 8 + 2, be16(0xffff)), "item location box too short"},
      // an extent count beyond the cap
      {with(first_extent - 2, be16(0xffff)), "item location box too short"},
      // sizes of fields that do not exist
      {with(iloc + 4 + 4, std::string("\x33", 1)), "item location box too short"},
  };
  for (const Broken& b : broken) {
    TV_Reader r;
    EXPECT_FALSE(r.open_bytes(b.file, "x.heic", true, true));
    EXPECT_STREQ(r.message(), b.error);
  }
  for (std::size_t n = 0; n < good.size(); n += 3) {
    TV_Reader cut;
    EXPECT_TRUE(cut.open_bytes(good.substr(0, n), "x.heic", false, n % 2) || *cut.message()) << n;
  }
}

// The corpus's modern files, our CR3 and HEIC, one of heif-enc, and TIFF-based raws of today's
// cameras (ORF and RW2 change the TIFF magic number, the others keep it).
TEST(BmffCorpus, MacroValuesAgreeWithExiftool) {
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  test::TempDir dir;
  std::vector<std::string> files;
  ASSERT_TRUE(write_bytes(dir / "IMG_0001.CR3", build_cr3(sample_cr3())));
  files.push_back(dir / "IMG_0001.CR3");
  HeifSpec heif;
  heif.exif_tiff = build_exif_tiff(CameraInfo{});
  heif.exif_extents = 2;
  ASSERT_TRUE(write_bytes(dir / "written.heic", build_heif(heif)));
  files.push_back(dir / "written.heic");
  if (test::have_program("heif-enc")) {
    ASSERT_TRUE(write_bytes(dir / "in.jpg", make_jpeg(JpegSpec{})));
    ASSERT_EQ(test::run_command("heif-enc -q 40 " + test::sh_quote(dir / "in.jpg") + " -o " +
                                test::sh_quote(dir / "IMG_2000.HEIC") + " >/dev/null 2>&1"),
              0);
    test::exiftool(
        "-overwrite_original -DateTimeOriginal='2022:11:12 13:14:15' "
        "-Model='Mirrorless Body' -SerialNumber=42424242 -Orientation#=6",
        dir / "IMG_2000.HEIC");
    files.push_back(dir / "IMG_2000.HEIC");
  }
  if (auto corpus = test::corpus_dir())
    for (const auto& e : fs::directory_iterator(*corpus / "modern"))
      files.push_back(e.path().string());
  struct Raw {
    const char* extension;
    bool big;
    std::uint16_t magic;
  };
  const Raw raws[] = {{"ORF", false, 0x4f52}, {"ORF", true, 0x4f52}, {"RW2", false, 0x55},
                      {"PEF", false, 42},     {"ARW", false, 42},    {"SRW", false, 42},
                      {"NRW", false, 42},     {"3FR", false, 42},    {"ERF", true, 42},
                      {"MOS", true, 42},      {"GPR", false, 42}};
  for (const Raw& raw : raws) {
    const int n = static_cast<int>(&raw - raws);
    std::string file = build_raw_tiff(
        {.big_endian = raw.big,
         .model = std::string("Model ") + raw.extension,
         .date_time_original = "2020:0" + std::to_string(1 + n % 9) + ":15 08:09:10",
         .orientation = 1 + n % 8});
    file.replace(2, 2, raw.big ? be16(raw.magic) : le16(raw.magic));
    files.push_back(dir / ("IMG_" + std::to_string(n) + "." + raw.extension));
    ASSERT_TRUE(write_bytes(files.back(), file));
  }

  // Ten values of each raw, and those of our CR3 and HEIC at least.
  EXPECT_GE(test::compare_with_exiftool(files, true), 10 * static_cast<int>(std::size(raws)) + 15);
}

}  // namespace
}  // namespace cw
