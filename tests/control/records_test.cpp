// The records as the database window changes them, asking the user first.
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

  ui.yes_no_answers = {true};
  EXPECT_TRUE(records.delete_row(*contacts, 0));
  EXPECT_EQ(raw_values(path, "select count(*) from IPTCcontact"), "0");
  EXPECT_EQ(ui.questions, std::vector<std::string>{"OK to delete record?"});
  // The last card: refused before anything is asked.
  EXPECT_FALSE(records.remove(EntityKind::Card, "#001"));
  EXPECT_EQ(ui.alerts, std::vector<std::string>{"Can't delete last card."});
  EXPECT_EQ(ui.questions.size(), 1u);

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

TEST_F(DatabaseTest, GridNameEditsAreRenamesThatRefuseClashesAndOthersMoveTheCounter) {
  open_db();
  auto& ui = captured_ui();
  Records records(db, ui);
  ASSERT_GT(records.add(EntityKind::Client, "Smith", "June"), 0);
  ASSERT_GT(records.add(EntityKind::Client, "Jones", ""), 0);
  for (const char* client : {"Smith", "Jones"})
    ASSERT_GT(records.add(EntityKind::Project, "Wedding", "", client), 0);
  ASSERT_GT(records.add(EntityKind::Project, "Reception", "", "Smith"), 0);
  const CatalogEntry& clients_entry = *catalog_find("Clients");
  EXPECT_FALSE(Records::editable(clients_entry, 1));  // the key
  EXPECT_TRUE(Records::editable(clients_entry, 3));   // the description
  auto clients = records.browse(clients_entry, {});
  ASSERT_TRUE(clients);
  const auto smith = static_cast<std::size_t>(find_row(*clients, "Smith"));

  // A taken or empty name is refused and the row keeps its name; a rename keeps the
  // description and a description edit keeps the name.
  EXPECT_FALSE(records.edit_cell(*clients, smith, 0, "Jones"));
  EXPECT_FALSE(records.edit_cell(*clients, smith, 0, ""));
  EXPECT_EQ(clients->cell(smith, 0), "Smith");
  EXPECT_TRUE(records.edit_cell(*clients, smith, 0, "Smyth"));
  EXPECT_TRUE(records.edit_cell(*clients, smith, 3, "June 2024"));
  EXPECT_EQ(raw_values(path, "select description from client where name = 'Smyth'"), "June 2024");
  EXPECT_EQ(db.client_key("Smith"), -1);

  // A project's name is unique among its client's only.
  BrowseChoice smyth;
  smyth.client = "Smyth";
  auto projects = records.browse(*catalog_find("Projects"), smyth);
  ASSERT_TRUE(projects);
  const auto reception = static_cast<std::size_t>(find_row(*projects, "Reception"));
  EXPECT_FALSE(records.edit_row(*projects->entry, projects->result.rows[reception], 0, "Wedding"));
  EXPECT_TRUE(records.edit_row(*projects->entry, projects->result.rows[reception], 0, "Party"));
  EXPECT_GE(db.project_key("Smyth", "Party"), 0);
  EXPECT_GE(db.project_key("Jones", "Wedding"), 0);
  EXPECT_EQ(ui.alerts, (std::vector<std::string>{"Client name already exists.",
                                                 "Client name is required.",
                                                 "Project name already exists."}));

  // Only another connection's commit moves the counter.
  const std::optional<long long> before = records.change_count();
  ASSERT_TRUE(before);
  ASSERT_GT(records.add(EntityKind::Card, "#9", ""), 0);
  EXPECT_EQ(records.change_count(), before);
  raw_exec(path, "insert into client (name, created_dt) values('Lee', '2024-06-01 10:00:00')");
  EXPECT_NE(records.change_count(), before);
  EXPECT_EQ(records.client_names(), (std::vector<std::string>{"Client_001", "Jones", "Lee", "Smyth"}));
}

}  // namespace
}  // namespace cw
