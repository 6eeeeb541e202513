// Verification and repair of rows whose client, project or card was lost.
#include "database/repair.h"

#include <filesystem>

#include "tests/database/db_fixture.h"

namespace cw {
namespace {

using test::backups_in;
using test::captured_ui;
using test::CatalogueTest;
using test::raw_exec;
using test::raw_values;
namespace fs = std::filesystem;

// The card an ingestion row of the file points at.
std::string card_of(const std::string& file, int key) {
  return raw_values(file, "select card_id from ingestion where ingestion_sk = " +
                              std::to_string(key));
}

TEST_P(CatalogueTest, LostRowsAreRepairedAfterABackup) {
  open_db();
  ASSERT_GT(db.client_add("Acme", "", false), 0);
  int solo = db.client_add("Solo", "", true);
  int catalogue = db.project_add("Catalogue", "Acme", std::nullopt, "");
  int brochure = db.project_add("Brochure", "Acme", std::nullopt, "");
  int card = db.card_add("CF-1", "");
  int i1 = db.ingestion_insert(catalogue, card, 1, 10, 10, std::nullopt);
  int i2 = db.ingestion_insert(brochure, 1, 11, 20, 10, std::nullopt);
  int i3 = db.ingestion_insert(1, 1, 21, 30, 10, std::nullopt);
  ASSERT_GT(i3, 0);
  // Lose Solo's only project, the card behind ingestion 1 and the project behind ingestion 2,
  // and leave a project whose client is gone.
  raw_exec(path, "delete from project where client_id = " + std::to_string(solo) +
                     "; delete from card where card_sk = " + std::to_string(card) +
                     "; delete from project where project_sk = " + std::to_string(brochure) +
                     "; insert into project (client_id, name, created_dt) "
                     "values(77, 'Stray', 'x');");

  std::string text;
  EXPECT_FALSE(db_verify(db, text));
  EXPECT_NE(text.find("cards: 1\nIngestion records referencing nonexistent projects: 1\n"
                      "Project records referencing nonexistent clients: 1\nClient records with "
                      "no projects: 1\n\nWARNING: Verification errors detected.\n"),
            std::string::npos)
      << text;

  captured_ui().clear();
  ASSERT_TRUE(db_startup_check(db)) << captured_ui().pane;
  const std::string& pane = captured_ui().pane;
  EXPECT_THAT(pane, StartsWith("\nDatabase repair message(s):\n"));
  EXPECT_THAT(pane, HasSubstr("Existing (unrepaired) database backed up to " + backup_folder() +
                              "/" + backup_stem()));
  EXPECT_THAT(pane, HasSubstr("Verification errors repaired OK.\n"));
  ASSERT_EQ(captured_ui().alerts.size(), 1u);
  EXPECT_THAT(captured_ui().alerts[0], StartsWith("Database inconsistencies were repaired with "
                                                  "no data loss.\n\nPlease send email to "));

  // The backup, named after the time, holds the unrepaired catalogue, nulls kept.
  const std::vector<std::string> backups = backups_in(backup_folder());
  ASSERT_EQ(backups.size(), 1u);
  const std::string& backup = backups[0];
  EXPECT_THAT(fs::path(backup).filename().string(),
              MatchesRegex(backup_stem() + "[0-9]{8}_[0-9]{6}\\.sqlite3"));
  EXPECT_EQ(raw_values(backup, "select count(*) from card"), "1");
  EXPECT_EQ(card_of(backup, i1), std::to_string(card));
  EXPECT_EQ(raw_values(backup, "select count(*) from client where hidden is null"), "3");
  EXPECT_EQ(raw_values(backup, "select name from project where client_id = 77"), "Stray");

  // Every orphan now points at a hidden "[unknown]" row.
  int unknown_card = db.unknown_card();
  int unknown_client = db.unknown_client();
  int unknown_project = db.unknown_project(unknown_client);
  EXPECT_EQ(card_of(path, i1), std::to_string(unknown_card));
  EXPECT_EQ(raw_values(path, "select project_id from ingestion where ingestion_sk = " +
                                 std::to_string(i2)),
            std::to_string(unknown_project));
  EXPECT_EQ(raw_values(path, "select client_id from project where name = 'Stray'"),
            std::to_string(unknown_client));
  EXPECT_EQ(raw_values(path, "select name from project where client_id = " + std::to_string(solo)),
            "[unknown]");
  EXPECT_EQ(raw_values(path, "select count(*) from ingestion"), "3");
  EXPECT_EQ(db.list_cards()->row_count(), 1u);  // the unknown card stays hidden

  // Repaired means clean: verified without another backup or a change, and the start-up
  // check says nothing.
  std::string again;
  bool repairs = true;
  ASSERT_TRUE(db_repair(db, again, repairs));
  EXPECT_FALSE(repairs);
  EXPECT_EQ(again,
            "Ingestion records referencing nonexistent cards: 0\n"
            "Ingestion records referencing nonexistent projects: 0\n"
            "Project records referencing nonexistent clients: 0\n"
            "Client records with no projects: 0\n"
            "\nVerified - No errors detected.\n"
            "Verified - No errors detected or repaired.\n");
  EXPECT_EQ(backups_in(backup_folder()).size(), 1u);
  EXPECT_EQ(raw_values(path, "select count(*) from client"), "4");
  captured_ui().clear();
  EXPECT_TRUE(db_startup_check(db));
  EXPECT_TRUE(captured_ui().alerts.empty());
}

TEST_P(CatalogueTest, FileThatCannotBeBackedUpIsNotRepaired) {
  if (server()) GTEST_SKIP() << "about the file's name";
  path = dir / "cw_main.db";
  open_db();
  raw_exec(path, "delete from project");
  std::string text;
  bool repairs = true;
  EXPECT_FALSE(db_repair(db, text, repairs));
  EXPECT_FALSE(repairs);
  EXPECT_THAT(text, HasSubstr("Can't backup database - path has wrong extension"));
  EXPECT_EQ(raw_values(path, "select count(*) from project"), "0");

  std::string error;
  EXPECT_EQ(db_backup_path("/x/" + std::string(990, 'a') + ".sqlite3", 0, error), "");
  EXPECT_EQ(error, "Can't backup database - path too long");
  captured_ui().clear();
  EXPECT_FALSE(db_startup_check(db));
  ASSERT_EQ(captured_ui().alerts.size(), 1u);
  EXPECT_THAT(captured_ui().alerts[0], StartsWith("Error occured trying to repair database "
                                                  "inconsistencies. No repairs or other changes "
                                                  "were made."));
}

TEST_P(CatalogueTest, FailingRepairStatementUndoesTheWholeRepair) {
  open_db();
  int card = db.card_add("CF-1", "");
  int key = db.ingestion_insert(1, card, 1, 2, 2, std::nullopt);
  const std::string refusal =
      server() ? "create function refuse() returns trigger language plpgsql as $$ begin "
                 "raise exception 'project updates refused'; end $$;"
                 "create trigger refuse before update on project for each row execute "
                 "function refuse();"
               : "create trigger refuse before update on project begin "
                 "select raise(abort, 'project updates refused'); end;";
  raw_exec(path, "delete from card where card_sk = " + std::to_string(card) +
                     "; insert into project (client_id, name, created_dt) values(77, 'Stray', 'x');" +
                     refusal);
  std::string text;
  bool repairs = true;
  EXPECT_FALSE(db_repair(db, text, repairs));
  EXPECT_FALSE(repairs);
  EXPECT_THAT(text, HasSubstr("\nERROR: project updates refused\n"));
  // The card fix made before the failure is gone, and so is the "[unknown]" card.
  EXPECT_EQ(card_of(path, key), std::to_string(card));
  EXPECT_EQ(raw_values(path, "select count(*) from card where name = '[unknown]'"), "0");
  EXPECT_EQ(backups_in(backup_folder()).size(), 1u);
}

}  // namespace
}  // namespace cw
