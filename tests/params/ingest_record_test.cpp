// `cardwright ingest` as a user runs it: the master preset's settings with flag overrides,
// the client, project and card chosen by name, and the ingestion record it leaves behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/common/test_env.h"
#include "tests/database/db_fixture.h"
#include "tests/fixtures/sample_card.h"

namespace cw {
namespace {

using test::run_command;
using test::TempDir;

std::string q(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The newest ingestion: result, image_count, number_start, number_stop, params, client,
// project, card, notes (SQL null as "NULL"); empty texts when there is none.
std::vector<std::string> last_ingestion() {
  const std::string db =
      (test::test_root() / "home/.local/share/CardwrightPro/cw_main.sqlite3").string();
  // A file gains the params column with the first stored record.
  const bool has_params = test::raw_values(db, "select params from ingestion limit 0").empty();
  std::vector<std::string> row;
  for (const char* column : {"result", "image_count", "number_start", "number_stop",
                             has_params ? "params" : "null", "client.name", "project.name",
                             "card.name", "notes"})
    row.push_back(test::raw_values(
        db, std::string("select ifnull(") + column + ", 'NULL') from ingestion join project on "
                "project_sk = project_id join client on client_sk = client_id join card on "
                "card_sk = card_id order by ingestion_sk desc limit 1"));
  return row;
}

enum Col { kResult, kCount, kStart, kStop, kParams, kClient, kProject, kCard, kNotes };

// Image files below `dir`; each must have the sidecar the default preset's template makes.
std::size_t file_count(const std::string& dir) {
  std::size_t n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    if (!it->is_regular_file() || it->path().extension() == ".xmp") continue;
    ++n;
    std::filesystem::path sidecar = it->path();
    EXPECT_TRUE(std::filesystem::exists(sidecar.replace_extension(".xmp"))) << it->path();
  }
  return n;
}

struct IngestRecord : ::testing::Test {
  TempDir dir;
  std::string program = test::built_program("app/cardwright");
  std::string card = dir / "card", archive = dir / "archive";
  std::string out;
  void SetUp() override {
    fixtures::CardSpec spec;
    spec.count = 6;  // images 3 and 6 are raws
    ASSERT_EQ(fixtures::write_sample_card(card, spec).size(), 6u);
  }
  int run(const std::string& args) {
    return run_command(q(program) + " " + args + " 2>" + q(dir / "stderr"), &out);
  }
  // Ingests the sample card with the given options, the Default preset without a backup
  // unless they say otherwise.
  int ingest(const std::string& options,
             const std::string& preset = "--preset Default --no-backup") {
    return run("ingest " + preset + " --card " + q(card) + " " + options);
  }
  std::string err() { return test::read_file(dir / "stderr"); }
};

TEST_F(IngestRecord, ACommandLineIngestionLeavesACompleteRecord) {
  ASSERT_EQ(ingest("--primary " + q(archive) + " --client \"O'Brien\" --project '50% Reception'"
                   " --card-name '#7' --notes 'Hall B' --starting-number 1"),
            0)
      << out << err();
  EXPECT_EQ(file_count(archive), 6u);
  std::vector<std::string> r = last_ingestion();
  EXPECT_EQ(r[kResult], "SUCCESS");
  EXPECT_EQ(r[kCount], "6");
  EXPECT_EQ(r[kStart], "1");  // IMG_0001 .. IMG_0006 numbered by their file names
  EXPECT_EQ(r[kStop], "6");
  EXPECT_EQ(r[kClient], "O'Brien");
  EXPECT_EQ(r[kProject], "50% Reception");
  EXPECT_EQ(r[kCard], "#7");
  EXPECT_EQ(r[kNotes], "Hall B");

  const std::string& params = r[kParams];
  EXPECT_THAT(params, StartsWith("Source: " + card + "\n"));
  const std::size_t versions = params.find("\n\nCWversion: ");
  ASSERT_NE(versions, std::string::npos) << params;
  const std::string entries = params.substr(0, versions + 1);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), '\n'), 29);
  EXPECT_THAT(entries, HasSubstr("\nClient: O'Brien\nProject: 50% Reception\n"));
  EXPECT_THAT(out, HasSubstr("Primary Folder: " + archive + "\n"));

  // The same card again: every image is a duplicate, the numbering goes on from 7, an
  // existing client is selected rather than added twice, and the project and card chosen
  // last are taken again (no master preset was ever saved).
  ASSERT_EQ(ingest("--json --primary " + q(archive) + " --client \"O'Brien\""), 0) << err();
  EXPECT_EQ(out.front(), '{') << out;  // standard output is the JSON alone
  r = last_ingestion();
  EXPECT_EQ(r[kResult], "SUCCESS");
  EXPECT_EQ(r[kCount], "0");
  EXPECT_EQ(r[kClient], "O'Brien");
  EXPECT_EQ(r[kProject], "50% Reception");
  EXPECT_EQ(r[kCard], "#7");
  EXPECT_THAT(r[kParams], HasSubstr("\nStartNum: 7\n"));

  // The database macros read the rows the ingestion chose.
  const std::string by_db = dir / "by-db";
  ASSERT_EQ(ingest("--primary " + q(by_db) + " --client \"O'Brien\" --project '50% Reception'"
                   " --card-name '#7' --folder-format "
                   "'{@client.name}/{@project.name}/{@card.name}'"),
            0)
      << out << err();
  EXPECT_EQ(file_count(by_db + "/O'Brien/50% Reception/#7"), 6u) << out;
  ASSERT_EQ(run("db clients"), 0);
  EXPECT_EQ(out.find("O'Brien"), out.rfind("O'Brien")) << out;
}

TEST_F(IngestRecord, PresetValuesReachTheListAndFlagsOverrideThem) {
  for (const char* setting : {"ExtensionsMRU 'Include: JPG'", "WantBackup 0",
                              "NumberRangeSource 2"})
    ASSERT_EQ(run(std::string("preset set Master Studio ") + setting), 0) << err();
  ASSERT_EQ(run("preset set Master Studio PrimaryFolder " + q(archive)), 0);

  ASSERT_EQ(ingest("--client Smith --project Bride --card-name CF1", "--preset Studio"), 0)
      << out << err();
  EXPECT_EQ(file_count(archive), 4u);  // JPEGs only
  std::vector<std::string> r = last_ingestion();
  EXPECT_THAT(r[kParams], HasSubstr("\nPrimary: " + archive + "\n"));
  EXPECT_THAT(r[kParams], HasSubstr("\nWantPre: 0\n"));
  EXPECT_THAT(r[kParams], HasSubstr("\nNRsource: 2\n"));
  EXPECT_THAT(r[kParams], HasSubstr("\nInclude?: 1\nExtensions: JPG\n"));
  EXPECT_EQ(r[kCount], "4");

  // A flag beats the preset; the client, project and card chosen last are remembered.
  const std::string raws = dir / "raws";
  ASSERT_EQ(ingest("--extensions cr2 --primary " + q(raws), "--preset Studio"), 0) << out << err();
  EXPECT_EQ(file_count(raws), 2u);
  r = last_ingestion();
  EXPECT_THAT(r[kParams], HasSubstr("\nPrimary: " + raws + "\n"));
  EXPECT_THAT(r[kParams], HasSubstr("\nInclude?: 1\nExtensions: CR2\n"));
  EXPECT_EQ(r[kClient], "Smith");
  EXPECT_EQ(r[kProject], "Bride");
  EXPECT_EQ(r[kCard], "CF1");

  EXPECT_EQ(ingest("", "--preset Nope"), 1);
  EXPECT_THAT(err(), HasSubstr("There is no master preset named \"Nope\"."));
}

TEST_F(IngestRecord, EveryStopLeavesItsReasonInTheRecord) {
  // A fresh master preset wants a pre-conversion backup, and none is configured.
  EXPECT_EQ(ingest("--primary " + q(archive), "--preset Default"), 1);
  std::vector<std::string> r = last_ingestion();
  EXPECT_EQ(r[kResult], "No pre-conversion backup folder") << out << err();
  EXPECT_FALSE(std::filesystem::exists(archive));

  EXPECT_EQ(run("ingest --preset Default --no-backup --card " + q(dir / "gone") + " --primary " +
                q(archive)),
            1);
  r = last_ingestion();
  EXPECT_THAT(r[kResult], HasSubstr("error opening path"));
  EXPECT_THAT(r[kResult], EndsWith(" / Terminated with error"));

  // Without "WantIngestionDetails" nothing is stored or logged for the record.
  ASSERT_EQ(run("pref set WantIngestionDetails 0"), 0);
  ASSERT_EQ(ingest("--primary " + q(archive)), 0);
  r = last_ingestion();
  EXPECT_EQ(r[kResult], "SUCCESS");
  EXPECT_EQ(r[kParams], "NULL");
  ASSERT_EQ(run("pref set WantIngestionDetails 1"), 0);
}

}  // namespace
}  // namespace cw
