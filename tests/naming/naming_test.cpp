// Naming of images: number texts, forbidden characters, number ranges and their folders.
#include <gtest/gtest.h>

#include <filesystem>

#include "ingest/naming.h"
#include "ingest/number_range.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::TempDir;
using test::write_file;

// A run context over an archive folder, with one real source file every record points at.
struct Naming {
  TempDir dir;
  SingleSlotControl control;
  EngineContext ctx{EngineJob{&control, 0, "Naming"}};
  std::string source = dir / "card/IMG_0001.JPG";

  Naming() {
    write_file(source, "image bytes");
    ctx.first_copy_root = dir / "archive";
    ctx.name_format = "{@filename}";
    ctx.number_range_digits = 4;
  }
  ImageRecord record(const std::string& base = "IMG_0001") {
    ImageRecord r;
    r.base_name = base;
    r.extension_text = &ctx.folders.intern("JPG");
    r.set_source(ctx.folders, source);
    return r;
  }
  // Names one image, which must succeed.
  ImageRecord named(const std::string& base = "IMG_0001") {
    ImageRecord r = record(base);
    std::string message;
    EXPECT_TRUE(name_image(ctx, r, message)) << message;
    return r;
  }
  // Names one image; its target folder, or "FAILED: message".
  std::string folder_of() {
    ImageRecord r = record();
    std::string message;
    return name_image(ctx, r, message) ? r.target_folder() : "FAILED: " + message;
  }
};

TEST(Naming, NumberTextsComeFromFileNamesOrTheSequence) {
  EXPECT_EQ(number_text_for(1, "DSC_0123", 7), "0123");
  EXPECT_EQ(number_text_for(1, "IMG_12345678", 7), "1234");
  EXPECT_EQ(number_text_for(1, "A1", 7), "");
  EXPECT_EQ(number_text_for(1, "ABCDEFG", 7), "");  // seven characters are not enough
  EXPECT_EQ(number_text_for(2, "DSC_0123", 42), "000042");
  Naming n;  // naming records the number it used
  n.ctx.number_range_source = 1;
  EXPECT_EQ(n.named("DSC_0123").number_text, "0123");
}

TEST(Naming, NamesAreExpandedAndForbiddenCharactersReplaced) {
  Naming n;
  n.ctx.name_format = "a/b:c";
  EXPECT_EQ(n.named().new_base_name, "a-b-c");
  EXPECT_EQ(replace_forbidden_name_characters("%*/:<>\\ok"), "-------ok");

  // Sequence numbers advance image by image; an empty expansion keeps the source's name.
  n.ctx.name_format = "{@sequence}_{@filename,-4}";
  EXPECT_EQ(n.named().new_base_name, "000002_0001");
  n.ctx.name_format = "{@notes}";
  EXPECT_EQ(n.named().new_base_name, "IMG_0001");

  // Leading separators of the folder format are skipped; an empty result is the root itself.
  n.ctx.folder_format = " /:\\{@extension}/x  ";
  EXPECT_EQ(n.folder_of(), "JPG/x");
  n.ctx.folder_format = "{@notes}";
  EXPECT_EQ(n.folder_of(), ".");

  // Unique ids differ from one moment to the next and are hex digits only.
  std::string id = make_unique_id();
  EXPECT_GE(id.size(), 13u);
  EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos) << id;
}

TEST(Naming, NumberRangePartitionsAndTheTextAfterTheMacro) {
  Naming n;
  n.ctx.folder_format = "{@numberrange}";
  n.ctx.partition_size = 300;
  for (int i = 1; i <= 450; ++i) {
    std::string folder = n.folder_of();
    ASSERT_EQ(folder, i <= 300 ? "#NNN-0000" : "#NNN-0001") << "image " << i;
    fsys::create_directories(n.ctx.first_copy_root + "/" + folder);
  }
  NumberRangeState& ranges = n.control.number_ranges();
  ASSERT_EQ(ranges.folders.size(), 2u);
  EXPECT_EQ(ranges.folders[0].lowest, 301);  // newest first
  EXPECT_EQ(ranges.folders[1].highest, 300);
  EXPECT_EQ(ranges.lowest, 1);
  EXPECT_EQ(ranges.highest, 450);

  // After the batch the folders carry their ranges.
  ASSERT_TRUE(number_range_rename(ranges, n.control, n.ctx.first_copy_root, std::nullopt,
                                  std::nullopt, nullptr));
  EXPECT_TRUE(fsys::is_directory(n.ctx.first_copy_root + "/0001-0300"));
  EXPECT_TRUE(fsys::is_directory(n.ctx.first_copy_root + "/0301-0450"));
  EXPECT_FALSE(fsys::exists(n.ctx.first_copy_root + "/#NNN-0000"));

  // A "/" and another folder may follow the macro; a letter may not.
  n.ctx.folder_format = "shoot/{@numberrange}/raw";
  EXPECT_EQ(n.folder_of(), "shoot/#NNN-0001/raw");
  n.ctx.folder_format = "{@numberrange}x";
  EXPECT_EQ(n.folder_of(), "FAILED: can't make image folder path");
  EXPECT_NE(n.ctx.report.find("\nERROR: Text appears after {@numberrange} macro.\n"),
            std::string::npos);
}

TEST(Naming, LeftoverPlaceholderFoldersAreSkipped) {
  Naming n;
  n.ctx.folder_format = "{@numberrange}";
  n.ctx.number_range_digits = 5;
  // A stopped ingestion left its first partition folder behind.
  fsys::create_directories(n.ctx.first_copy_root + "/#NNNN-00000");
  EXPECT_EQ(n.folder_of(), "#NNNN-00001");
  fsys::create_directories(n.ctx.first_copy_root + "/#NNNN-00001");
  // This batch's own folder is used again.
  EXPECT_EQ(n.folder_of(), "#NNNN-00001");
}

TEST(NumberRange, RenameWrapsAroundAndTakesTheFirstFreeLetter) {
  TempDir dir;
  SingleSlotControl control;
  NumberRangeState& s = control.number_ranges();
  number_range_choose(s, 4);
  number_range_choose(s, 6);  // the first choice of the batch stands
  EXPECT_EQ(s.placeholder, "#NNN-RRR#");
  EXPECT_EQ(s.placeholder.size(), s.zero_text.size());

  const std::string wrap = dir / "#NNN-0000", taken = dir / "#NNN-0001";
  for (const std::string& p : {wrap, taken}) fsys::create_directories(p);
  for (const char* number : {"9998", "9999", "10000", "10003"}) number_range_add(s, wrap, number);
  number_range_add(s, taken, "511");
  number_range_add(s, taken, "420");
  ASSERT_NE(number_range_find(s, wrap), nullptr);
  EXPECT_EQ(number_range_find(s, dir / "#NNN-0002"), nullptr);

  // Another ingestion's folder already holds the name of the second range.
  fsys::create_directories(dir / "0420-0511");
  control.add_burn_folder(BurnList::kPrimary, taken + "/sub");
  long stored_low = -2, stored_high = -2;
  ASSERT_TRUE(number_range_rename(s, control, dir.str(), std::nullopt, std::nullopt,
                                  [&](long low, long high) {
                                    stored_low = low;
                                    stored_high = high;
                                    return true;
                                  }));
  EXPECT_TRUE(fsys::is_directory(dir / "9998-0003"));
  EXPECT_TRUE(fsys::is_directory(dir / "0420-0511a"));
  EXPECT_EQ(control.burn_folders(BurnList::kPrimary),
            std::vector<std::string>{dir / "0420-0511a/sub"});
  EXPECT_EQ(stored_low, 420);
  EXPECT_EQ(stored_high, 10003);
  EXPECT_EQ(s.viewer_folder, dir / "9998-0003");

  number_range_reset(s);
  EXPECT_TRUE(s.folders.empty());
  EXPECT_EQ(s.lowest, -1);
}

}  // namespace
}  // namespace cw
