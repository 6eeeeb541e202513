// First-copy names and the duplicate check: size and modification time pick the candidates,
// the content hash decides.
#include <gtest/gtest.h>

#include "ingest/unique_target.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

using test::TempDir;

constexpr std::time_t kWhen = 1715941230;  // a fixed modification time

// Where a copy of `source` wanted at `target` goes: a free name, or "DUPLICATE " and its copy.
std::string name_for(const std::string& target, const std::string& source) {
  SourceFacts facts;
  EXPECT_TRUE(source_facts(source, facts, nullptr)) << source;
  TargetName name = find_target_name(target, facts, 0);
  return name.duplicate ? "DUPLICATE " + *name.duplicate : name.path;
}

TEST(UniqueTarget, EveryTakenNameIsComparedByContentThenTheFirstFreeSuffixTaken) {
  TempDir dir;
  const std::string a = dir / "card/A.JPG", b = dir / "card/B.JPG", mov = dir / "card/C.MOV";
  // One size, one time, one capture time, two different images (a folder rollover).
  const std::string image = fixtures::make_jpeg("2024:05:17 10:20:30", 4000);
  std::string other = image;
  other[other.size() - 10] ^= 1;
  ASSERT_TRUE(fixtures::write_with_time(a, image, kWhen));
  ASSERT_TRUE(fixtures::write_with_time(b, other, kWhen));
  ASSERT_TRUE(fixtures::write_with_time(mov, "no EXIF in here", kWhen));

  const std::string target = dir / "archive/IMG.JPG", first = dir / "archive/IMG_00001.JPG";
  ASSERT_TRUE(fixtures::write_with_time(target, image, kWhen));
  EXPECT_EQ(name_for(target, a), "DUPLICATE " + target);
  EXPECT_EQ(name_for(target, b), first);
  // A copy of B that a run put under the first suffix is recognised, not copied again.
  ASSERT_TRUE(fixtures::write_with_time(first, other, kWhen));
  EXPECT_EQ(name_for(target, b), "DUPLICATE " + first);
  // The same bytes with another time are not taken for the copy.
  ASSERT_TRUE(fixtures::write_with_time(target, image, kWhen + 1));
  EXPECT_EQ(name_for(target, a), dir / "archive/IMG_00002.JPG");

  // A video has no capture time, and is recognised by its content all the same.
  const std::string video = dir / "archive/C.MOV";
  ASSERT_TRUE(fixtures::write_with_time(video, "no EXIF in here", kWhen));
  EXPECT_EQ(name_for(video, mov), "DUPLICATE " + video);
  // Only a three-character extension, or a longer one that takes sidecars, follows the suffix.
  test::write_file(dir / "archive/IMG.JPEG", "x");
  EXPECT_EQ(name_for(dir / "archive/IMG.JPEG", b), dir / "archive/IMG.JPEG_00001");
  test::write_file(dir / "archive/IMG.HEIC", "x");
  EXPECT_EQ(name_for(dir / "archive/IMG.HEIC", b), dir / "archive/IMG_00001.HEIC");
}

}  // namespace
}  // namespace cw
