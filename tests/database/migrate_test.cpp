// Moving a station's file into a catalogue that another station already records in.
#include "database/migrate.h"

#include "tests/database/db_fixture.h"

namespace cw {
namespace {

using test::captured_ui;
using test::CatalogueTest;
using test::raw_exec;
using test::raw_values;

// Every table's row count, to tell whether a catalogue changed.
std::string row_counts(const std::string& catalogue) {
  std::string out;
  for (const char* table : {"client", "project", "card", "ingestion", "step", "ledger",
                            "ledger_copy", "manifest", "IPTCcontact"})
    out += raw_values(catalogue, std::string("select count(*) from ") + table) + " ";
  return out;
}

// One ingestion of `station` with two files, each copied once, and its manifest.
int record_ingestion(Database& station, const std::string& client, const std::string& project,
                     const std::string& card, int first, const std::string& tag) {
  const int key = station.ingestion_insert(station.project_key(client, project),
                                           station.card_key(card), first, first + 1, 2, tag);
  for (int i = 0; i < 2; ++i) {
    const std::string file = tag + "_" + std::to_string(i) + ".jpg";
    station.exec(
        "insert into ledger (ingestion_id, source_path, size, modified, hash, taken_dt) "
        "values(" +
        std::to_string(key) + ", '/card/" + file + "', 100, 5, 'h" + file +
        "', '2026-01-02 10:00:00')");
    station.exec("insert into ledger_copy (ledger_id, path, tree, root, size, state) values(" +
                 std::to_string(station.last_insert_key()) + ", '/archive/" + file +
                 "', 0, '/archive', 100, 'verified')");
  }
  station.exec("insert into manifest (ingestion_id, root, path, written_dt) values(" +
               std::to_string(key) + ", '/archive', '/archive/" + tag + ".txt', 'now')");
  return key;
}

TEST_P(CatalogueTest, MigrateMergesNamesKeepsEveryIngestionAndAddsNothingTwice) {
  // The target station: its defaults, the client Smith with a wedding, card CF-1, one run
  // (Adams and XQD-0 first, so that the two stations' keys differ).
  open_db();
  ASSERT_GE(db.client_add("Adams", "", false), 0);
  ASSERT_GE(db.card_add("XQD-0", ""), 0);
  ASSERT_GE(db.client_add("Smith", "", false), 0);
  ASSERT_GE(db.project_add("Wedding", "Smith", std::nullopt, ""), 0);
  ASSERT_GE(db.card_add("CF-1", ""), 0);
  record_ingestion(db, "Smith", "Wedding", "CF-1", 1, "target");

  // The station moving in: the same defaults and names, and some of its own.
  Database station;
  ASSERT_TRUE(station.open(dir / "station.sqlite3"));
  ASSERT_TRUE(station.install_default_entities());
  station.client_add("Smith", "", false);
  station.client_add("Jones", "", false);
  station.project_add("Wedding", "Smith", std::nullopt, "");
  station.project_add("Portraits", "Smith", std::nullopt, "");
  station.project_add("Wedding", "Jones", std::nullopt, "");
  station.card_add("CF-1", "");
  station.card_add("SD-2", "");
  const int jones = record_ingestion(station, "Jones", "Wedding", "SD-2", 10, "jones");
  station.exec("insert into step (ingestion_id, name, is_checked) values(" + std::to_string(jones) +
               ", 'Culled', 1)");
  record_ingestion(station, "Smith", "Wedding", "CF-1", 20, "smith");
  station.exec(
      "insert into ledger (source_path, size, modified, hash, taken_dt) "
      "values('/card/loose.jpg', 7, 5, 'hloose', '2026-01-03 09:00:00')");
  station.exec("insert into IPTCcontact (creator, city) values('Ann', 'Bergen')");
  ASSERT_TRUE(captured_ui().pane.empty()) << captured_ui().pane;

  MigrationCounts counts;
  ASSERT_TRUE(migrate_catalogue(station, db, counts)) << captured_ui().pane;
  EXPECT_THAT(migration_summary(counts),
              StartsWith("Migrated 3 clients (2 merged by name), 4 projects (2 merged), 3 cards "
                         "(2 merged).\nAdded 2 ingestions (0 already there), 5 ledger entries, "
                         "4 ledger copies, 2 manifests, 1 checklist step and 1 metadata row."));
  EXPECT_EQ(raw_values(path, "select name from client order by name"),
            "Adams|Client_001|Jones|Smith");
  // Each run hangs under its own client, project and card in the target's keys, and so do its
  // files, their copies, its manifest and its step.
  const std::string owners =
      "select c.name || '/' || p.name || '/' || k.name || '/' || i.number_start || '/' || "
      "(select count(*) from ledger l join ledger_copy lc on lc.ledger_id = l.ledger_sk where "
      "l.ingestion_id = i.ingestion_sk and lc.path like '%' || i.notes || '%') || '/' || "
      "(select count(*) from manifest m where m.ingestion_id = i.ingestion_sk and m.path like "
      "'%' || i.notes || '%') || '/' || (select count(*) from step s where s.ingestion_id = "
      "i.ingestion_sk) from ingestion i join project p on p.project_sk = i.project_id join client "
      "c on c.client_sk = p.client_id join card k on k.card_sk = i.card_id order by i.number_start";
  EXPECT_EQ(raw_values(path, owners),
            "Smith/Wedding/CF-1/1/2/1/0|Jones/Wedding/SD-2/10/2/1/1|Smith/Wedding/CF-1/20/2/1/0");
  EXPECT_EQ(raw_values(path, "select source_path from ledger where ingestion_id is null"),
            "/card/loose.jpg");

  // A second run finds everything there.
  const std::string before = row_counts(path);
  ASSERT_TRUE(migrate_catalogue(station, db, counts)) << captured_ui().pane;
  EXPECT_EQ(counts.ingestions_present, 2);
  EXPECT_EQ(row_counts(path), before);

  // A run that fails late (a manifest the target refuses) leaves the target as it was.
  record_ingestion(station, "Jones", "Wedding", "SD-2", 30, "late");
  raw_exec(path, "create unique index one_manifest_path on manifest (path)");
  raw_exec(path,
           "insert into manifest (ingestion_id, root, path, written_dt) "
           "values(1, '/archive', '/archive/late.txt', 'now')");
  const std::string refused = row_counts(path);
  captured_ui().clear();
  EXPECT_FALSE(migrate_catalogue(station, db, counts));
  EXPECT_THAT(captured_ui().pane, HasSubstr("ERROR: "));
  EXPECT_EQ(row_counts(path), refused);
  EXPECT_EQ(counts.ingestions, 0);
}

}  // namespace
}  // namespace cw
