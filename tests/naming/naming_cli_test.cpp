// The command-line program: images and folders named by the shipped formats from real
// camera files' capture dates, formats and notes given on the command line with number-range
// folders renamed after the run, `examine` on every corpus file, and `macro --image`.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/common/test_env.h"
#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/sample_card.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::built_program;
using test::run_command;
using test::TempDir;

std::string sh_quote(const std::string& s) {
  std::string out(1, '\'');
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

struct NamingCli : ::testing::Test {
  TempDir dir;
  std::string program = built_program("app/cardwright");
  std::string card = dir / "card", archive = dir / "archive";
  int run(const std::string& args, std::string* out = nullptr) {
    return run_command(sh_quote(program) + " " + args + " 2>" + sh_quote(dir / "stderr"), out);
  }
  bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
};

TEST_F(NamingCli, ShippedFormatsNameRealCameraFilesByCaptureDate) {
  CW_REQUIRE_CORPUS(corpus);
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  const char* files[] = {"Canon.jpg", "Nikon.nef", "DSC_3079.jpg", "IMG_1361.dng"};
  fsys::create_directories(card + "/DCIM/100");
  for (const char* f : files)
    fsys::copy_file(corpus / "camera" / f, card + "/DCIM/100/" + f);
  std::string out;
  ASSERT_EQ(run("ingest --no-backup --card " + sh_quote(card) + " --primary " + sh_quote(archive), &out), 0)
      << out;
  for (const char* f : files) {
    std::string date;
    ASSERT_EQ(run_command("exiftool -s3 -d %Y%m%d -DateTimeOriginal " +
                              sh_quote(card + "/DCIM/100/" + f),
                          &date),
              0);
    date = date.substr(0, 8);
    const std::string name = f, base = name.substr(0, name.rfind('.'));
    const std::string expected = archive + "/" + date.substr(0, 4) + "/" + date.substr(4, 2) +
                                 "/" + date.substr(0, 4) + "-" + date.substr(4, 2) + "-" +
                                 date.substr(6, 2) + "/IMG_" + date + "_" +
                                 base.substr(base.size() - 4) + name.substr(name.rfind('.'));
    EXPECT_TRUE(fsys::exists(expected)) << expected;
  }
}

TEST_F(NamingCli, FormatsAndNotesFromTheCommandLineAndRangeFolders) {
  fixtures::CardSpec spec;
  spec.count = 5;
  spec.raw_every = 0;
  ASSERT_EQ(fixtures::write_sample_card(card, spec).size(), 5u);
  std::string out;
  ASSERT_EQ(run("ingest --no-backup --card " + sh_quote(card) + " --primary " + sh_quote(archive) +
                    " --folder-format 'Shoot/{@numberrange}' --partition-size 2"
                    " --name-format '{@notes,1,-1,_}{@exif.Model}:{@sequence}' --notes ' Day 1 '"
                    " --starting-number 7 --number-source 2",
                &out),
            0)
      << out;
  EXPECT_TRUE(has(out, "\nNumber range: 7 through 11\n")) << out;
  EXPECT_TRUE(fsys::exists(archive + "/Shoot/0007-0008/Day 1_Test Camera 1-000007.JPG"));
  EXPECT_TRUE(fsys::exists(archive + "/Shoot/0007-0008/Day 1_Test Camera 1-000008.JPG"));
  EXPECT_TRUE(fsys::exists(archive + "/Shoot/0009-0010/Day 1_Test Camera 1-000010.JPG"));
  EXPECT_TRUE(fsys::exists(archive + "/Shoot/0011-0011/Day 1_Test Camera 1-000011.JPG"));
  EXPECT_FALSE(fsys::exists(archive + "/Shoot/#NNN-0000"));

  // With --json, standard output holds the JSON line alone.
  ASSERT_EQ(run("ingest --json --no-backup --card " + sh_quote(card) + " --primary " + sh_quote(dir / "json"),
                &out),
            0);
  EXPECT_EQ(out.rfind("{\"success\": true", 0), 0u) << out;

  // Text right after the number-range macro fails the run with the report line.
  EXPECT_EQ(run("ingest --no-backup --card " + sh_quote(card) + " --primary " + sh_quote(dir / "other") +
                    " --folder-format '{@numberrange}x'",
                &out),
            1);
  EXPECT_TRUE(has(out, "ERROR: Text appears after {@numberrange} macro.")) << out;
  EXPECT_TRUE(has(out, "can't make image folder path")) << out;
}

TEST_F(NamingCli, ExamineEveryCorpusFileAndAJfifOnlyJpeg) {
  fixtures::JpegSpec spec;
  spec.jfif = true;
  const std::string jfif = dir / "plain.jpg";
  test::write_file(jfif, fixtures::make_jpeg(spec));
  std::string out;
  EXPECT_EQ(run("examine " + sh_quote(jfif), &out), 1);
  EXPECT_TRUE(has(out, "\nERROR: Bad header - invalid byte-order designation\n")) << out;
  EXPECT_TRUE(has(out, "(The file may be OK, but in a format that Cardwright is unable to "
                       "interpret.)"));
  EXPECT_EQ(run("examine", &out), 2);

  CW_REQUIRE_CORPUS(corpus);
  int files = 0;
  for (const auto& e : fsys::recursive_directory_iterator(corpus)) {
    if (!e.is_regular_file() || e.path().extension() == ".md") continue;
    ++files;
    int status = run("examine " + sh_quote(e.path().string()), &out);
    EXPECT_TRUE(status == 0 || status == 1) << e.path() << " exit " << status;
    EXPECT_TRUE(has(out, "VALUES OF EXIF MACROS\n\n\texif.ApertureValue:")) << e.path();
    EXPECT_TRUE(has(out, "\nINTERNAL IMAGE FILE STRUCTURE\n\n")) << e.path();
    EXPECT_TRUE(status == 0 ? has(out, "[This examination did not verify actual image data.]")
                            : has(out, "\nERROR: ")) << e.path();
  }
  EXPECT_GT(files, 30);
}

TEST_F(NamingCli, MacroLaboratoryReadsARealImage) {
  const std::string image = dir / "DSC_0042.JPG";
  test::write_file(image, fixtures::make_jpeg("2023:08:09 07:06:05"));
  std::string out;
  ASSERT_EQ(run("macro --image " + sh_quote(image) +
                    " '{@exif.Model}|{@datetimeany}|{@filename}|{@extension}'",
                &out),
            0);
  EXPECT_TRUE(has(out, "|20230809_070605|DSC_0042|JPG\n")) << out;
  EXPECT_EQ(run("macro --image " + sh_quote(dir / "missing.jpg") + " x", &out), 1);
}

}  // namespace
}  // namespace cw
