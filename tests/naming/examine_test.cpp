// The examination report: macro section, structure dump and the notes for unreadable files.
#include <gtest/gtest.h>

#include "imagefile/examine.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

using test::TempDir;

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

constexpr const char* kMayBeOk =
    "\n(The file may be OK, but in a format that Cardwright is unable to interpret.)\n";

TEST(Examine, ReportOfAnExifJpeg) {
  TempDir dir;
  const std::string path = dir / "IMG_0001.JPG";
  test::write_file(path, fixtures::make_jpeg("2024:05:17 10:20:30"));
  MemoryMacroEnvironment env;
  env.images_from_reader = true;
  env.set_iptc(IptcPreset::Rights, "Copyright", PresetValue::of("(c) Someone"));
  bool ok = false;
  std::string r = examination_report(path, env, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(r.rfind("VALUES OF EXIF MACROS\n\n\texif.ApertureValue: ", 0), 0u) << r.substr(0, 80);
  EXPECT_TRUE(has(r, "\texif.DateTimeOriginal: 20240517_102030\n")) << r;
  EXPECT_TRUE(has(r, "\texif.DateTime: 20240517_102030 [Obsolete -- use DateTimeOriginal]\n"));
  EXPECT_TRUE(has(r, "\tDateTimeAny: 20240517_102030 [Not standard EXIF]\n"));
  EXPECT_TRUE(has(r, "\tIPTC.Copyright: (c) Someone\n"));
  EXPECT_TRUE(has(r, "\nINTERNAL IMAGE FILE STRUCTURE\n\n"));
  EXPECT_TRUE(has(r, "First Image File Directory at offset"));
  EXPECT_TRUE(has(r, "\n[This examination did not verify actual image data.]\n"));
  EXPECT_FALSE(has(r, "ERROR"));

  // The list of IPTC fields names DateCreated twice.
  const std::string& text = examination_macro_text();
  std::size_t first = text.find("\tIPTC.DateCreated: {@IPTC.DateCreated}\n");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(text.find("\tIPTC.DateCreated: {@IPTC.DateCreated}\n", first + 1), std::string::npos);
  EXPECT_EQ(with_crlf("a\nb\n"), "a\r\nb\r\n");
}

TEST(Examine, UnreadableFilesStillGiveTheMacroSectionAndTheErrorLines) {
  TempDir dir;
  fixtures::JpegSpec spec;
  spec.jfif = true;
  const std::string jfif = dir / "plain.jpg";
  test::write_file(jfif, fixtures::make_jpeg(spec));
  MemoryMacroEnvironment env;
  env.images_from_reader = true;
  bool ok = true;
  std::string r = examination_report(jfif, env, &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(has(r, "\texif.Model: \n"));
  EXPECT_TRUE(has(r, "JFIF")) << r;
  EXPECT_TRUE(has(r, "\nERROR: Bad header - invalid byte-order designation\n")) << r;
  EXPECT_TRUE(has(r, kMayBeOk));

  r = examination_report(dir / "missing.jpg", env, &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(has(r, "VALUES OF EXIF MACROS\n\n"));
  EXPECT_TRUE(has(r, "\nERROR: Can't open file\n")) << r;
  EXPECT_TRUE(has(r, kMayBeOk));
}

}  // namespace
}  // namespace cw
