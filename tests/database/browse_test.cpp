// Browsing, CSV export, purge and the row and cell operations of the database window.
#include "database/browse.h"

#include "tests/database/db_fixture.h"

namespace cw {
namespace {

using test::captured_ui;
using test::CatalogueTest;
using test::raw_exec;
using test::raw_values;

std::time_t local_time(int year, int month, int day, int hour, int minute, int second) {
  struct tm tm = {};
  tm.tm_year = year - 1900, tm.tm_mon = month - 1, tm.tm_mday = day;
  tm.tm_hour = hour, tm.tm_min = minute, tm.tm_sec = second, tm.tm_isdst = -1;
  return std::mktime(&tm);
}

const CatalogEntry& entry(const char* name) {
  const CatalogEntry* e = catalog_find(name);
  EXPECT_NE(e, nullptr) << name;
  return *e;
}

TEST(AgeFilter, MonthsBackFromNow) {
  std::time_t now = local_time(2026, 6, 15, 12, 30, 45);
  EXPECT_EQ(age_filter("1 year", "<", now), "where ingested_dt < '2025-06-15 12:30:45'");
  EXPECT_EQ(age_filter("3 months", ">=", now), "where ingested_dt >= '2026-03-15 12:30:45'");
  EXPECT_EQ(age_filter("6 months", ">=", now), "where ingested_dt >= '2025-12-15 12:30:45'");
  EXPECT_EQ(age_filter("1 month", ">=", local_time(2026, 1, 5, 0, 0, 0)),
            "where ingested_dt >= '2025-12-05 00:00:00'");
  EXPECT_EQ(age_filter("All records", ">=", now), "");
  EXPECT_FALSE(age_filter("lately", ">=", now));
  EXPECT_EQ(catalog_find("ingestions"), catalog_find("INGESTION"));
  EXPECT_EQ(catalog_find("nothing"), nullptr);
}

TEST_P(CatalogueTest, HistoryShowsTheNewestThousandUnlessFilteredByAge) {
  open_db();
  // Local times i hours and 400 days ago, in each engine's words.
  const std::string hours_ago =
      server() ? "to_char(localtimestamp - i * interval '1 hour', 'YYYY-MM-DD HH24:MI:SS')"
               : "datetime('now', 'localtime', '-' || i || ' hours')";
  const std::string long_ago =
      server() ? "to_char(localtimestamp - interval '400 days', 'YYYY-MM-DD HH24:MI:SS')"
               : "datetime('now', 'localtime', '-400 days')";
  raw_exec(path,
           "with recursive n(i) as (select 1 union all select i + 1 from n where i < 1005) "
           "insert into ingestion (card_id, project_id, ingested_dt, result) select 1, 1, " +
               hours_ago +
               ", 'SUCCESS' from n;"
               "insert into ingestion (card_id, project_id, ingested_dt) values(1, 1, " +
               long_ago + ");");
  auto all = browse_table(db, entry("Ingestions"), {});
  ASSERT_TRUE(all);
  ASSERT_EQ(all->result.row_count(), 1000u);
  EXPECT_EQ(all->cell(0, 0), "1");  // newest first
  EXPECT_EQ(all->result.column_count(), entry("Ingestions").columns.size());
  EXPECT_EQ(all->cell(0, 2), "Client_001");
  EXPECT_EQ(all->cell(0, 4), "#001");
  EXPECT_EQ(all->cell(1000, 0), "?BadRowRef");
  EXPECT_EQ(all->cell(0, 10), "?UnallocCell");
  EXPECT_EQ(LoadedTable{}.cell(0, 0), "?NoData");

  BrowseChoice year;
  year.age = "1 year";
  auto recent = browse_table(db, entry("Ingestions"), year);
  ASSERT_TRUE(recent);
  EXPECT_EQ(recent->result.row_count(), 1005u);
  year.age = "All";
  EXPECT_EQ(browse_table(db, entry("Ingestions"), year)->result.row_count(), 1006u);

  BrowseChoice by_result;
  by_result.client = "Client_001";
  by_result.project = "Project_001";
  by_result.result_like = "SUCC%";
  EXPECT_EQ(browse_table(db, entry("Ingestions"), by_result)->result.row_count(), 1005u);
}

TEST_P(CatalogueTest, PurgeKeepsAnIngestionExactlyOneYearOld) {
  open_db();
  std::time_t now = local_time(2026, 6, 15, 12, 0, 0);
  raw_exec(path,
           "insert into ingestion (card_id, project_id, ingested_dt, notes) values"
           "(1, 1, '2025-06-15 12:00:00', 'exactly one year'),"
           "(1, 1, '2025-06-15 11:59:59', 'one second older'),"
           "(1, 1, '2019-01-01 00:00:00', 'ancient'),"
           "(1, 1, '2026-06-01 08:00:00', 'recent');");
  EXPECT_EQ(purge_ingestions(db, now), 2);
  EXPECT_EQ(raw_values(path, "select notes from ingestion order by ingested_dt"),
            "exactly one year|recent");
}

TEST_P(CatalogueTest, CsvExportReadsBackIdentically) {
  if (!test::have_program("python3")) GTEST_SKIP() << "python3 not installed";
  open_db();
  const std::string chr = server() ? "chr" : "char";  // a character by its code
  raw_exec(path,
           "insert into UserData (id, field1, field2, field3, field4, field5, field6, field7, "
           "field8) values('row1', 'plain', 'say \"cheese\"', 'a, b, c', "
           "'line one' || " + chr + "(10) || 'line two', 'Ærø – Škoda ✓ 写真', '', "
           "' leading space', '\"\"');"
           "insert into UserData (id, field1, field2) values('row2', 'tab' || " + chr + "(9) || "
           "'here', 'end\"');"
           "insert into UserData (id, field8) values('row3', 'O''Brien, \"Jr.\"' || " + chr +
           "(13) || " + chr + "(10) || 'next');");
  auto t = browse_table(db, entry("UserData"), {});
  ASSERT_TRUE(t);
  ASSERT_EQ(t->result.row_count(), 3u);
  std::string file = dir / "user data ✓.csv";
  ASSERT_TRUE(export_csv(*t, file));
  EXPECT_EQ(captured_ui().alerts.back(), "Records exported successfully.");

  // An independent reader: Python's csv module, each field printed as hex of its bytes.
  std::string out;
  ASSERT_EQ(test::run_command("python3 -c 'import csv,sys\n"
                              "for row in csv.reader(open(sys.argv[1], newline=\"\", "
                              "encoding=\"utf-8\"), skipinitialspace=True): "
                              "print(\" \".join(f.encode().hex() or \"-\" for f in row))' '" +
                                  file + "'",
                              &out),
            0);
  auto hex_line = [](const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& f : fields) {
      if (!line.empty()) line += ' ';
      if (f.empty()) line += '-';
      for (unsigned char c : f) line += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
    }
    return line + "\n";
  };
  std::string expected = hex_line(
      {"id", "field1", "field2", "field3", "field4", "field5", "field6", "field7", "field8"});
  for (const auto& row : t->result.rows) expected += hex_line(row);
  EXPECT_EQ(out, expected);
  // The cells really hold what was inserted.
  EXPECT_EQ(t->cell(0, 4), "line one\nline two");
  EXPECT_EQ(t->cell(2, 8), "O'Brien, \"Jr.\"\r\nnext");
  // Header format: titles in quotes, separated by comma and space.
  EXPECT_EQ(test::read_file(file).substr(0, 18), "\"id\", \"field1\", \"f");

  EXPECT_FALSE(export_csv(*t, dir / "missing/folder/x.csv"));
  EXPECT_EQ(captured_ui().alerts.back(), "Export Error: " + (dir / "missing/folder/x.csv"));
}

TEST_P(CatalogueTest, RowAndCellOperations) {
  open_db();
  auto& ui = captured_ui();
  // New rows of free tables are named after the table and its sequence.
  EXPECT_EQ(add_row(db, entry("IPTCcontact"), ""), "Contact_0001");
  EXPECT_EQ(add_row(db, entry("IPTCcontact"), ""), "Contact_0002");
  EXPECT_EQ(add_row(db, entry("UserData"), ""), "UserData_0001");
  EXPECT_EQ(add_row(db, entry("Clients"), ""), "Client_002");
  EXPECT_EQ(add_row(db, entry("Cards"), ""), "#002");
  EXPECT_EQ(add_row(db, entry("Projects"), "Client_002"), "Project_003");
  EXPECT_FALSE(add_row(db, entry("Projects"), ""));
  EXPECT_EQ(ui.alerts.back(), "Client not specified");

  auto contacts = browse_table(db, entry("IPTCcontact"), {});
  ASSERT_TRUE(contacts);
  ASSERT_TRUE(edit_cell(db, *contacts, 1, 1, "Chief's \"title\" 100%"));
  EXPECT_EQ(raw_values(path, "select title from IPTCcontact where creator = 'Contact_0002'"),
            "Chief's \"title\" 100%");
  // A deletion needs the user's Yes first; unconfirmed it changes nothing.
  EXPECT_EQ(delete_row(db, *contacts, 0, false), ChangeOutcome::NeedsConfirmation);
  EXPECT_EQ(raw_values(path, "select count(*) from IPTCcontact"), "2");
  EXPECT_EQ(delete_row(db, *contacts, 0, true), ChangeOutcome::Done);
  EXPECT_EQ(raw_values(path, "select creator from IPTCcontact"), "Contact_0002");
  EXPECT_EQ(delete_row(db, *contacts, -1, false), ChangeOutcome::Refused);
  EXPECT_EQ(ui.alerts.back(), "No data row is selected.");

  // Clients, projects and cards in use cannot be deleted, even when the user agrees; unused
  // ones can.
  int key = db.ingestion_insert(1, 1, 0, 0, 0, std::nullopt);
  auto refused = [&](const LoadedTable& table, const std::string& message) {
    EXPECT_EQ(delete_row(db, table, 0, true), ChangeOutcome::Refused) << message;
    EXPECT_EQ(ui.alerts.back(), message);
  };
  refused(*browse_table(db, entry("Clients"), {}), "Projects for client exist.");
  auto cards = browse_table(db, entry("Cards"), {});
  ASSERT_EQ(cards->cell(0, 0), "#001");
  refused(*cards, "Ingestion data for card exists.");
  EXPECT_EQ(delete_row(db, *cards, 1, true), ChangeOutcome::Done);
  EXPECT_EQ(raw_values(path, "select name from card"), "#001");
  BrowseChoice of_client;
  of_client.client = "Client_001";
  refused(*browse_table(db, entry("Projects"), of_client), "Ingestion data for project exists.");

  // Ingestion notes are editable, the names are not; the parameter view.
  auto history = browse_table(db, entry("Ingestions"), {});
  ASSERT_TRUE(edit_cell(db, *history, 0, 9, "new 'notes'"));
  EXPECT_EQ(history->cell(0, 9), "new 'notes'");
  EXPECT_FALSE(edit_cell(db, *history, 0, 2, "renamed client"));
  EXPECT_EQ(ui.alerts.back(), "Can't store column value");
  EXPECT_EQ(raw_values(path, "select name from client where client_sk = 1"), "Client_001");
  EXPECT_EQ(ingestion_parameters_text(db, *history, 0), "No parameter details available.");
  db.ingestion_set_params(key, "Source: /media/card\n");
  EXPECT_EQ(ingestion_parameters_text(db, *history, 0), "Source: /media/card\n");
  EXPECT_FALSE(ingestion_parameters_text(db, *history, 5));
  EXPECT_TRUE(ui.pane.empty()) << ui.pane;
  EXPECT_TRUE(ui.questions.empty());
}

}  // namespace
}  // namespace cw
