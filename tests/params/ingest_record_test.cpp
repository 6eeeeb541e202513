// `cardwright ingest` as a user runs it: the master preset's settings with flag overrides,
// the client, project and card chosen by name, and the ingestion record it leaves behind.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <sstream>

#include "tests/common/test_env.h"
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

// One row of the newest ingestion: result, image_count, number_start, number_stop, params,
// client, project, card, notes (SQL null as "NULL").
std::vector<std::string> last_ingestion() {
  const std::string db_path =
      (test::test_root() / "home/.local/share/CardwrightPro/cw_main.sqlite3").string();
  sqlite3* db = nullptr;
  std::vector<std::string> row;
  if (sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    // A file gains the params column with the first stored record.
    const bool has_params =
        sqlite3_prepare_v2(db, "select params from ingestion", -1, &st, nullptr) == SQLITE_OK;
    sqlite3_finalize(st);
    const std::string sql = std::string("select result, image_count, number_start, number_stop, ") +
        (has_params ? "params" : "null") + ", client.name, "
        "project.name, card.name, notes from ingestion join project on project_sk = project_id "
        "join client on client_sk = client_id join card on card_sk = card_id "
        "order by ingestion_sk desc limit 1";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        const unsigned char* t = sqlite3_column_text(st, i);
        row.push_back(t ? reinterpret_cast<const char*>(t) : "NULL");
      }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
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
  std::string err() { return test::read_file(dir / "stderr"); }
};

TEST_F(IngestRecord, ACommandLineIngestionLeavesACompleteRecord) {
  ASSERT_EQ(run("ingest --preset Default --no-backup --card " + q(card) + " --primary " +
                q(archive) + " --client \"O'Brien\" --project '50% Reception' --card-name '#7' --notes 'Hall B'" +
                " --starting-number 1"),
            0)
      << out << err();
  EXPECT_EQ(file_count(archive), 6u);
  std::vector<std::string> r = last_ingestion();
  ASSERT_EQ(r.size(), 9u);
  EXPECT_EQ(r[kResult], "SUCCESS");
  EXPECT_EQ(r[kCount], "6");
  EXPECT_EQ(r[kStart], "1");  // IMG_0001 .. IMG_0006 numbered by their file names
  EXPECT_EQ(r[kStop], "6");
  EXPECT_EQ(r[kClient], "O'Brien");
  EXPECT_EQ(r[kProject], "50% Reception");
  EXPECT_EQ(r[kCard], "#7");
  EXPECT_EQ(r[kNotes], "Hall B");

  const std::string& params = r[kParams];
  EXPECT_EQ(params.rfind("Source: " + card + "\n", 0), 0u) << params;
  const std::size_t versions = params.find("\n\nCWversion: ");
  ASSERT_NE(versions, std::string::npos) << params;
  const std::string entries = params.substr(0, versions + 1);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), '\n'), 29);
  EXPECT_NE(entries.find("\nClient: O'Brien\nProject: 50% Reception\n"), std::string::npos);
  EXPECT_NE(out.find("Primary Folder: " + archive + "\n"), std::string::npos) << out;

  // The same card again: every image is a duplicate, the numbering goes on from 7, and an
  // existing client is selected rather than added twice.
  ASSERT_EQ(run("ingest --preset Default --no-backup --json --card " + q(card) + " --primary " + q(archive) +
                " --client \"O'Brien\""),
            0)
      << err();
  EXPECT_EQ(out.front(), '{') << out;  // standard output is the JSON alone
  r = last_ingestion();
  ASSERT_EQ(r.size(), 9u);
  EXPECT_EQ(r[kResult], "SUCCESS");
  EXPECT_EQ(r[kCount], "0");
  EXPECT_EQ(r[kClient], "O'Brien");
  EXPECT_EQ(r[kProject], "[unknown]");
  EXPECT_EQ(r[kCard], "[unknown]");
  EXPECT_NE(r[kParams].find("\nStartNum: 7\n"), std::string::npos) << r[kParams];

  // The database macros read the rows the ingestion chose.
  const std::string by_db = dir / "by-db";
  ASSERT_EQ(run("ingest --preset Default --no-backup --card " + q(card) + " --primary " + q(by_db) +
                " --client \"O'Brien\" --project '50% Reception' --card-name '#7'" +
                " --folder-format '{@client.name}/{@project.name}/{@card.name}'"),
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

  ASSERT_EQ(run("ingest --preset Studio --card " + q(card) + " --client Smith --project Bride --card-name CF1"),
            0)
      << out << err();
  EXPECT_EQ(file_count(archive), 4u);  // JPEGs only
  std::vector<std::string> r = last_ingestion();
  ASSERT_EQ(r.size(), 9u);
  EXPECT_NE(r[kParams].find("\nPrimary: " + archive + "\n"), std::string::npos) << r[kParams];
  EXPECT_NE(r[kParams].find("\nWantPre: 0\n"), std::string::npos);
  EXPECT_NE(r[kParams].find("\nNRsource: 2\n"), std::string::npos);
  EXPECT_NE(r[kParams].find("\nInclude?: 1\nExtensions: JPG\n"), std::string::npos);
  EXPECT_EQ(r[kCount], "4");

  // A flag beats the preset; the client, project and card chosen last are remembered.
  const std::string raws = dir / "raws";
  ASSERT_EQ(run("ingest --preset Studio --card " + q(card) + " --extensions cr2 --primary " +
                q(raws)),
            0)
      << out << err();
  EXPECT_EQ(file_count(raws), 2u);
  r = last_ingestion();
  ASSERT_EQ(r.size(), 9u);
  EXPECT_NE(r[kParams].find("\nPrimary: " + raws + "\n"), std::string::npos) << r[kParams];
  EXPECT_NE(r[kParams].find("\nInclude?: 1\nExtensions: CR2\n"), std::string::npos);
  EXPECT_EQ(r[kClient], "Smith");
  EXPECT_EQ(r[kProject], "Bride");
  EXPECT_EQ(r[kCard], "CF1");

  EXPECT_EQ(run("ingest --preset Nope --card " + q(card)), 1);
  EXPECT_NE(err().find("There is no master preset named \"Nope\"."), std::string::npos) << err();
}

TEST_F(IngestRecord, EveryStopLeavesItsReasonInTheRecord) {
  // A fresh master preset wants a pre-conversion backup, and none is configured.
  EXPECT_EQ(run("ingest --preset Default --card " + q(card) + " --primary " + q(archive)), 1);
  std::vector<std::string> r = last_ingestion();
  ASSERT_EQ(r.size(), 9u) << out << err();
  EXPECT_EQ(r[kResult], "No pre-conversion backup folder");
  EXPECT_FALSE(std::filesystem::exists(archive));

  EXPECT_EQ(run("ingest --preset Default --no-backup --card " + q(dir / "gone") + " --primary " + q(archive)), 1);
  r = last_ingestion();
  ASSERT_EQ(r.size(), 9u);
  EXPECT_NE(r[kResult].find("error opening path"), std::string::npos) << r[kResult];
  EXPECT_EQ(r[kResult].substr(r[kResult].size() - 24), " / Terminated with error");

  // Without "WantIngestionDetails" nothing is stored or logged for the record.
  ASSERT_EQ(run("pref set WantIngestionDetails 0"), 0);
  ASSERT_EQ(run("ingest --preset Default --no-backup --card " + q(card) + " --primary " +
                q(archive)),
            0);
  r = last_ingestion();
  ASSERT_EQ(r.size(), 9u);
  EXPECT_EQ(r[kResult], "SUCCESS");
  EXPECT_EQ(r[kParams], "NULL");
  ASSERT_EQ(run("pref set WantIngestionDetails 1"), 0);
}

}  // namespace
}  // namespace cw
