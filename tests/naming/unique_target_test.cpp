// Unique first-copy names and the duplicate identity (size, modification time, capture time).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "ingest/unique_target.h"
#include "ingest/slot_control.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::TempDir;

constexpr std::time_t kWhen = 1715941230;  // a fixed modification time

// Opens a unique target; the name created, "DUPLICATE" or "NONE".
std::string open_target(EngineContext& ctx, std::string target, const std::string& source) {
  bool duplicate = false;
  int fd = open_unique_target(target, ctx, duplicate, source);
  if (fd < 0) return duplicate ? "DUPLICATE" : "NONE";
  ::close(fd);
  return target;
}

TEST(UniqueTarget, SuffixesDuplicatesAndTheCaptureIdentity) {
  TempDir dir;
  SingleSlotControl control;
  EngineContext ctx(EngineJob{&control, 0, "Unique"});
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

  const std::string target = dir / "archive/IMG.JPG";
  fsys::create_directories(dir / "archive");
  ASSERT_TRUE(fixtures::write_with_time(target, fixtures::make_jpeg("2024:05:17 10:20:30", 4000), kWhen));
  EXPECT_EQ(open_target(ctx, target, a), "DUPLICATE");
  EXPECT_EQ(open_target(ctx, target, b), dir / "archive/IMG_00001.JPG");
  EXPECT_EQ(open_target(ctx, target, b), dir / "archive/IMG_00002.JPG");

  // Only a three-character extension is kept behind the suffix.
  test::write_file(dir / "archive/IMG.JPEG", "x");
  EXPECT_EQ(open_target(ctx, dir / "archive/IMG.JPEG", b), dir / "archive/IMG.JPEG_00001");
  // A file the reader cannot read has no identity: never a duplicate.
  test::write_file(dir / "card/notes.txt", "x");
  std::string none;
  EXPECT_FALSE(file_identity(dir / "card/notes.txt", none));
  EXPECT_EQ(open_target(ctx, dir / "archive/IMG.JPEG", dir / "card/notes.txt"),
            dir / "archive/IMG.JPEG_00002");
  EXPECT_EQ(test::read_file(target).size(), 4000u);  // never overwritten
}

}  // namespace
}  // namespace cw
