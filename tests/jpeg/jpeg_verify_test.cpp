// JPEG verification against the reference decoder program: a generated set of damaged files
// (truncations, flipped bits, bad markers, bad or missing tables, bad frame headers) must get
// the same verdict as `djpeg`, whose exit status is 1 exactly when decoding stops with a fatal
// error and 2 when it only warned.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "foundation/log.h"
#include "ingest/jpeg_verify.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/jpeg_maker.h"

namespace cw {
namespace {

using test::captured_ui;
using test::TempDir;

using Segment = fixtures::JpegSegment;

const Segment* find_segment(const std::vector<Segment>& segs, unsigned char marker) {
  for (const Segment& s : segs)
    if (s.marker == marker) return &s;
  return nullptr;
}

struct Damaged {
  std::string name;
  std::string bytes;
};

// Builds the damaged set from one sound file.
void add_damage(std::vector<Damaged>& out, const std::string& tag, const std::string& good) {
  const auto segs = fixtures::jpeg_head_segments(good);
  const std::size_t data = segs.back().pos + segs.back().size;  // after SOS: the scan's data
  const std::size_t data_len = good.size() - 2 - data;
  auto add = [&](const std::string& what, std::string bytes) {
    out.push_back({tag + "-" + what, std::move(bytes)});
  };
  auto edit = [&](const std::string& what, const std::function<void(std::string&)>& f) {
    std::string b = good;
    f(b);
    add(what, std::move(b));
  };

  add("sound", good);
  // Truncations: nothing, inside the head, right after the scan header, inside the data,
  // without EOI.
  for (std::size_t cut : {std::size_t(0), std::size_t(1), std::size_t(2), std::size_t(20),
                          data - 3, data, data + data_len / 4, data + data_len / 2,
                          data + data_len * 9 / 10, good.size() - 2})
    add("cut" + std::to_string(cut), good.substr(0, cut));
  // Flipped bits in the entropy-coded data, one or several at a time.
  std::uint32_t rng = 12345;
  auto next = [&rng] { return rng = rng * 1103515245u + 12345u; };
  for (int i = 0; i < 12; ++i)
    edit("flip" + std::to_string(i), [&](std::string& b) {
      for (int k = 0; k <= i % 3; ++k)
        b[data + next() % data_len] ^= static_cast<char>(1 << (next() % 8));
    });
  edit("garbage-in-data", [&](std::string& b) {
    for (std::size_t k = data + data_len / 3; k < data + data_len / 3 + 64; ++k)
      b[k] = static_cast<char>(next() >> 8);
  });
  // Bad markers.
  edit("no-soi", [](std::string& b) { b[1] = '\x00'; });
  edit("unknown-marker", [&](std::string& b) { b.insert(data - 14, "\xFF\x02\x00\x04xx", 6); });
  edit("rst-in-head", [&](std::string& b) { b.insert(2, "\xFF\xD3", 2); });
  edit("second-soi", [&](std::string& b) { b.insert(2, "\xFF\xD8", 2); });
  edit("eoi-in-data", [&](std::string& b) { b.replace(data + data_len / 2, 2, "\xFF\xD9"); });
  edit("soi-for-eoi", [&](std::string& b) { b.replace(b.size() - 2, 2, "\xFF\xD8"); });
  edit("garbage-before-marker", [&](std::string& b) { b.insert(segs[1].pos, "abc", 3); });
  if (const Segment* s = find_segment(segs, 0xDB)) {
    edit("length-zero", [&](std::string& b) { b[s->pos + 2] = 0, b[s->pos + 3] = 0; });
    edit("length-huge", [&](std::string& b) { b[s->pos + 2] = '\x7F'; });
    // Quantisation tables: missing, wrong index, wrong precision.
    edit("no-dqt", [&](std::string& b) { b.erase(s->pos, s->size); });
    edit("dqt-index", [&](std::string& b) { b[s->pos + 4] = '\x07'; });
    edit("dqt-precision", [&](std::string& b) { b[s->pos + 4] = '\x20'; });
    edit("dqt-zero", [&](std::string& b) {
      for (std::size_t k = s->pos + 5; k < s->pos + s->size; ++k) b[k] = 0;
    });
  }
  if (const Segment* s = find_segment(segs, 0xC4)) {
    // Huffman tables: missing (every DHT removed), bad class/index, counts that overflow.
    edit("no-dht", [&](std::string& b) {
      for (auto it = segs.rbegin(); it != segs.rend(); ++it)
        if (it->marker == 0xC4) b.erase(it->pos, it->size);
    });
    edit("dht-index", [&](std::string& b) { b[s->pos + 4] = '\x05'; });
    edit("dht-class", [&](std::string& b) { b[s->pos + 4] = '\x30'; });
    edit("dht-counts", [&](std::string& b) {
      for (int k = 0; k < 16; ++k) b[s->pos + 5 + k] = '\x20';
    });
    edit("dht-short-code", [&](std::string& b) { b[s->pos + 5] = '\x03'; });
  }
  // Frame header: empty image, huge image, precision, component count, sampling factors.
  const Segment* sof = nullptr;
  for (const Segment& s : segs)
    if (s.marker >= 0xC0 && s.marker <= 0xC2) sof = &s;
  if (sof) {
    const std::size_t f = sof->pos + 4;  // precision, height(2), width(2), count, components
    edit("sof-width0", [&](std::string& b) { b[f + 3] = 0, b[f + 4] = 0; });
    edit("sof-height0", [&](std::string& b) { b[f + 1] = 0, b[f + 2] = 0; });
    edit("sof-huge", [&](std::string& b) { b[f + 3] = '\xFF', b[f + 4] = '\xFF'; });
    edit("sof-precision", [&](std::string& b) { b[f] = 12; });
    edit("sof-components0", [&](std::string& b) { b[f + 5] = 0; });
    edit("sof-sampling", [&](std::string& b) { b[f + 7] = '\x55'; });
    edit("sof-lossless", [&](std::string& b) { b[sof->pos + 1] = '\xC3'; });
    edit("sof-twice", [&](std::string& b) { b.insert(sof->pos, good.substr(sof->pos, sof->size)); });
    if (static_cast<unsigned char>(good[f + 5]) == 3) {
      // Chroma sampling that does not divide the luma sampling evenly.
      edit("sof-fractional", [&](std::string& b) { b[f + 7] = '\x33', b[f + 10] = '\x22'; });
      edit("sof-chroma-larger", [&](std::string& b) { b[f + 7] = '\x11', b[f + 10] = '\x22'; });
      edit("sos-component", [&](std::string& b) {
        const Segment* sos = find_segment(segs, 0xDA);
        b[sos->pos + 5] = '\x09';
      });
    }
  }
}

std::vector<Damaged> damaged_set() {
  std::vector<Damaged> set;
  const auto variant = [&set](const char* tag, const std::function<void(fixtures::JpegSpec&)>& f) {
    fixtures::JpegSpec spec{.width = 200, .height = 150, .exif = fixtures::CameraInfo{}};
    f(spec);
    add_damage(set, tag, fixtures::make_jpeg(spec));
  };
  variant("baseline", [](fixtures::JpegSpec&) {});
  variant("progressive", [](fixtures::JpegSpec& s) { s.progressive = true; });
  variant("restart", [](fixtures::JpegSpec& s) { s.restart_interval = 2, s.jfif = true; });
  variant("gray", [](fixtures::JpegSpec& s) { s.grayscale = true, s.quality = 75; });
  // Larger than the verifier's read buffer, so damage falls across buffer refills.
  variant("large", [](fixtures::JpegSpec& s) { s.width = 1600, s.height = 1200, s.chroma_v = 1; });
  return set;
}

struct Reference {
  int status;
  std::string first_line, last_line;  // of djpeg's messages
};

Reference run_djpeg(const std::string& path) {
  std::string out;
  const int status = test::run_command("djpeg -outfile /dev/null '" + path + "' 2>&1", &out);
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return {status, out.substr(0, out.find('\n')), out.substr(out.rfind('\n') + 1)};  // npos + 1 is 0
}

class JpegVerify : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::have_program("djpeg")) GTEST_SKIP() << "djpeg not installed";
    captured_ui().clear();
  }

  // Checks our verdict and pane text against djpeg's; returns djpeg's status.
  int check_against_djpeg(const std::string& path, const std::string& label) {
    const Reference ref = run_djpeg(path);
    captured_ui().clear();
    const bool ok = verify_jpeg(path);
    const JpegVerdict verdict = check_jpeg(path).verdict;
    const std::string& pane = captured_ui().pane;
    // Only a warning can make a file damaged; a file djpeg decodes silently is sound.
    if (ref.status != 2) {
      EXPECT_EQ(verdict == JpegVerdict::kSound, ref.status == 0) << label;
    }
    EXPECT_EQ(ok, ref.status != 1) << label << ": djpeg status " << ref.status << " says \""
                                    << ref.last_line << "\"; pane: " << pane;
    if (ref.status == 1) {
      EXPECT_NE(pane.find("\nERROR processing JPEG: " + ref.last_line + "\n"), std::string::npos)
          << label << ": " << pane;
    } else if (ref.status == 2) {
      // With more data buffered the decoder takes its faster Huffman path, which describes
      // damaged codes differently ("bad Huffman code" there, a count of extraneous bytes
      // here); the kind of warning is the same.
      const std::string kind = ref.first_line.substr(0, ref.first_line.find(':'));
      EXPECT_NE(pane.find("\nWARNING processing JPEG: " + kind), std::string::npos)
          << label << ": warning \"" << ref.first_line << "\" missing from pane: " << pane;
    } else {
      EXPECT_EQ(pane, "") << label;
    }
    return ref.status;
  }
};

TEST_F(JpegVerify, DamagedFilesGetTheReferenceDecodersVerdict) {
  TempDir dir;
  int counts[3] = {0, 0, 0};
  for (const Damaged& d : damaged_set()) {
    const std::string path = dir / (d.name + ".jpg");
    test::write_file(path, d.bytes);
    const int status = check_against_djpeg(path, d.name);
    ASSERT_GE(status, 0) << d.name;
    ASSERT_LE(status, 2) << d.name;
    counts[status]++;
  }
  // The set must exercise all three outcomes well.
  EXPECT_GE(counts[0], 5);
  EXPECT_GE(counts[1], 40);
  EXPECT_GE(counts[2], 20);
}

TEST_F(JpegVerify, DamagedImageDataIsToldFromHarmlessWarnings) {
  const std::string good = fixtures::make_jpeg({.width = 320, .height = 240});
  const auto segs = fixtures::jpeg_head_segments(good);
  const std::size_t data = segs.back().pos + segs.back().size;
  std::string zeroed = good;
  std::fill(zeroed.begin() + static_cast<long>(data), zeroed.end() - 2, '\0');
  std::string head_garbage = good;
  head_garbage.insert(segs[1].pos, "abc");
  TempDir dir;
  struct Case {
    std::string name, bytes;
    JpegVerdict verdict;
    std::string damage;
  };
  for (const Case& c : {Case{"truncated", good.substr(0, (data + good.size()) / 2),
                             JpegVerdict::kDamaged, "Premature end of JPEG file"},
                        Case{"zeroed", zeroed, JpegVerdict::kDamaged, "Corrupt JPEG data"},
                        Case{"head-garbage", head_garbage, JpegVerdict::kSound, ""}}) {
    test::write_file(dir / c.name, c.bytes);
    const JpegCheck check = check_jpeg(dir / c.name);
    EXPECT_EQ(check.verdict, c.verdict) << c.name;
    EXPECT_EQ(check.damage.substr(0, c.damage.size()), c.damage) << c.name;
    EXPECT_NE(check.warning, "") << c.name;
    EXPECT_TRUE(verify_jpeg(dir / c.name)) << c.name;  // damaged data still decodes
  }
  EXPECT_EQ(captured_ui().pane.find("ERROR"), std::string::npos);
}

TEST_F(JpegVerify, ImpossibleSizeAndMissingFile) {
  // A progressive frame header damaged to claim 65000 x 65000 pixels would need 12 GB of
  // coefficients; the verifier refuses at once instead of filling them.
  std::string huge = fixtures::make_jpeg({.progressive = true});
  const std::vector<Segment> segments = fixtures::jpeg_head_segments(huge);
  const Segment* sof = find_segment(segments, 0xC2);
  ASSERT_NE(sof, nullptr);
  huge.replace(sof->pos + 5, 4, "\xFD\xE8\xFD\xE8");
  TempDir dir;
  test::write_file(dir / "huge.jpg", huge);
  EXPECT_FALSE(verify_jpeg(dir / "huge.jpg"));
  EXPECT_EQ(captured_ui().pane, "\nERROR processing JPEG: Image needs more than 2048 MB of memory "
                                "to decode (damaged frame header?)\n");

  captured_ui().clear();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(verify_jpeg(dir / "absent.jpg"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "can't open " + (dir / "absent.jpg") + "\n");
  EXPECT_EQ(captured_ui().pane, "");
}

TEST_F(JpegVerify, CorpusJpegsGetTheReferenceDecodersVerdict) {
  CW_REQUIRE_CORPUS(corpus);
  int files = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(corpus)) {
    std::string ext = e.path().extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!e.is_regular_file() || (ext != ".jpg" && ext != ".jpeg")) continue;
    check_against_djpeg(e.path().string(), e.path().filename().string());
    ++files;
  }
  EXPECT_GT(files, 20);
}

}  // namespace
}  // namespace cw
