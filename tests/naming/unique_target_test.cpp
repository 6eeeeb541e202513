// First-copy names and the duplicate identity (size, modification time, capture time).
#include <gtest/gtest.h>

#include <filesystem>

#include "ingest/unique_target.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::TempDir;

constexpr std::time_t kWhen = 1715941230;  // a fixed modification time

// Where a copy of `source` wanted at `target` goes: the free name, or "DUPLICATE " and the
// name that holds the same image.
std::string name_for(const std::string& target, const std::string& source) {
  std::string identity;
  TargetName name = find_target_name(target, source, 0, identity);
  return name.duplicate ? "DUPLICATE " + *name.duplicate : name.path;
}

TEST(UniqueTarget, EveryTakenNameIsComparedThenTheFirstFreeSuffixTaken) {
  TempDir dir;
  const std::string a = dir / "card/A.JPG", b = dir / "card/B.JPG";
  fsys::create_directories(dir / "card");
  ASSERT_TRUE(fixtures::write_with_time(a, fixtures::make_jpeg("2024:05:17 10:20:30", 4000), kWhen));
  // Same size and modification time, another capture time: a different image.
  ASSERT_TRUE(fixtures::write_with_time(b, fixtures::make_jpeg("2024:05:17 10:20:31", 4000), kWhen));
  std::string ia, ib;
  ASSERT_TRUE(file_identity(a, ia));
  ASSERT_TRUE(file_identity(b, ib));
  EXPECT_NE(ia, ib);
  EXPECT_NE(ia.find("4000/"), std::string::npos) << ia;

  const std::string target = dir / "archive/IMG.JPG", first = dir / "archive/IMG_00001.JPG";
  fsys::create_directories(dir / "archive");
  fsys::copy_file(a, target);
  fsys::last_write_time(target, fsys::last_write_time(a));
  EXPECT_EQ(name_for(target, a), "DUPLICATE " + target);
  EXPECT_EQ(name_for(target, b), first);
  // A copy of B that a run put under the first suffix is recognised, not copied again.
  ASSERT_TRUE(fixtures::write_with_time(first, test::read_file(b), kWhen));
  EXPECT_EQ(name_for(target, b), "DUPLICATE " + first);

  // Only a three-character extension is kept behind the suffix.
  test::write_file(dir / "archive/IMG.JPEG", "x");
  EXPECT_EQ(name_for(dir / "archive/IMG.JPEG", b), dir / "archive/IMG.JPEG_00001");
  // A file the reader cannot read has no identity: never a duplicate, even of itself.
  EXPECT_FALSE(file_identity(dir / "archive/IMG.JPEG", ia));
  EXPECT_EQ(name_for(dir / "archive/IMG.JPEG", dir / "archive/IMG.JPEG"),
            dir / "archive/IMG.JPEG_00001");
}

}  // namespace
}  // namespace cw
