// The examination report: macro section, structure dump and notes for unreadable files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "metadata/examine.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(Examine, ReportOfAnExifJpegAndOfAMissingFile) {
  test::TempDir dir;
  const std::string path = dir / "IMG_0001.JPG";
  test::write_file(path, fixtures::make_jpeg("2024:05:17 10:20:30"));
  MemoryMacroEnvironment env;
  env.images_from_reader = true;
  env.set_iptc(IptcPreset::Rights, "Copyright", PresetValue::of("(c) Someone"));
  bool ok = false;
  std::string r = examination_report(path, env, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(r.rfind("VALUES OF EXIF MACROS\n\n\texif.ApertureValue: ", 0), 0u) << r.substr(0, 80);
  for (const char* line : {"\texif.DateTimeOriginal: 20240517_102030\n",
                           "\texif.DateTime: 20240517_102030 [Obsolete -- use DateTimeOriginal]\n",
                           "\tDateTimeAny: 20240517_102030 [Not standard EXIF]\n",
                           "\tIPTC.Copyright: (c) Someone\n", "\nINTERNAL IMAGE FILE STRUCTURE\n\n",
                           "First Image File Directory at offset",
                           "\n[This examination did not verify actual image data.]\n"})
    EXPECT_THAT(r, HasSubstr(line));
  EXPECT_THAT(r, Not(HasSubstr("ERROR")));
  EXPECT_EQ(with_crlf("a\nb\n"), "a\r\nb\r\n");

  // A missing file still gives the macro section, then the error lines.
  r = examination_report(dir / "missing.jpg", env, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(r.rfind("VALUES OF EXIF MACROS\n\n", 0), 0u);
  EXPECT_THAT(r, HasSubstr("\nERROR: Can't open file\n"));
  EXPECT_THAT(r, HasSubstr("\n(The file may be OK, but in a format that Cardwright is unable to "
                           "interpret.)\n"));
}

}  // namespace
}  // namespace cw
