// Cards from the command line on real mounts (root only). The program reads a mount table of
// the test's own, so that whatever else is mounted on the machine cannot change what it lists.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "tests/common/test_env.h"
#include "tests/database/db_fixture.h"
#include "tests/fixtures/loop_card.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_card.h"

namespace cw {
namespace {

using test::sh_quote;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(CardsCommand, TwoMountedCardsAreListedIngestedTogetherAndEjected) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for loop devices and mounts";
  if (!test::have_program("mkfs.ext2") || !test::have_program("losetup"))
    GTEST_SKIP() << "needs e2fsprogs and losetup";
  test::TempDir dir;
  // A third card stands for one the machine has mounted anyway: the table leaves it out.
  test::LoopCard a(dir, "EOS_A"), b(dir, "EOS_B"), other(dir, "OTHER");
  if (!a.ok() || !b.ok() || !other.ok())
    GTEST_SKIP() << "loop devices cannot be attached and mounted here";
  fixtures::CardSpec spec;
  spec.count = 3;
  spec.raw_every = 0;
  spec.jpeg_width = spec.jpeg_height = 32;
  ASSERT_EQ(fixtures::write_sample_card(a.root(), spec).size(), 3u);
  spec.count = 2;
  spec.prefix = "DSC_";
  spec.first_capture = "2024:05:18 09:00:00";
  ASSERT_EQ(fixtures::write_sample_card(b.root(), spec).size(), 2u);
  ASSERT_EQ(fixtures::write_sample_card(other.root(), spec).size(), 2u);

  test::write_file(dir / "mountinfo", test::mount_lines_of({a.root(), b.root()}));
  const auto run_cardwright = [&dir](const std::string& args, std::string* out,
                                     const std::string& errors = "") {
    return test::run_cardwright(args, out, errors,
                                "CARDWRIGHT_MOUNTINFO=" + sh_quote(dir / "mountinfo"));
  };

  std::string out;
  // The listing says what to run here, not which button to press.
  ASSERT_EQ(run_cardwright("cards", &out), 0) << out;
  EXPECT_THAT(out, AllOf(HasSubstr("cardwright ingest"), Not(HasSubstr("Press Start"))));
  ASSERT_EQ(run_cardwright("cards --json", &out), 0) << out;
  // Exactly the two cards: none of the machine's other mounts.
  EXPECT_THAT(out, Not(HasSubstr(other.root())));
  EXPECT_EQ(std::count(out.begin(), out.end(), '{'), 3) << out;
  for (const auto* card : {&a, &b})
    EXPECT_THAT(out, HasSubstr("{\"root\": \"" + card->root() + "\", \"volume\": \"" +
                               card->root().substr(card->root().rfind('/') + 1) + "\""));

  ASSERT_EQ(run_cardwright("ingest --all-cards --json --no-backup --folder-format '' --primary " +
                               sh_quote(dir / "archive"),
                           &out, dir / "errors"),
            0)
      << out << test::read_file(dir / "errors");
  EXPECT_THAT(out, HasSubstr("{\"card\": \"" + a.root() + "\", \"success\": true"));
  EXPECT_THAT(out, HasSubstr("{\"card\": \"" + b.root() + "\", \"success\": true"));
  const std::string db = (test::test_root() / "home/.local/share/CardwrightPro/cw_main.sqlite3").string();
  EXPECT_EQ(test::raw_values(db, "select image_count || ' ' || result from ingestion order by "
                                 "ingestion_sk desc limit 1"),
            "5 SUCCESS");

  ASSERT_EQ(run_cardwright("eject " + sh_quote(a.root()), &out), 0) << out;
  EXPECT_THAT(out, HasSubstr("has been ejected safely"));
  EXPECT_FALSE(test::mounted(a.root()));
  EXPECT_TRUE(test::mounted(b.root()));
}

}  // namespace
}  // namespace cw
