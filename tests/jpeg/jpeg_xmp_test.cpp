// XMP merged into JPEGs, and JPEGs written with EXIF and XMP, read back by exiftool.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "foundation/md5.h"
#include "metadata/jpeg_xmp.h"
#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

namespace fs = std::filesystem;
using fixtures::JpegSpec;
using test::captured_ui;
using test::exiftool;
using test::read_file;
using test::TempDir;
using test::write_file;

// XMP APP1 segments of a JPEG's head, as (position, packet).
std::vector<std::pair<std::size_t, std::string>> xmp_segments(const std::string& jpeg) {
  std::vector<std::pair<std::size_t, std::string>> found;
  for (const auto& s : fixtures::jpeg_head_segments(jpeg))
    if (s.marker == 0xE1 && jpeg.compare(s.pos + 4, 29, fixtures::kXmpApp1Id) == 0)
      found.emplace_back(s.pos, jpeg.substr(s.pos + 4 + 29, s.size - 4 - 29));
  return found;
}

std::size_t first_marker(const std::string& jpeg, unsigned char marker) {
  for (const auto& s : fixtures::jpeg_head_segments(jpeg))
    if (s.marker == marker) return s.pos;
  return std::string::npos;
}

// Writes `jpeg` to `path` with the recorded EXIF entries and the sidecar's XMP, unbuffered.
bool write_with_metadata(const std::string& path, const std::string& jpeg,
                         const std::vector<RecordedExifEntry>& entries,
                         const std::string& sidecar, std::string& message) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  std::setvbuf(out, nullptr, _IONBF, 0);
  const bool ok = write_jpeg_with_metadata(out, reinterpret_cast<const unsigned char*>(jpeg.data()),
                                           jpeg.size(), entries, message, sidecar);
  std::fclose(out);
  return ok;
}

class JpegXmp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
    captured_ui().clear();
  }
  // A camera JPEG (JFIF, EXIF, a comment, maybe old XMP) modified well in the past.
  std::string make(const std::string& name, bool big_endian, const std::string& old_xmp = "") {
    const JpegSpec spec{.jfif = true,
                        .exif = fixtures::CameraInfo{.big_endian = big_endian},
                        .xmp = old_xmp,
                        .comment = "written by a test"};
    const std::string path = dir / name;
    EXPECT_TRUE(fixtures::write_with_time(path, fixtures::make_jpeg(spec), 1600000000));
    return path;
  }
  TempDir dir;
};

TEST_F(JpegXmp, MergedJpegHoldsExactlyTheSidecarsPacketAndKeepsExif) {
  for (bool big_endian : {false, true}) {
    for (bool had_xmp : {false, true}) {
      const std::string jpg =
          make("IMG_0001.JPG", big_endian, had_xmp ? fixtures::sample_xmp_packet("Old title") : "");
      const std::string sidecar = dir / "IMG_0001.xmp";
      const std::string packet = fixtures::sample_xmp_packet("Harbour at dawn");
      write_file(sidecar, packet);
      const std::string exif_before = exiftool("-EXIF:all -j -G", jpg);
      ASSERT_NE(exif_before.find("\"EXIF:Model\": \"Test Camera 1\""), std::string::npos)
          << exif_before;
      const std::string validate_before = exiftool("-validate -warning -a", jpg);
      const std::string original = read_file(jpg);

      ASSERT_TRUE(merge_xmp_into_jpeg(jpg)) << captured_ui().pane;
      const std::string merged = read_file(jpg);
      auto packets = xmp_segments(merged);
      ASSERT_EQ(packets.size(), 1u);
      EXPECT_EQ(packets[0].second, packet);
      EXPECT_EQ(exiftool("-b -XMP", jpg), packet);
      EXPECT_EQ(exiftool("-EXIF:all -j -G", jpg), exif_before);
      // The merge adds no structural complaint of its own.
      EXPECT_EQ(exiftool("-validate -warning -a", jpg), validate_before);
      // Goes right before the first table, after APP0, EXIF and the comment.
      EXPECT_LT(first_marker(merged, 0xFE), packets[0].first);
      EXPECT_EQ(packets[0].first + packets[0].second.size() + 33, first_marker(merged, 0xDB));
      // The image data after the insertion point is unchanged.
      const std::size_t dqt_old = first_marker(original, 0xDB);
      EXPECT_EQ(merged.substr(first_marker(merged, 0xDB)), original.substr(dqt_old));
      EXPECT_EQ(fixtures::mtime_of(jpg), 1600000000);
      EXPECT_FALSE(fs::exists(sidecar));
      EXPECT_FALSE(fs::exists(jpg + "-cwtmp"));
      EXPECT_EQ(test::run_command("djpeg -outfile /dev/null '" + jpg + "'"), 0);
    }
  }
}

TEST_F(JpegXmp, EmptyOrMissingSidecar) {
  // Empty sidecar: the old packet goes and nothing replaces it; the sidecar is deleted.
  const std::string jpg = make("a.jpg", false, fixtures::sample_xmp_packet("Old"));
  write_file(dir / "a.xmp", "");
  ASSERT_TRUE(merge_xmp_into_jpeg(jpg));
  EXPECT_TRUE(xmp_segments(read_file(jpg)).empty());
  EXPECT_FALSE(fs::exists(dir / "a.xmp"));
  // No sidecar: nothing happens.
  const std::string before = read_file(jpg);
  EXPECT_TRUE(merge_xmp_into_jpeg(jpg));
  EXPECT_EQ(read_file(jpg), before);
  EXPECT_EQ(captured_ui().pane, "");
  // A sidecar beside no JPEG: reported, and the sidecar stays.
  write_file(dir / "lone.xmp", "x");
  EXPECT_FALSE(merge_xmp_into_jpeg(dir / "lone.jpg"));
  EXPECT_EQ(captured_ui().pane, "\n\nJPG or XMP file does not exist");
  EXPECT_TRUE(fs::exists(dir / "lone.xmp"));
  EXPECT_FALSE(fs::exists(dir / "lone.jpg"));
}

TEST_F(JpegXmp, BadInputLeavesTheOriginalUntouched) {
  const std::string good = read_file(make("good.jpg", false));
  const std::size_t dqt = first_marker(good, 0xDB);
  struct Case {
    std::string bytes, message;
  } cases[] = {
      {"GIF89a not a jpeg", "\n\nExpected SOI marker first"},
      {good.substr(0, 40), "\n\nPremature EOF in JPEG file"},
      {good.substr(0, dqt - 3), "\n\nPremature EOF in JPEG file"},
      {good.substr(0, 2) + "xy" + good.substr(2), "\n\ngarbage data found in JPEG file\n"},
      {good.substr(0, 2) + std::string("\xFF\xE0\x00\x01", 4) + good.substr(2), "\n\nErroneous JPEG marker length"},
      {good.substr(0, 2) + std::string("\xFF\xDA\x00\x08", 4) + good.substr(2), "\n\nSOS without prior SOFn"},
  };
  for (const Case& c : cases) {
    captured_ui().clear();
    const std::string jpg = dir / "bad.jpg";
    write_file(jpg, c.bytes);
    write_file(dir / "bad.xmp", "<x/>");
    EXPECT_FALSE(merge_xmp_into_jpeg(jpg));
    EXPECT_EQ(captured_ui().pane, c.message);
    EXPECT_EQ(read_file(jpg), c.bytes);
    EXPECT_TRUE(fs::exists(dir / "bad.xmp"));
    EXPECT_FALSE(fs::exists(jpg + "-cwtmp"));
  }
}

TEST_F(JpegXmp, FullDiskLeavesTheOriginalUntouched) {
  const std::string jpg = make("full.jpg", false);
  const std::string before = read_file(jpg);
  ASSERT_GT(before.size(), 1024u);
  write_file(dir / "full.xmp", fixtures::sample_xmp_packet("Never written"));
  // A child process whose file-size limit stops writes part-way, as a full disk would.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {1024, 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    captured_ui().clear();
    const bool ok = merge_xmp_into_jpeg(jpg);
    _exit(!ok && captured_ui().pane == "\n\nwrite error - possibly out of space" ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(read_file(jpg) == before);
  EXPECT_EQ(fixtures::mtime_of(jpg), 1600000000);
  EXPECT_TRUE(fs::exists(dir / "full.xmp"));
  EXPECT_FALSE(fs::exists(jpg + "-cwtmp"));
}

TEST_F(JpegXmp, WriterEmbedsRecordedExifAndSidecar) {
  const std::string data = fixtures::make_jpeg(JpegSpec{.width = 160, .height = 120});
  const std::vector<RecordedExifEntry> entries = {
      {"Make", "Cardwright", 0x10F, 2, 11, 0, 1},
      {"Model", "Test Camera 1", 0x110, 2, 14, 0, 1},
      {"Orientation", "6", 0x112, 3, 1, 6, 1},
      {"StripOffsets", "4242", 0x111, 4, 1, 4242, 1},
      {"Artist", "", 0x13B, 2, 1, 0, 1},
      {"GPSInfo", "2000", 0x8825, 4, 1, 2000, 1},
      {"Copyright", "(c) Someone", 0x8298, 2, 12, 0, 1},
      {"ExposureTime", "1/250", 0x829A, 5, 1, 1, 2},
      {"FNumber", "28/10", 0x829D, 5, 1, 28, 2},
      {"ISOSpeedRatings", "400", 0x8827, 3, 1, 400, 2},
      {"DateTimeOriginal", "2024:05:17 10:20:30", 0x9003, 2, 20, 0, 2},
      {"ExposureBiasValue", "-1/3", 0x9204, 10, 1, 0, 2},
      {"MakerNote", "...", 0x927C, 7, 100, 0, 2},
      {"LensSpecification", "24/1 70/1 28/10 28/10", 0xA432, 5, 4, 24, 2},
  };
  write_file(dir / "side.xmp", fixtures::sample_xmp_packet("From the raw"));
  const std::string out_path = dir / "out.jpg";
  std::string message;
  auto write = [&](const std::string& path, const std::string& sidecar) {
    return write_with_metadata(path, data, entries, sidecar, message);
  };
  // The entries' values come from a card: nothing of them reaches the terminal.
  testing::internal::CaptureStdout();
  const bool ok = write(out_path, dir / "side.xmp");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_TRUE(ok) << message;
  const std::string tags = exiftool("-j -n -G -EXIF:all -XMP:Title", out_path);
  for (const char* expected :
       {"\"EXIF:Make\": \"Cardwright\"", "\"EXIF:Model\": \"Test Camera 1\"",
        "\"EXIF:Orientation\": 6", "\"EXIF:Copyright\": \"(c) Someone\"",
        "\"EXIF:ExposureTime\": 0.004", "\"EXIF:FNumber\": 2.8", "\"EXIF:ISO\": 400",
        "\"EXIF:DateTimeOriginal\": \"2024:05:17 10:20:30\"",
        "\"EXIF:ExposureCompensation\": -0.3333333333",
        "\"EXIF:LensInfo\": \"24 70 2.8 2.8\"", "\"XMP:Title\": \"From the raw\""})
    EXPECT_NE(tags.find(expected), std::string::npos) << expected << "\n" << tags;
  for (const char* absent : {"StripOffsets", "GPS", "Artist", "MakerNote", "Warning"})
    EXPECT_EQ(tags.find(absent), std::string::npos) << absent << "\n" << tags;
  const std::string written = read_file(out_path);
  EXPECT_EQ(written.substr(written.size() - (data.size() - 2)), data.substr(2));
  EXPECT_EQ(test::run_command("djpeg -outfile /dev/null '" + out_path + "'"), 0);

  // Without a readable sidecar there is no XMP segment; a failing stream gives the message.
  ASSERT_TRUE(write(out_path, dir / "none.xmp")) << message;
  EXPECT_TRUE(xmp_segments(read_file(out_path)).empty());
  EXPECT_FALSE(write("/dev/full", ""));
  EXPECT_EQ(message, "Error writing JPEG file (1).");
}

// A sidecar larger than one segment goes in as an extended packet, in merges and in extracted
// previews; a later merge of a small sidecar leaves no piece of it behind.
TEST(JpegXmpExtended, LargeSidecarRoundTrips) {
  TempDir dir;
  const std::string jpg = dir / "IMG_0002.JPG";
  ASSERT_TRUE(fixtures::write_with_time(
      jpg, fixtures::make_jpeg(JpegSpec{.exif = fixtures::CameraInfo{}}), 1600000000));
  std::string title;
  for (int i = 0; title.size() < 100 * 1024; ++i) title += "keyword " + std::to_string(i) + "; ";
  title += "end";
  const std::string packet = fixtures::sample_xmp_packet(title);
  write_file(dir / "IMG_0002.xmp", packet);

  ASSERT_TRUE(merge_xmp_into_jpeg(jpg)) << captured_ui().pane;
  EXPECT_FALSE(fs::exists(dir / "IMG_0002.xmp"));
  EXPECT_FALSE(fs::exists(jpg + "-cwtmp"));
  const std::optional<JpegXmpPackets> read = read_jpeg_xmp(jpg);
  ASSERT_TRUE(read);
  const std::string extended = packet.substr(packet.find("<x:xmpmeta"),
                                             packet.rfind("</x:xmpmeta>") + 12 - packet.find("<x:xmpmeta"));
  EXPECT_EQ(read->extended, extended);
  EXPECT_NE(read->main.find("xmpNote:HasExtendedXMP=\"" + md5_hex_upper(extended) + "\""),
            std::string::npos) << read->main;
  EXPECT_LE(read->main.size(), kMaxXmpPacket);
  // Two extension segments (100 KB in pieces of at most 65458 bytes), none over the limit.
  const std::string merged = read_file(jpg);
  int pieces = 0;
  for (const auto& seg : fixtures::jpeg_head_segments(merged)) {
    EXPECT_LE(seg.size, 65537u);
    if (seg.marker == 0xE1 && merged.compare(seg.pos + 4, 35, std::string(kXmpExtensionId) + '\0') == 0)
      ++pieces;
  }
  EXPECT_EQ(pieces, 2);
  EXPECT_EQ(fixtures::mtime_of(jpg), 1600000000);
  if (test::have_program("exiftool")) {
    const std::string oracle = exiftool("-s3 -XMP-dc:Title", jpg);
    EXPECT_TRUE(oracle == title + "\n") << oracle.size() << " bytes of " << title.size() + 1;
    EXPECT_EQ(exiftool("-validate -warning -a -s3", jpg).find("xtended"), std::string::npos);
  }

  // A small sidecar later replaces the packet and its extended part altogether.
  write_file(dir / "IMG_0002.xmp", fixtures::sample_xmp_packet("Small"));
  ASSERT_TRUE(merge_xmp_into_jpeg(jpg));
  const std::optional<JpegXmpPackets> small = read_jpeg_xmp(jpg);
  ASSERT_TRUE(small);
  EXPECT_EQ(small->main, fixtures::sample_xmp_packet("Small"));
  EXPECT_EQ(small->extended, "");
  EXPECT_EQ(read_file(jpg).find(kXmpExtensionId), std::string::npos);

  // The writer of extracted previews.
  write_file(dir / "big.xmp", packet);
  std::string message;
  ASSERT_TRUE(write_with_metadata(dir / "preview.jpg", fixtures::make_jpeg(JpegSpec{}), {},
                                  dir / "big.xmp", message)) << message;
  const std::optional<JpegXmpPackets> written = read_jpeg_xmp(dir / "preview.jpg");
  ASSERT_TRUE(written);
  EXPECT_EQ(written->extended, extended);
}

}  // namespace
}  // namespace cw
