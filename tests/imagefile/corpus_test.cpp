// The reader against real camera files: values agree with exiftool, and no file of the bad
// corpus, nor any camera file cut short, can crash or hang it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "imagefile/identity.h"
#include "imagefile/preview.h"
#include "imagefile/tv_reader.h"
#include "tests/common/test_env.h"

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

// exiftool's tag names, the macro names that carry the same tags, and the standard tag
// numbers (makers reuse some names for their own tags).
struct Compared {
  const char* tool;
  const char* macro;
  int tag;
};
const Compared kCompared[] = {
    {"Make", "Make", 0x10f}, {"Model", "Model", 0x110},
    {"DateTimeOriginal", "DateTimeOriginal", 0x9003}, {"CreateDate", "DateTimeDigitized", 0x9004},
    {"ModifyDate", "DateTimeChanged", 0x132}, {"ExposureTime", "ExposureTime", 0x829a},
    {"FNumber", "FNumber", 0x829d}, {"ISO", "ISOSpeedRatings", 0x8827},
    {"FocalLength", "FocalLength", 0x920a}, {"Orientation", "Orientation", 0x112},
};

// A value of ours ("n/d" for rationals) as a number; false when it is not numeric.
bool as_number(const std::string& text, double& value) {
  double n = 0, d = 1;
  char slash = 0, rest = 0;
  const int got = std::sscanf(text.c_str(), "%lf%c%lf%c", &n, &slash, &d, &rest);
  if (got != 1 && (got != 3 || slash != '/' || d == 0)) return false;
  value = n / d;
  return true;
}

// file -> (our macro name -> exiftool's first value found in IFD0 or the EXIF directory)
std::map<std::string, std::map<std::string, std::string>> exiftool_values(
    const std::vector<fs::path>& files) {
  std::string command = "exiftool -n -G1:3 -D -a -s -f";
  for (const Compared& c : kCompared) command += std::string(" -") + c.tool;
  for (const fs::path& f : files) command += " '" + f.string() + "'";
  std::string output;
  test::run_command(command + " 2>/dev/null", &output);
  std::map<std::string, std::map<std::string, std::string>> result;
  std::istringstream in(output);
  std::string line, current = files.size() == 1 ? files[0].string() : "";
  // "[IFD0:Main]  271 Make  : Canon": group, document (Main, not an embedded preview),
  // tag number, name, value.
  while (std::getline(in, line)) {
    if (line.rfind("======== ", 0) == 0) {
      current = line.substr(9);
      continue;
    }
    const std::size_t colon = line.find(" : ");
    if (line.rfind("[", 0) != 0 || colon == std::string::npos) continue;
    std::istringstream fields(line.substr(0, colon));
    std::string group, name;
    int number = -1;
    fields >> group >> number >> name;
    const std::string value = line.substr(colon + 3);
    if ((group != "[IFD0:Main]" && group != "[ExifIFD:Main]") || value == "-") continue;
    for (const Compared& c : kCompared)
      if (name == c.tool && number == c.tag) result[current].emplace(c.macro, value);  // first wins
  }
  return result;
}

TEST(ReaderCorpus, MacroValuesAgreeWithExiftool) {
  CW_REQUIRE_CORPUS(corpus);
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  const std::vector<fs::path> files = files_in(corpus / "camera");
  auto expected = exiftool_values(files);
  ASSERT_FALSE(expected.empty()) << "exiftool gave no values";
  int compared = 0;
  for (const fs::path& f : files) {
    SCOPED_TRACE(f.filename().string());
    TV_Reader reader;
    const bool ok = reader.open(f.string(), true, true);
    const auto& theirs = expected[f.string()];
    EXPECT_TRUE(ok || theirs.empty()) << reader.message();
    for (const auto& [macro, value] : theirs) {
      const MacroPair* ours = reader.image()->find_pair(macro);
      ASSERT_NE(ours, nullptr) << macro << " missing; exiftool gives " << value;
      double a = 0, b = 0;
      if (as_number(value, b) && macro != "Make" && macro != "Model") {
        ASSERT_TRUE(as_number(ours->value, a)) << macro << " = " << ours->value;
        EXPECT_NEAR(a, b, 1e-6 * std::max(1.0, std::fabs(b))) << macro << " = " << ours->value;
      } else {
        EXPECT_EQ(ours->value, value) << macro;
      }
      ++compared;
    }
  }
  EXPECT_GT(compared, 200);
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

TEST(ReaderCorpus, TruncatedFilesGiveAMessageNotACrash) {
  CW_REQUIRE_CORPUS(corpus);
  constexpr int kCuts = 32;
  for (const fs::path& f : files_in(corpus / "camera")) {
    SCOPED_TRACE(f.filename().string());
    const std::string bytes = test::read_file(f);
    for (int i = 0; i < kCuts; ++i) {
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
