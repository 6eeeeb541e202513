// What a disc carries to prove its files, from planning and burning to `verify --disc`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "disc/burn.h"
#include "disc/libburn_recorder.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_card.h"

namespace cw {
namespace {

using test::run_cardwright;
using test::sh_quote;
using ::testing::HasSubstr;
using ::testing::Not;

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

TEST(DiscProof, VerifyDiscChecksAnImageItsExtractedFilesAndNamesAChangedFile) {
  test::TempDir dir;
  ASSERT_EQ(fixtures::write_sample_card(dir / "card", fixtures::jpeg_card(3)).size(), 3u);
  std::string out;
  ASSERT_EQ(
      run_cardwright("disc plan " + sh_quote(dir / "card") + " DCIM --subfolders --json", &out), 0)
      << out;
  EXPECT_THAT(out, HasSubstr("{\"name\": \"DCIM/100CWTST\", \"files\": 3,"));

  ASSERT_EQ(run_cardwright("ingest --no-backup --folder-format 'day' --card " +
                               sh_quote(dir / "card") + " --primary " + sh_quote(dir / "archive"),
                           &out),
            0)
      << out;
  // A relative root, as typed in the archive's parent folder.
  std::filesystem::create_directories(dir / "iso");
  ASSERT_EQ(run_cardwright("disc burn archive day --image-dir iso --yes", &out, "",
                           "cd " + sh_quote(dir.str()) + " &&"),
            0)
      << out;
  EXPECT_THAT(out, HasSubstr("1 of 1 disc(s) written"));
  // Not on a terminal, progress comes as whole lines; however soon a small disc is written,
  // its last line says all of it is.
  EXPECT_THAT(out, HasSubstr("\nDisc_001: 100%"));
  EXPECT_THAT(out, HasSubstr("\nBurned disc Disc_001 successfully.\n"));
  EXPECT_THAT(out, Not(HasSubstr("\r")));
  const std::string iso = dir / "iso/Disc_001.iso";

  ASSERT_EQ(run_cardwright("verify --disc " + sh_quote(iso), &out), 0) << out;
  EXPECT_THAT(out, HasSubstr("6 OK, 0 FAILED, 0 MISSING"));
  EXPECT_THAT(out, HasSubstr("3 of 6 in the ledger"));  // the images; the sidecars are not
  EXPECT_THAT(out, HasSubstr("day/IMG_20240517_0001.xmp: not in the ledger"));

  if (!test::have_program("xorriso")) GTEST_SKIP() << "xorriso not installed";
  const std::string files = dir / "extracted";
  ASSERT_EQ(test::run_command("xorriso -osirrox on -indev " + sh_quote(iso) + " -extract / " +
                              sh_quote(files) + " >/dev/null 2>&1"),
            0);
  EXPECT_THAT(test::read_file(files + "/PROVENANCE.txt"), HasSubstr("Ingestions: "));
  if (test::have_program("xxh128sum")) {
    EXPECT_EQ(
        test::run_command("cd " + sh_quote(files) + " && xxh128sum -c MANIFEST.xxh128", &out), 0)
        << out;
  }
  EXPECT_EQ(run_cardwright("verify --disc " + sh_quote(files), &out), 0) << out;

  // Files added to a copy of the disc, or to an image made of it, are named and fail the check;
  // the manifest and provenance themselves are not counted.
  test::write_file(files + "/day/extra.JPG", "not from the disc");
  test::write_file(files + "/notes.txt", "added later");
  const std::string grown = dir / "grown.iso";
  ASSERT_EQ(test::run_command("xorriso -as mkisofs -R -o " + sh_quote(grown) + " " +
                                  sh_quote(files) + " 2>&1",
                              &out),
            0)
      << out;
  for (const std::string& copy : {files + "/", grown}) {
    EXPECT_EQ(run_cardwright("verify --disc " + sh_quote(copy), &out), 1) << copy;
    EXPECT_THAT(out, HasSubstr("  day/extra.JPG: not in the manifest\n  notes.txt: not in the "
                               "manifest\n"))
        << copy;
    EXPECT_THAT(out, HasSubstr("6 OK, 0 FAILED, 0 MISSING, 2 not in the manifest")) << copy;
    EXPECT_THAT(out, Not(HasSubstr("MANIFEST.xxh128: not"))) << copy;
    EXPECT_THAT(out, Not(HasSubstr("PROVENANCE.txt: not"))) << copy;
  }

  // One flipped byte inside an image's data in the image file.
  std::string bytes = test::read_file(iso);
  const std::string image = test::read_file(dir / "archive/day/IMG_20240517_0002.JPG");
  const std::size_t at = bytes.find(image.substr(0, 256));
  ASSERT_NE(at, std::string::npos);
  bytes[at + image.size() / 2] ^= 0x01;
  test::write_file(iso, bytes);
  EXPECT_EQ(run_cardwright("verify --disc " + sh_quote(iso), &out), 1) << out;
  EXPECT_THAT(out, HasSubstr("day/IMG_20240517_0002.JPG: FAILED"));
  EXPECT_THAT(out, HasSubstr("5 OK, 1 FAILED"));
}

}  // namespace
}  // namespace cw
