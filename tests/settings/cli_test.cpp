// The `cardwright preset`, `pref` and `vocab` commands and the files they leave.
#include <filesystem>

#include "platform/paths.h"
#include "tests/fixtures/programs.h"
#include "tests/settings/settings_env.h"

namespace cw {
namespace {

namespace fs = std::filesystem;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(user_folder());
    fs::remove(profile_path());
  }
  int run(const std::string& args, std::string* out = nullptr) {
    return test::run_cardwright(args, out);
  }
};

TEST_F(CliTest, PresetRoundTripFromTheShellLeavesTheDocumentedFiles) {
  std::string out;
  ASSERT_EQ(run("preset set 'file handling' Raw KeepRaw 1"), 0);
  ASSERT_EQ(run("preset set File-Handling Raw ExtensionsMRU 'Include: .NEF  .CR2'"), 0);
  ASSERT_EQ(run("preset set file-handling Raw KeepRaw yes", &out), 2);
  ASSERT_EQ(run("preset list 'File Handling'", &out), 0);
  EXPECT_EQ(out, "* Raw\n");
  ASSERT_EQ(run("preset show 'FILE HANDLING' Raw", &out), 0);
  EXPECT_THAT(out, HasSubstr("KeepRaw\t1\n"));
  EXPECT_THAT(out, HasSubstr("ExtensionsMRU\tInclude: NEF CR2\nExtensionsMRU\tExclude: BC"));

  // Select it into the master, rename it, and the master follows.
  ASSERT_EQ(run("preset select 'file handling' Raw"), 0);
  ASSERT_EQ(run("preset rename 'file handling' Raw Converted"), 0);
  ASSERT_EQ(run("preset show master", &out), 0);
  EXPECT_THAT(out, HasSubstr("PresetFile\tConverted\n"));  // not the default
  EXPECT_THAT(out, HasSubstr("KeepRaw\t1\n"));
  EXPECT_EQ(run("preset save-as 'file handling' Copy"), 0);
  EXPECT_EQ(test::paths_below(user_folder()),
            (std::vector<std::string>{"Preset_File/Converted", "Preset_File/Copy",
                                      "Preset_Master/Default", "cw_log.txt"}));

  // Deleting asks first; without a terminal or --yes nothing is deleted.
  EXPECT_EQ(run("preset delete 'file handling' Converted", &out), 1);
  EXPECT_TRUE(fs::exists(user_folder() + "/Preset_File/Converted"));
  EXPECT_EQ(run("preset delete 'file handling' Converted --yes"), 0);
  EXPECT_FALSE(fs::exists(user_folder() + "/Preset_File/Converted"));
  ASSERT_EQ(run("preset show master", &out), 0);
  EXPECT_THAT(out, HasSubstr("PresetFile\tDefault\t(default)\n"));
  EXPECT_THAT(out, Not(HasSubstr("CWParam-18")));
}

TEST_F(CliTest, PreferencesAndVocabularyFromTheShell) {
  std::string out;
  ASSERT_EQ(run("pref get PresetReminder", &out), 0);
  EXPECT_EQ(out, "1\n");
  ASSERT_EQ(run("pref set presetreminder 0"), 0);
  ASSERT_EQ(run("pref get PresetReminder", &out), 0);
  EXPECT_EQ(out, "0\n");

  ASSERT_EQ(run("vocab add Keywords Animals"), 0);
  ASSERT_EQ(run("vocab add keywords/animals Dog"), 0);
  ASSERT_EQ(run("vocab add 'Catalog Sets' Portfolio"), 0);
  ASSERT_EQ(run("vocab check Keywords/Animals/Dog"), 0);
  ASSERT_EQ(run("vocab show", &out), 0);
  EXPECT_EQ(out, "Catalog Sets\n  [ ] Portfolio\nKeywords\n  [ ] Animals\n    [x] Dog\n");
  EXPECT_EQ(run("vocab delete Keywords"), 1);
  EXPECT_EQ(run("vocab check Keywords/Cat"), 1);
  ASSERT_EQ(run("vocab delete Keywords/Animals"), 0);
  ASSERT_EQ(run("vocab show", &out), 0);
  EXPECT_EQ(out, "Catalog Sets\n  [ ] Portfolio\nKeywords\n");
}

}  // namespace
}  // namespace cw
