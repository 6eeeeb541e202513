// `cardwright macro` and `examine` from the shell.
#include <gtest/gtest.h>

#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

int run(const std::string& args, std::string* out) {
  return test::run_cardwright("macro " + args, out);
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

  // A real image gives its name, extension and EXIF values.
  test::TempDir dir;
  const std::string image = dir / "DSC_0042.JPG";
  test::write_file(image, fixtures::make_jpeg("2023:08:09 07:06:05"));
  ASSERT_EQ(run("--image '" + image + "' '{@exif.Model}|{@datetimeany}|{@filename}|{@extension}'",
                &out), 0);
  EXPECT_NE(out.find("|20230809_070605|DSC_0042|JPG\n"), std::string::npos) << out;
}

TEST(MacroCommand, TheLaboratoryAndTheExaminerSeeTheUsersSettings) {
  // A private home: the presets, vocabulary and database of this test alone.
  test::TempDir home;
  const std::string env = "XDG_DATA_HOME=" + test::sh_quote(home / "data") +
                          " XDG_CONFIG_HOME=" + test::sh_quote(home / "config");
  auto cw = [&](const std::string& args, std::string* out = nullptr) {
    return test::run_cardwright(args, out, "/dev/null", env);
  };
  ASSERT_EQ(cw("preset set Master Default FilenamePrefix KTP"), 0);
  ASSERT_EQ(cw("vocab add Keywords Dog"), 0);
  ASSERT_EQ(cw("vocab check Keywords/Dog"), 0);
  ASSERT_EQ(cw("preset set Photographer Default Creator 'by {@client.name}'"), 0);
  const std::string image = home / "card/DCIM/100/IMG_0001.JPG";
  test::write_file(image, fixtures::make_jpeg("2023:08:09 07:06:05"));
  ASSERT_EQ(cw("ingest --no-backup --client Smith --card '" + (home / "card") + "' --primary '" +
               (home / "archive") + "'"),
            0);

  std::string out;
  ASSERT_EQ(cw("macro '<{@prefix}|{@keywords}|{@filenamenew}|{@client.name}>'", &out), 0);
  EXPECT_EQ(out, "<KTP|Dog|KTP_YYYYMMDD_0001|Smith>\n");
  ASSERT_EQ(cw("macro --image '" + image + "' '{@filenamenew}'", &out), 0);
  EXPECT_EQ(out, "KTP_20230809_0001\n");  // the report alone: no EXIF listing before it
  ASSERT_EQ(cw("examine '" + image + "'", &out), 0);
  EXPECT_NE(out.find("\tIPTC.Creator: by Smith\n"), std::string::npos);
}

}  // namespace
}  // namespace cw
