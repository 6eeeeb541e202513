// The questions the records put to the user before a deletion or a purge, and what each
// answer leaves in the database.
#include "control/records.h"

#include "tests/database/db_fixture.h"

namespace cw {
namespace {

using test::captured_ui;
using test::DatabaseTest;
using test::raw_exec;
using test::raw_values;

TEST_F(DatabaseTest, DeletionsAndPurgeAskFirstAndNoKeepsTheRows) {
  open_db();
  auto& ui = captured_ui();
  Records records(db, ui);
  raw_exec(path,
           "insert into IPTCcontact (creator) values('Contact_0001');"
           "insert into ingestion (card_id, project_id, ingested_dt) values"
           "(1, 1, '2019-01-01 00:00:00'), (1, 1, datetime('now', 'localtime'));");
  auto contacts = records.browse(*catalog_find("IPTCcontact"), {});
  ASSERT_TRUE(contacts);

  ui.yes_no_answers = {false};
  EXPECT_FALSE(records.delete_row(*contacts, 0));
  EXPECT_EQ(raw_values(path, "select count(*) from IPTCcontact"), "1");
  ui.yes_no_answers = {true};
  EXPECT_TRUE(records.delete_row(*contacts, 0));
  EXPECT_EQ(raw_values(path, "select count(*) from IPTCcontact"), "0");
  EXPECT_EQ(ui.questions,
            (std::vector<std::string>{"OK to delete record?", "OK to delete record?"}));
  // Nothing selected and the last card: refused before anything is asked.
  EXPECT_FALSE(records.delete_row(*contacts, -1));
  EXPECT_FALSE(records.remove(EntityKind::Card, "#001"));
  EXPECT_EQ(ui.alerts,
            (std::vector<std::string>{"No data row is selected.", "Can't delete last card."}));
  EXPECT_EQ(ui.questions.size(), 2u);

  ASSERT_GT(records.add(EntityKind::Client, "O'Brien", ""), 0);
  ui.clear();
  ui.yes_no_answers = {false, true};
  EXPECT_FALSE(records.remove(EntityKind::Client, "O'Brien"));
  EXPECT_GE(db.client_key("O'Brien"), 0);
  EXPECT_TRUE(records.remove(EntityKind::Client, "O'Brien"));
  EXPECT_EQ(db.client_key("O'Brien"), -1);
  EXPECT_EQ(ui.questions.at(0), "Delete client \"O'Brien\"?\n\nThis operation cannot be undone.");

  ui.clear();
  ui.yes_no_answers = {false, true};
  int deleted = -1;
  EXPECT_EQ(records.purge(std::time(nullptr), &deleted), PurgeOutcome::Declined);
  EXPECT_EQ(deleted, 0);
  EXPECT_EQ(db.ingestion_count(), 2);
  EXPECT_EQ(records.purge(std::time(nullptr), &deleted), PurgeOutcome::Done);
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(db.ingestion_count(), 1);
  EXPECT_EQ(ui.questions.at(0),
            "Delete ingestion records older than 1 year?\n\nYou may want to export the records "
            "before deleting them.\n\nThis operation cannot be undone.");
  EXPECT_TRUE(ui.alerts.empty()) << ui.alerts[0];
}

}  // namespace
}  // namespace cw
