// The reader on real camera files: exiftool's values, and no crash or hang on any file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "imagefile/identity.h"
#include "imagefile/preview.h"
#include "imagefile/tv_reader.h"
#include "tests/common/test_env.h"
#include "tests/imagefile/exiftool_agreement.h"

namespace cw {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> files_in(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file() && e.path().filename() != "README.md") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(ReaderCorpus, MacroValuesAgreeWithExiftool) {
  CW_REQUIRE_CORPUS(corpus);
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  std::vector<std::string> files;
  for (const fs::path& f : files_in(corpus / "camera")) files.push_back(f.string());
  EXPECT_GT(test::compare_with_exiftool(files, false), 200);
}

// Reads one file in every mode and walks to its preview, as the program would.
void read_every_way(const std::string& bytes, const std::string& name) {
  for (int mode = 0; mode < 8; ++mode) {
    TV_Reader reader(mode & 1);
    std::string dump;
    if (mode & 4) reader.set_print(string_sink(dump));
    const bool ok = reader.open_bytes(bytes, name, mode & 1, mode & 2, mode & 4);
    EXPECT_TRUE(ok || *reader.message()) << name << " failed without a message";
    if (reader.image()) capture_datetime(*reader.image());
    PreviewChoice choice = choose_preview(reader);
    std::vector<std::uint8_t> jpeg;
    if (choice.directory && choice.jpeg) read_jpeg(reader, choice.directory, jpeg);
  }
}

TEST(ReaderCorpus, BadFilesGiveAMessageNotACrash) {
  CW_REQUIRE_CORPUS(corpus);
  for (const fs::path& f : files_in(corpus / "bad")) {
    SCOPED_TRACE(f.filename().string());
    const auto start = std::chrono::steady_clock::now();
    read_every_way(test::read_file(f), f.filename().string());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    TV_Reader reader;  // through the file source as well
    EXPECT_TRUE(reader.open(f.string(), false, false) || *reader.message());
  }
}

// Every camera file, whole and cut short at 32 places.
TEST(ReaderCorpus, TruncatedFilesGiveAMessageNotACrash) {
  CW_REQUIRE_CORPUS(corpus);
  constexpr int kCuts = 32;
  std::vector<fs::path> files = files_in(corpus / "camera");
  for (const fs::path& f : files_in(corpus / "modern")) files.push_back(f);
  for (const fs::path& f : files) {
    SCOPED_TRACE(f.filename().string());
    const std::string bytes = test::read_file(f);
    for (int i = 0; i <= kCuts; ++i) {
      const std::size_t length = bytes.size() * i / kCuts;
      const auto start = std::chrono::steady_clock::now();
      read_every_way(bytes.substr(0, length), f.filename().string());
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << length;
    }
  }
}

TEST(ReaderCorpus, CaptureIdentityAndPreviewsOfRealFiles) {
  CW_REQUIRE_CORPUS(corpus);
  TV_Reader reader;
  EXPECT_EQ(capture_identity(reader, (corpus / "camera" / "Nikon.nef").string()),
            "2004:06:09 16:02:35.00/2005:08:25 13:09:05");
  const std::string id = image_identity_text(reader, (corpus / "camera" / "Canon.jpg").string());
  // "/size/YYYY-MM-DD hh:mm:ss/capture identity"
  ASSERT_EQ(id.size(), 45u) << id;
  EXPECT_EQ(id.substr(0, 6), "/2697/");
  EXPECT_EQ(id[10], '-');
  EXPECT_EQ(id.substr(25), "/2003:12:04 06:46:52");
  const std::string writer = image_identity_text(reader, (corpus / "camera/Writer.jpg").string());
  EXPECT_EQ(writer.substr(0, 5), "/251/");
  EXPECT_NE(writer.find("[no exif time]"), std::string::npos) << writer;
}

TEST(ReaderCorpus, RawPreviewsAreTakenFromWhereTheFileKeepsThem) {
  CW_REQUIRE_CORPUS(corpus);
  // The samples' image data is cut; the preview positions are those exiftool reports
  // (JpgFromRawStart of the NEF's SubIFD, PreviewImageStart of the CR2's IFD0).
  struct Expected {
    const char* file;
    std::size_t start;
    std::size_t length;
  };
  for (const Expected& e : {Expected{"Nikon.nef", 1120, 29}, Expected{"CanonRaw.cr2", 8680, 0}}) {
    SCOPED_TRACE(e.file);
    const fs::path path = corpus / "camera" / e.file;
    TV_Reader extract(true);
    ASSERT_TRUE(extract.open(path.string(), false, false)) << extract.message();
    PreviewChoice c = choose_preview(extract);
    ASSERT_NE(c.directory, nullptr);
    EXPECT_TRUE(c.jpeg);
    std::vector<std::uint8_t> jpeg;
    ASSERT_TRUE(read_jpeg(extract, c.directory, jpeg)) << extract.message();
    if (e.length) {
      EXPECT_EQ(jpeg.size(), e.length);
    }
    const std::string bytes = test::read_file(path);
    EXPECT_EQ(std::string(jpeg.begin(), jpeg.end()), bytes.substr(e.start, jpeg.size()));
  }
}

}  // namespace
}  // namespace cw
