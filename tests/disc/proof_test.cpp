// What a disc carries to prove its files, from planning to burning and the read-back. (Checks of
// a disc, its files and copies of them by `verify --disc` are tried in tests/cli/usage.sh.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "disc/burn.h"
#include "disc/libburn_recorder.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

using ::testing::HasSubstr;

Hash128 hash_of(const std::string& path) {
  char buffer[4096];
  Hash128 h;
  EXPECT_TRUE(hash_file(path, h, buffer, sizeof buffer)) << path;
  return h;
}

TEST(DiscProof, LedgerHashesAndProvenanceGoOnTheDiscAndAreReadBackBeforeItCounts) {
  test::TempDir root, images;
  test::write_file(root / "Day 1/a.jpg", std::string(300'000, 'a'));
  test::write_file(root / "Day 1/b.xmp", "<x/>");
  PlanRequest request;
  request.root = root.str();
  request.folders = {"Day 1"};
  request.title = "Primary Folders";
  request.key = 41;
  DiscSet set;
  std::string message;
  ASSERT_TRUE(plan_discs(request, set, message)) << message;
  const std::string a = set.root + "/Day 1/a.jpg";
  FileOrigin origin{hash_of(a), 41, "EOS_DIGITAL", "1234-ABCD", "0123456789", "20240517_102030"};
  set.origins[a] = origin;

  BurnOutcome outcome = burn_discs_to_images(set, images.str());
  ASSERT_TRUE(outcome.ok) << outcome.message;
  const std::string iso = image_file_path(images.str(), disc_label(set, 0));
  DiscCheck check;
  ASSERT_TRUE(check_disc_image(iso, check, message)) << message;
  EXPECT_TRUE(check.passed()) << ::testing::PrintToString(check.problems);
  EXPECT_EQ(check.manifest, origin.hash.hex() + "  Day 1/a.jpg\n" +
                                hash_of(root / "Day 1/b.xmp").hex() + "  Day 1/b.xmp\n");
  ASSERT_EQ(check.matched.size(), 2u);
  EXPECT_EQ(check.matched[0].size, 300'000u);
  // Read through a recorder, as a burned disc is, the image reads back the same.
  DiscCheck through_drive;
  ASSERT_TRUE(check_disc_in_drive("stdio:" + iso, through_drive, message)) << message;
  EXPECT_TRUE(through_drive.passed()) << ::testing::PrintToString(through_drive.problems);
  EXPECT_EQ(through_drive.manifest, check.manifest);
  EXPECT_EQ(through_drive.ok, 2);

  DiscImage image;
  ASSERT_TRUE(lay_out_disc(set, 0, image, message)) << message;
  ASSERT_TRUE(add_disc_proof(set, image, message)) << message;
  EXPECT_THAT(image.provenance, HasSubstr("Disc 41A_001 (Primary Folders)"));
  EXPECT_THAT(image.provenance,
              HasSubstr("Files: 2 (1 with hashes from the ingest ledger, 1 hashed"));
  EXPECT_THAT(image.provenance, HasSubstr("Ingestions: 41\n"));
  EXPECT_THAT(image.provenance, HasSubstr("Cards: EOS_DIGITAL (UUID 1234-ABCD)\n"));
  EXPECT_THAT(image.provenance, HasSubstr("Camera serials: 0123456789\n"));
  EXPECT_THAT(image.provenance,
              HasSubstr("Capture dates: 2024-05-17 10:20:30 to 2024-05-17 10:20:30"));

  // The archive's file no longer holds what the ledger recorded: the image does not read back
  // as its manifest says, so it is not kept, and the message says which source changed.
  test::TempDir again;
  set.origins[a].hash.low ^= 1;
  outcome = burn_discs_to_images(set, again.str());
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.discs_burned, 0);
  EXPECT_THAT(outcome.message, HasSubstr("was not kept: " + a +
                                         " no longer has the hash the ingest ledger holds"));
  EXPECT_TRUE(std::filesystem::is_empty(again.path()));
}

}  // namespace
}  // namespace cw
