// Raw verification with the raw decoder: whole, cut short and unknown raws.
#include "ingest/raw_verify.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "tests/common/test_env.h"
#include "tests/fixtures/tiff_builder.h"

namespace cw {
namespace {

namespace fs = std::filesystem;

TEST(RawVerify, WholeCutAndUnknownRaws) {
  fixtures::RawLayout layout;
  layout.width = 640;
  layout.height = 480;
  layout.dng = true;
  const std::string dng = fixtures::build_raw_tiff(fixtures::CameraInfo{}, layout);
  test::TempDir dir;
  test::write_file(dir / "whole.dng", dng);
  test::write_file(dir / "cut.dng", dng.substr(0, dng.size() / 2));
  test::write_file(dir / "exif.tif", fixtures::build_exif_tiff(fixtures::CameraInfo{}));
  test::write_file(dir / "tiny.nef", "raw");
  EXPECT_EQ(check_raw(dir / "whole.dng").verdict, RawVerdict::kSound);
  const RawCheck cut = check_raw(dir / "cut.dng");
  EXPECT_EQ(cut.verdict, RawVerdict::kCorrupt);
  EXPECT_EQ(cut.message, "unexpected end of the image data");
  for (const char* name : {"exif.tif", "tiny.nef", "absent.nef"}) {
    const RawCheck check = check_raw(dir / name);
    EXPECT_EQ(check.verdict, RawVerdict::kUnknown) << name;
    EXPECT_NE(check.message, "") << name;
  }
}

// The corpus's raws keep their metadata but mostly lose their image data: those whose data is
// whole pass; the decoder refuses those it reads as cut short; none crashes it.
TEST(RawVerify, CorpusRaws) {
  CW_REQUIRE_CORPUS(corpus);
  const std::set<std::string> raw_extensions = {".cr2", ".crw", ".dng", ".nef", ".rw2", ".iiq",
                                                ".raf", ".mrw", ".x3f", ".tif"};
  std::set<std::string> sound;
  int corrupt = 0;
  for (const char* folder : {"camera", "bad"})
    for (const auto& e : fs::directory_iterator(corpus / folder)) {
      if (!raw_extensions.count(e.path().extension().string())) continue;
      const RawCheck check = check_raw(e.path().string());
      if (check.verdict == RawVerdict::kSound) sound.insert(e.path().filename().string());
      if (check.verdict != RawVerdict::kCorrupt) continue;
      ++corrupt;
      EXPECT_NE(check.message, "") << e.path();
    }
  EXPECT_EQ(sound, (std::set<std::string>{"DNG.dng", "IMG_1361.dng", "Panasonic.rw2"}));
  EXPECT_GE(corrupt, 6);
}

}  // namespace
}  // namespace cw
