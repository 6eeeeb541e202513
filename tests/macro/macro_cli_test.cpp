// `cardwright macro`: the laboratory's sample data, a real image's values, the reference
// text, options and exits.
#include <gtest/gtest.h>

#include "tests/common/test_env.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

int run(const std::string& args, std::string* out) {
  return test::run_command(test::built_program("app/cardwright") + " macro " + args + " 2>&1", out);
}

TEST(MacroCommand, ExpandsWithSampleDataAndOptions) {
  std::string out;
  EXPECT_EQ(run("'{@prefix,1,-1,_}{@datetimeany,1,8}_{@filename,-4}.{@extension} {@notes}'",
                &out), 0);
  EXPECT_EQ(out, "IMG_YYYYMMDD_0001.NEF \n");  // spaces before an empty value stay
  EXPECT_EQ(run("--xml --notes 'a&b' --set FilenamePrefix=KTP --iptc 'People=Ann; Bob' "
                "--keyword 'Animals|Dog' '{@prefix}:{@notes}:{@iptc.people}:{@keywords}'",
                &out), 0);
  EXPECT_EQ(out, "KTP:a&amp;b:Ann</rdf:li><rdf:li>Bob:Animals|Dog\n");
  EXPECT_EQ(run("--reference", &out), 0);
  for (const char* line : {"Simple Macros\n", "\tNumberRange: 0420-0511\n",
                           "\tDateTimeMonth (month of file): September\n",
                           "\tSequence, 5 digit: 23456\n", "\tFilenameNew: IMG_YYYYMMDD_0001\n",
                           "\tKTP_YYYY-MM-DD hh:mm:ss_0001\n", "\tSerialNumber: [serialnumber]\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line;
  EXPECT_EQ(out.find("{@"), std::string::npos);

  // A real image gives its name, extension and EXIF values.
  test::TempDir dir;
  const std::string image = dir / "DSC_0042.JPG";
  test::write_file(image, fixtures::make_jpeg("2023:08:09 07:06:05"));
  ASSERT_EQ(run("--image '" + image + "' '{@exif.Model}|{@datetimeany}|{@filename}|{@extension}'",
                &out), 0);
  EXPECT_NE(out.find("|20230809_070605|DSC_0042|JPG\n"), std::string::npos) << out;
}

TEST(MacroCommand, ExitStatus) {
  std::string out;
  EXPECT_EQ(run("", &out), 2);
  EXPECT_EQ(run("--reference x", &out), 2);
  EXPECT_EQ(run("--bogus x", &out), 2);
  EXPECT_EQ(run("--set novalue x", &out), 2);
  EXPECT_EQ(run("--help", &out), 0);
  // An image that cannot be read is refused with the reason.
  EXPECT_EQ(run("--image /nonexistent.jpg x", &out), 1);
  EXPECT_NE(out.find("cannot read /nonexistent.jpg"), std::string::npos) << out;
}

}  // namespace
}  // namespace cw
