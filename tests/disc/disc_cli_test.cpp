// Discs from the command line: a plan as JSON, and the discs an ingestion burns when the master
// preset asks for them, written to the image folder of the preferences.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/common/test_env.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_card.h"

namespace cw {
namespace {

using test::run_cardwright;
using test::sh_quote;
using ::testing::HasSubstr;

TEST(DiscCommand, PlansAndBurnsWhatAnIngestionAsksFor) {
  test::TempDir dir;
  fixtures::CardSpec spec;
  spec.count = 3;
  spec.raw_every = 0;
  ASSERT_EQ(fixtures::write_sample_card(dir / "card", spec).size(), 3u);
  std::string out;
  ASSERT_EQ(run_cardwright("disc plan " + sh_quote(dir / "card") + " DCIM --subfolders --json",
                           &out),
            0)
      << out;
  EXPECT_THAT(out, HasSubstr("\"summary\": \"Burning Selected Folders will require 1 CD or DVD.\""));
  EXPECT_THAT(out, HasSubstr("{\"name\": \"DCIM/100CWTST\", \"files\": 3,"));

  const std::string images = dir / "iso";
  std::filesystem::create_directories(images);
  ASSERT_EQ(run_cardwright("pref set BurnImageFolder " + sh_quote(images)), 0);
  ASSERT_EQ(run_cardwright("preset set Master Default BurnPrimary 1"), 0);
  ASSERT_EQ(run_cardwright("ingest --no-backup --folder-format 'day' --card " +
                               sh_quote(dir / "card") + " --primary " + sh_quote(dir / "archive"),
                           &out),
            0)
      << out;
  run_cardwright("preset set Master Default BurnPrimary 0");
  run_cardwright("pref set BurnImageFolder ''");
  std::vector<std::string> isos;
  for (const auto& e : std::filesystem::directory_iterator(images)) isos.push_back(e.path());
  ASSERT_EQ(isos.size(), 1u) << out;
  EXPECT_THAT(isos[0], ::testing::EndsWith("A_001.iso"));  // the record key, then A: primary
  // What goes on a disc is read back from images in the burn tests; here: the run's copies.
  EXPECT_THAT(test::read_file(isos[0]), HasSubstr("IMG_20240517_0003.JPG"));
}

}  // namespace
}  // namespace cw
