// The parameter list built from the master preset, its summary and its record.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "foundation/log.h"
#include "platform/paths.h"
#include "settings/param.h"
#include "settings/param_record.h"
#include "settings/preferences.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct ParamBuild : ::testing::Test {
  CWParam param;
  BuildRequest request;
  void SetUp() override {
    ASSERT_TRUE(open_settings_store(ensure_user_folder()));
    param.load_presets();
    test::captured_ui().clear();
    pref_put_int("WantIngestionDetails", 1);
    request.card_folder = "/media/card/DCIM";
    request.primary_folder = "/photos";
    request.backup_folder = "/backup/pre";
    request.backup_folder_post = "/backup/post";
    request.ingestion_key = 42;
    request.client = "O'Brien";
    request.project = "Wedding";
    request.folders = {"/t", "/cr", "/lr"};
  }
  const std::string& entry(int pos) { return param.params.text(pos); }
};

TEST_F(ParamBuild, PresetValuesReachTheListAndTheSummary) {
  CWPreset& m = param.master();
  const std::pair<const char*, int> numbers[] = {
      {"KeepRaw", 1},       {"VerifyOnly", 0},        {"Embed", 1},
      {"WantBackup", 1},    {"WantBackupPost", 0},    {"WantPartition", 0},
      {"XMPtoJPG", 1},      {"NumberRangeDigits", 6}, {"NumberRangeSource", 2}};
  for (const auto& [key, value] : numbers) m.put_int(key, value);
  m.put_str("ConverterApp", "/opt/dng/convert");
  m.put_str("Preview", "-p1");
  m.put_str("PartitionSize", "250");
  m.put_str("CRDefaults", "Portrait (LR User Preset)");
  ASSERT_TRUE(param.store_extension_filter(true, "jpg CR2"));
  set_starting_number("120");

  ASSERT_TRUE(param.build(request));
  ASSERT_EQ(param.params.count(), kParamCount);
  EXPECT_EQ(entry(kParamConverterPath), "/opt/dng/convert");
  EXPECT_EQ(entry(kParamPartitionSize), "1000000");  // partitions off: the preset size is ignored
  EXPECT_EQ(entry(kParamIncludeExtensions), "1");
  EXPECT_EQ(entry(kParamExtensions), "jpg CR2");
  EXPECT_EQ(entry(kParamEmbed), "-e");
  EXPECT_EQ(entry(kParamSidecarPath), "/t/Cardwright-IPTC.3.4.xmp");
  EXPECT_EQ(entry(kParamStartingNumber), "120");
  EXPECT_EQ(entry(kParamNumberRangeDigits), "6");
  EXPECT_EQ(entry(kParamCRDefaults), "/lr/User Presets/Portrait.lrtemplate");
  EXPECT_EQ(entry(kParamNumberRangeSource), "2");
  EXPECT_EQ(entry(kParamWantXMPtoJPG), "1");
  EXPECT_EQ(last_db_choice(param, "Ingestion"), "42");

  const std::string& pane = test::captured_ui().pane;
  EXPECT_NE(pane.find("Card Folder: /media/card/DCIM\nPrimary Folder: /photos\n"
                      "Backup Folder (Pre-Conversion): /backup/pre\n"
                      "Backup Folder (Post-Conversion): /backup/post [not used]\n"
                      "Run Adobe DNG Converter: Yes (Medium-size JPEG preview; embed raw)\n"
                      "Metadata Template: Cardwright-IPTC.3.4\n"
                      "Camera Raw/Develop Settings: Portrait (LR User Preset)\n"
                      "Primary Folder Arrangement:{@datetimeany"),
            std::string::npos)
      << pane;
  EXPECT_THAT(pane, HasSubstr("Starting Number: 120\n"));

  // Switched off, the same settings give the plain values; a chosen image list replaces the
  // card folder in the summary.
  m.put_int("KeepRaw", 0);
  m.put_int("WantPartition", 1);
  m.put_int("NumberRangeDigits", 9);
  m.put_int("EnableMeta", 0);
  request.image_list = std::vector<std::string>{"/media/card/DCIM/IMG_0001.JPG"};
  test::captured_ui().clear();
  ASSERT_TRUE(param.build(request));
  EXPECT_EQ(entry(kParamConverterPath), "none");
  EXPECT_EQ(entry(kParamPartitionSize), "250");
  EXPECT_EQ(entry(kParamNumberRangeDigits), "4");
  EXPECT_EQ(entry(kParamSidecarPath), "");
  ASSERT_TRUE(param.params.file_array);
  EXPECT_THAT(test::captured_ui().pane,
              HasSubstr("Card Folder: [multi-camera or user-chosen image files]\n"));
  EXPECT_THAT(test::captured_ui().pane, HasSubstr("Metadata Template: [disabled]\n"));
}

TEST_F(ParamBuild, DevelopSettingsPathsAndLengthFailures) {
  const DevelopFolders f{"/t", "/cr", "/lr"};
  std::string path, why;
  for (auto [name, expected] : {std::pair{"[none]", ""}, {"None", ""},
                                {"Vivid (LR)", "/lr/Vivid.lrtemplate"},
                                {"Vivid", "/cr/Vivid.xmp"}}) {
    EXPECT_TRUE(develop_settings_path(name, f, path, why)) << name;
    EXPECT_EQ(path, expected);
  }

  EXPECT_TRUE(develop_settings_path(std::string(199, 'n'), f, path, why));
  EXPECT_FALSE(develop_settings_path(std::string(200, 'n'), f, path, why));
  // "/cr/" + name + ".xmp" of exactly 1000 characters passes; one more fails.
  DevelopFolders deep{"/t", "/" + std::string(990, 'd') + "/cr", "/lr"};
  const std::string name(1000 - deep.camera_raw.size() - 5, 'n');
  ASSERT_LT(name.size(), kMaxDevelopName);
  EXPECT_TRUE(develop_settings_path(name, deep, path, why));
  EXPECT_EQ(path.size(), 1000u);
  EXPECT_FALSE(develop_settings_path(name + "n", deep, path, why));

  // build refuses each of them, with the message it was given.
  auto refused = [&](const char* message) {
    test::captured_ui().clear();
    EXPECT_FALSE(param.build(request));
    const auto& alerts = test::captured_ui().alerts;
    EXPECT_TRUE(!alerts.empty() && alerts.back() == message) << message;
  };
  param.master().put_str("CRDefaults", std::string(200, 'n'));
  refused("CRdefaults/LRdevelop preset name is too long");
  request.folders = deep;
  param.master().put_str("CRDefaults", name + "n");
  refused("CRdefaults/LRdevelop paths are too long");
  param.master().put_str("CRDefaults", "[none]");
  request.folders.templates = "/" + std::string(1000, 't');
  refused("metadata template path is too long");
  param.master().put_int("EnableMeta", 0);  // no template, no path to check
  EXPECT_TRUE(param.build(request));
}

TEST_F(ParamBuild, RecordListsTheEntriesInOrderThenTheVersions) {
  ASSERT_TRUE(param.build(request));
  int stored_key = 0;
  std::string stored;
  ASSERT_TRUE(param.record(42, [&](int k, const std::string& t) {
    stored_key = k;
    stored = t;
    return true;
  }));
  EXPECT_EQ(stored_key, 42);

  std::istringstream in(stored);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 32u);
  EXPECT_EQ(lines[1], "ImgList: [no image list]");
  EXPECT_EQ(lines[3], "BckupPre: /backup/pre");
  EXPECT_EQ(lines[20], "MergeXMP: 0");
  EXPECT_EQ(lines[25], "IngstID: 42");
  EXPECT_EQ(lines[26], "[not used]: 1");
  EXPECT_THAT(lines[28], StartsWith("ConverterParams: "));
  EXPECT_EQ(lines[30].substr(lines[30].size() - 6), " Linux");
  EXPECT_THAT(test::read_file(log_path()),
              HasSubstr("Ingestion Parameters\nSource: /media/card/DCIM"));

  request.image_list = std::vector<std::string>{};
  ASSERT_TRUE(param.build(request));
  ASSERT_TRUE(param.record(43, nullptr));
  EXPECT_THAT(param.record_text, HasSubstr("\nImgList: [image list]\n"));

  // Switched off: nothing is built, stored or logged.
  pref_put_int("WantIngestionDetails", 0);
  const std::string before = param.record_text;
  bool called = false;
  EXPECT_FALSE(param.record(44, [&](int, const std::string&) { return called = true; }));
  EXPECT_FALSE(called);
  EXPECT_EQ(param.record_text, before);
}

}  // namespace
}  // namespace cw
