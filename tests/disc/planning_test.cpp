// Disc set planning over real folders; gigabyte files are sparse, so nothing large is written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "disc/burn.h"
#include "disc/burner.h"
#include "disc/image_estimate.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

using test::TempDir;
constexpr std::uint64_t GB = 1'000'000'000ULL;

void sparse(const std::string& path, std::uint64_t size) {
  test::write_file(path, "");
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0);
}

std::vector<std::string> names(const Disc& d) {
  std::vector<std::string> out;
  for (const DiscFolder& f : d.folders) out.push_back(f.name);
  return out;
}

TEST(PlanTest, FoldersStayWholeUnlessLargerThanADisc) {
  TempDir root;
  sparse(root / "A/1.cr2", 3 * GB);
  sparse(root / "B/1.cr2", 3 * GB);
  sparse(root / "c/1.cr2", 1 * GB);
  test::write_file(root / "c/.DS_Store", "x");
  std::filesystem::create_directories(root / "c/.Trashes");
  for (int i = 0; i < 20; ++i) sparse(root / "D/" + std::to_string(10 + i) + ".tif", GB / 2);

  DiscSet set;
  std::string message;
  PlanRequest request{root.str(), {"c", root / "B", "A", "D"}, "Primary Folders", 1234};
  ASSERT_TRUE(plan_discs(request, set, message)) << message;
  // B (3 GB) does not fit beside A, so it starts disc 2 whole, with c; D (10 GB) is cut: its
  // first segment fills what disc 2 has left, the next ones whole discs.
  ASSERT_EQ(set.discs.size(), 5u);
  EXPECT_EQ(names(set.discs[0]), (std::vector<std::string>{"A"}));
  EXPECT_EQ(names(set.discs[1]), (std::vector<std::string>{"B", "c", "D"}));
  EXPECT_EQ(set.discs[1].folders[1].files, (std::vector<std::string>{"1.cr2"}));
  EXPECT_EQ(set.discs[1].folders[2].files, (std::vector<std::string>{"10.tif"}));
  std::vector<std::string> all{"10.tif"};
  for (std::size_t d = 2; d < 5; ++d) {
    EXPECT_EQ(names(set.discs[d]), (std::vector<std::string>{"D"}));
    const auto& files = set.discs[d].folders[0].files;
    all.insert(all.end(), files.begin(), files.end());
  }
  EXPECT_EQ(all.size(), 20u);
  EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
  EXPECT_EQ(set.discs[1].size, 4'500'000'000ULL);
  EXPECT_EQ(set.discs[2].size, 4'500'000'000ULL);
  EXPECT_EQ(set.discs[4].size, GB / 2);
  EXPECT_EQ(set.label, "1234A");
  EXPECT_EQ(disc_label(set, 2), "1234A_003");
  EXPECT_EQ(plan_summary(set), "Burning Primary Folders will require 5 DVD(s).");
  EXPECT_EQ(volume_label(57, "Pre-Conversion Backup"), "57B");
  EXPECT_EQ(volume_label(-1, "Selected Folders"), "Disc");
}

TEST(PlanTest, SubfoldersCdSetsAndNothingToBurn) {
  TempDir root;
  test::write_file(root / "shoot/a.jpg", std::string(1000, 'a'));
  test::write_file(root / "shoot/day 2/b.jpg", std::string(500, 'b'));
  test::write_file(root / "shoot/.Trashes/x/gone.jpg", "x");
  DiscSet set;
  std::string message;
  ASSERT_TRUE(
      plan_discs({root.str(), {root / "shoot"}, "Selected Folders", -1, true}, set, message));
  ASSERT_EQ(set.discs.size(), 1u);
  EXPECT_EQ(names(set.discs[0]), (std::vector<std::string>{"shoot", "shoot/day 2"}));
  EXPECT_EQ(plan_summary(set), "Burning Selected Folders will require 1 CD or DVD.");

  ASSERT_TRUE(plan_discs({root.str(), {}, "Primary Folders", 7}, set, message));
  EXPECT_TRUE(set.discs.empty());
  test::captured_ui().clear();
  BurnOutcome outcome = burn_discs_to_images(set, root.str());
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(test::captured_ui().alerts, (std::vector<std::string>{"No images to burn."}));
}

TEST(PlanTest, FailuresEndThePlanWithTheirMessage) {
  TempDir root;
  std::string message;
  DiscSet set;
  sparse(root / "big/huge.cr2", kDiscCapacity + 1);
  EXPECT_FALSE(plan_discs({root.str(), {"big"}, "Primary Folders", 1}, set, message));
  EXPECT_EQ(message, "File size exceeds disc capacity.");

  // Discs that hold one file of ten bytes, with the file system around it.
  ImageEstimate one_file;
  one_file.add_file("many", "999", 10);
  const std::uint64_t capacity = one_file.bytes();
  for (int i = 0; i < 202; ++i) test::write_file(root / "many/" + std::to_string(i), "0123456789");
  EXPECT_FALSE(plan_discs({root.str(), {"many"}, "t", 1, false, capacity}, set, message));
  EXPECT_EQ(message, "Can't split folder; bigger than max number of discs.");
  std::vector<std::string> folders;
  for (int i = 0; i < 201; ++i) {
    folders.push_back(std::string("f").append(std::to_string(i)));
    test::write_file(root / folders.back() + "/x", "0123456789");
  }
  EXPECT_FALSE(plan_discs({root.str(), folders, "t", 1, false, capacity}, set, message));
  EXPECT_EQ(message, "Burn will take too many discs.");

  EXPECT_FALSE(plan_discs({root.str(), {"/elsewhere"}, "t", 1}, set, message));
  EXPECT_FALSE(plan_discs({root.str(), {"missing"}, "t", 1}, set, message));
  EXPECT_EQ(message, "Can't access folder - error other than permissions.");
  test::write_file(root / "long/" + std::string(200, 'n'), "x");
  EXPECT_FALSE(plan_discs({root.str(), {"long"}, "t", 1}, set, message));
  EXPECT_EQ(message, "File name too long.");
}

}  // namespace
}  // namespace cw
