// Naming through the command-line program: the shipped formats on real camera files, formats
// and notes given as options, and `examine` of a file it cannot read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_card.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using ::testing::HasSubstr;

using test::sh_quote;

struct NamingCli : ::testing::Test {
  test::TempDir dir;
  std::string card = dir / "card", archive = dir / "archive";
  int run(const std::string& args, std::string* out = nullptr) {
    return test::run_cardwright(args, out, dir / "stderr");
  }
  int ingest(const std::string& primary, const std::string& options, std::string* out) {
    return run("ingest --no-backup --card " + sh_quote(card) + " --primary " + sh_quote(primary) +
                   options,
               out);
  }
};

TEST_F(NamingCli, ShippedFormatsNameRealCameraFilesByCaptureDate) {
  CW_REQUIRE_CORPUS(corpus);
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  const char* files[] = {"Canon.jpg", "Panasonic.rw2", "DSC_3079.jpg", "IMG_1361.dng"};
  fsys::create_directories(card + "/DCIM/100");
  for (const char* f : files) fsys::copy_file(corpus / "camera" / f, card + "/DCIM/100/" + f);
  std::string out;
  ASSERT_EQ(ingest(archive, "", &out), 0) << out;
  for (const std::string name : files) {
    std::string d;  // YYYYMMDD
    ASSERT_EQ(test::run_command("exiftool -s3 -d %Y%m%d -DateTimeOriginal " +
                                sh_quote(card + "/DCIM/100/" + name), &d), 0);
    const std::size_t dot = name.rfind('.');
    const std::string expected = archive + "/" + d.substr(0, 4) + "/" + d.substr(4, 2) + "/" +
                                 d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) +
                                 "/IMG_" + d.substr(0, 8) + "_" + name.substr(dot - 4);
    EXPECT_TRUE(fsys::exists(expected)) << expected;
  }
}

TEST_F(NamingCli, FormatsAndNotesFromTheCommandLineAndRangeFolders) {
  ASSERT_EQ(fixtures::write_sample_card(card, fixtures::jpeg_card(5)).size(), 5u);
  std::string out;
  ASSERT_EQ(ingest(archive, " --folder-format 'Shoot/{@numberrange}' --partition-size 2"
                            " --name-format '{@notes,1,-1,_}{@exif.Model}:{@sequence}'"
                            " --notes ' Day 1 ' --starting-number 7 --number-source 2", &out), 0)
      << out;
  EXPECT_THAT(out, HasSubstr("\nNumber range: 7 through 11\n"));
  for (const char* image : {"0007-0008/Day 1_Test Camera 1-000007.JPG",
                            "0007-0008/Day 1_Test Camera 1-000008.JPG",
                            "0009-0010/Day 1_Test Camera 1-000010.JPG",
                            "0011-0011/Day 1_Test Camera 1-000011.JPG"})
    EXPECT_TRUE(fsys::exists(archive + "/Shoot/" + image)) << image;

  // With --json, standard output holds the JSON line alone, and the destination it names is
  // the range folder's final name.
  ASSERT_EQ(ingest(dir / "json", " --json --folder-format 'Shoot/{@numberrange}' --partition-size 2"
                                 " --starting-number 7 --number-source 2", &out), 0);
  EXPECT_EQ(out.rfind("{\"success\": true", 0), 0u) << out;
  EXPECT_THAT(out, HasSubstr("\"destination_folder\": \"" + dir / "json/Shoot/0011-0011\", "));
  EXPECT_THAT(out, ::testing::EndsWith("}\n"));
}

// The report's failure (its text is the examination test's) becomes the exit status.
TEST_F(NamingCli, ExamineOfAFileItCannotReadFails) {
  std::string out;
  EXPECT_EQ(run("examine " + sh_quote(dir / "missing.jpg"), &out), 1);
  EXPECT_EQ(run("examine", &out), 2);
}

}  // namespace
}  // namespace cw
