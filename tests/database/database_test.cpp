// The catalogue's tables, entities and ingestion records, its macro values and the ingest
// ledger, whose copies and manifests below archive roots are shared between stations by name.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <numeric>
#include <thread>
#include <vector>

#include "database/ledger_store.h"
#include "database/manage.h"
#include "database/repair.h"
#include "foundation/content_hash.h"
#include "foundation/path_guard.h"
#include "foundation/sysio.h"
#include "foundation/text.h"
#include "tests/database/db_fixture.h"

namespace cw {
namespace {

using test::captured_ui;
using test::CatalogueTest;
using test::DatabaseTest;
using test::raw_exec;
using test::raw_values;
using test::Store;

INSTANTIATE_TEST_SUITE_P(Stores, CatalogueTest, ::testing::Values(Store::kFile, Store::kServer),
                         test::store_name);

// Runs `body` in `count` child processes let go at one moment (each waits until the parent
// closes its end of a pipe); true when every child's body returned true.
template <typename Body>
bool all_succeed_at_once(int count, Body body) {
  int go[2];
  if (pipe(go) != 0) return false;
  std::vector<pid_t> children;
  for (int i = 0; i < count; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      char c;
      close(go[1]);
      if (read(go[0], &c, 1) < 0) _exit(2);
      const bool ok = body();
      if (!ok) std::fputs(captured_ui().pane.c_str(), stderr);
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  close(go[0]);
  close(go[1]);
  bool all = true;
  for (pid_t pid : children) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      all = false;
  }
  return all;
}

// An entry of `size` bytes hashed from `seed`, with one copy of it at `copy_path`.
LedgerEntry entry_with_copy(const std::string& seed, std::uint64_t size,
                            const std::string& copy_path) {
  LedgerEntry e;
  ContentHasher hasher;
  hasher.update(seed.data(), seed.size());
  e.hash = hasher.digest();
  e.size = size;
  LedgerCopy copy;
  copy.path = copy_path;
  copy.size = size;
  copy.hash = e.hash;
  copy.state = CopyState::kVerified;
  e.copies.push_back(copy);
  return e;
}

TEST_P(CatalogueTest, NewFileGetsEveryTableAndTheDefaultRowsOnce) {
  open_db();
  EXPECT_EQ(raw_values(path, server() ? "select table_name from information_schema.tables "
                                        "where table_schema = 'public' order by 1"
                                      : "select lower(name) from sqlite_master where type = "
                                        "'table' and name != 'sqlite_sequence' order by 1"),
            "card|client|ingestion|iptccontact|iptccontent|iptcimage|iptcstatus|ledger|"
            "ledger_copy|manifest|project|schema_version|step|userdata");
  EXPECT_EQ(raw_values(path, "select name from client"), "Client_001");
  EXPECT_EQ(raw_values(path, "select name || '/' || client_id from project"), "Project_001/1");
  EXPECT_EQ(raw_values(path, "select name from card"), "#001");
  EXPECT_TRUE(captured_ui().pane.empty()) << captured_ui().pane;
  // A catalogue a newer program has built further is opened as it is and keeps its version,
  // and one whose version an older program lowered is opened without making its steps again.
  const std::string version = raw_values(path, "select version from schema_version");
  raw_exec(path, "update schema_version set version = 99");
  Database older;
  ASSERT_TRUE(older.open(path)) << captured_ui().pane;
  EXPECT_EQ(raw_values(path, "select version from schema_version"), "99");
  raw_exec(path, "update schema_version set version = 1");
  Database newer;
  ASSERT_TRUE(newer.open(path)) << captured_ui().pane;
  EXPECT_EQ(raw_values(path, "select version from schema_version"), version);
  EXPECT_TRUE(captured_ui().pane.empty()) << captured_ui().pane;
}

// Six programs at once on a fresh user folder, each asking for the "[unknown]" rows as a run
// without choices does and adding a default-named client (with its project) and card: every
// one succeeds, each default row is made once and no two programs read the same next number.
TEST_P(CatalogueTest, SimultaneousFirstOpensAllSucceedAndNumberApart) {
  for (int round = 0; round < 12; ++round) {
    ASSERT_NO_FATAL_FAILURE(fresh_store());
    EXPECT_TRUE(all_succeed_at_once(6, [&] {
      bool ok = db.open(path) && db.install_default_entities() && db.unknown_card() > 0 &&
                db.unknown_project(-1) > 0;
      for (int n = 0; ok && n < 4; ++n)
        ok = db.client_add("", "", true) > 0 && db.card_add("", "") > 0;
      return ok;
    })) << "round " << round;
    EXPECT_EQ(raw_values(path, "select count(*) from client where name = 'Client_001'") + " " +
                  raw_values(path, "select count(*) from card where name = '#001'") + " " +
                  raw_values(path, "select count(*) from card where name = '[unknown]'"),
              "1 1 1")
        << "round " << round;
    for (const char* table : {"client", "project", "card"})
      EXPECT_EQ(raw_values(path, std::string("select count(*) || ' ' || count(distinct name) "
                                             "from ") + table),
                "26 26")
          << table << ", round " << round;
  }
}

// Set-up and the first run's "[unknown]" rows ended at each statement in turn, as a kill would
// end them: the next start-up finds every row once and nothing to repair.
TEST_P(CatalogueTest, SetUpKilledAtAnyStatementLeavesNothingToRepair) {
  if (server()) GTEST_SKIP() << "counts the statements through the file engine's trace hook";
  static int kill_at = 0;  // the child's statement count at which it ends
  bool finished = false;
  for (int step = 1; step < 200 && !finished; ++step) {
    std::filesystem::remove(path);
    const pid_t pid = fork();
    if (pid == 0) {
      kill_at = step;
      // Every connection the child opens counts its statements and ends the process at one.
      sqlite3_auto_extension(reinterpret_cast<void (*)()>(+[](sqlite3* c, char**,
                                                              const sqlite3_api_routines*) {
        sqlite3_trace_v2(
            c, SQLITE_TRACE_STMT,
            [](unsigned, void*, void*, void*) {
              if (--kill_at == 0) _exit(3);
              return 0;
            },
            nullptr);
        return SQLITE_OK;
      }));
      // Start-up, then the "[unknown]" rows a run without choices takes, one call each.
      if (!db.open(path) || !db.install_default_entities()) _exit(1);
      const int client = db.unknown_client();
      _exit(client > 0 && db.unknown_project(client) > 0 && db.unknown_card() > 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "step " << step;
    ASSERT_NE(WEXITSTATUS(status), 1) << "step " << step;
    finished = WEXITSTATUS(status) == 0;

    captured_ui().clear();
    ASSERT_TRUE(db.open(path)) << "step " << step << captured_ui().pane;
    ASSERT_TRUE(db.install_default_entities()) << "step " << step << captured_ui().pane;
    EXPECT_TRUE(db_startup_check(db)) << "step " << step;
    EXPECT_TRUE(captured_ui().alerts.empty()) << "step " << step << captured_ui().alerts[0];
    const std::string named = " where name != '[unknown]'";
    EXPECT_EQ(raw_values(path, "select name from client" + named) + " " +
                  raw_values(path, "select name from project" + named) + " " +
                  raw_values(path, "select name from card" + named),
              "Client_001 Project_001 #001")
        << "step " << step;
    db.close();
  }
  EXPECT_TRUE(finished) << "the set-up never ran to its end";
}

TEST_P(CatalogueTest, OldFilesAreUpgradedInPlaceWithoutLosingRows) {
  // A file written before clients, projects and cards could be hidden, and before the
  // parameter record existed.
  raw_exec(path,
           "create table card (card_sk integer not null primary key autoincrement, name text "
           "not null unique, description text, inservice_dt text not null);"
           "create table ingestion (ingestion_sk integer not null primary key autoincrement, "
           "card_id integer, project_id integer, number_start integer, number_stop integer, "
           "image_count integer, notes text, ingested_dt text not null, result text);"
           "create table project (project_sk integer not null primary key autoincrement, "
           "client_id integer, name text not null, description text, created_dt text not "
           "null, checklist text);"
           "create table client (client_sk integer not null primary key autoincrement, name "
           "text not null unique, description text, created_dt text not null);"
           "insert into client values(1, 'Acme', 'old client', '2019-01-02 03:04:05');"
           "insert into client values(2, '[unknown]', null, '2019-01-02 03:04:05');"
           "insert into project values(1, 1, 'Catalogue', null, '2019-01-02 03:04:05', null);"
           "insert into project values(2, 2, '[unknown]', null, '2019-01-02 03:04:05', null);"
           "insert into card values(1, 'CF-8GB', 'grey', '2019-01-02 03:04:05');"
           "insert into card values(2, '[unknown]', null, '2019-01-02 03:04:05');"
           "insert into ingestion values(1, 1, 1, 10, 19, 10, 'n', '2019-02-03 04:05:06', "
           "'SUCCESS');");
  open_db();
  EXPECT_EQ(raw_values(path, "select name || ',' || coalesce(cast(hidden as text), '-') from "
                             "client order by 1"),
            "Acme,-|[unknown],1");
  EXPECT_EQ(raw_values(path, "select name || ',' || coalesce(cast(hidden as text), '-') from "
                             "card order by 1"),
            "CF-8GB,-|[unknown],1");
  EXPECT_EQ(raw_values(path, "select count(*) from project where hidden is null"), "2");
  EXPECT_EQ(raw_values(path, "select count(*) from IPTCcontact"), "0");
  // The hidden "[unknown]" rows never show in the lists.
  auto cards = db.list_cards();
  ASSERT_TRUE(cards);
  ASSERT_EQ(cards->row_count(), 1u);
  EXPECT_EQ(cards->rows[0][0], "CF-8GB");

  // The params column arrives with the first stored parameter record.
  EXPECT_TRUE(raw_values(path, "select params from ingestion").rfind("?", 0) == 0);
  ASSERT_TRUE(db.ingestion_set_params(1, "Source: /media/card\nClient: O'Brien\n"));
  EXPECT_EQ(db.ingestion_params(1), "Source: /media/card\nClient: O'Brien\n");
  // Stored without waiting for the disk; every later commit waits again.
  if (!server()) {
    EXPECT_EQ(db.query("pragma synchronous")->rows.at(0).at(0), "2");
  }
  EXPECT_EQ(raw_values(path,
                       "select '' || card_id || project_id || number_start || number_stop || "
                       "image_count || notes || ingested_dt || result from ingestion"),
            "111019"
            "10n2019-02-03 04:05:06SUCCESS");
  EXPECT_TRUE(captured_ui().pane.empty()) << captured_ui().pane;
  EXPECT_EQ(db.ingestion_params(99), "");
  // New rows are numbered after the old ones.
  EXPECT_EQ(db.client_add("Later", "", true), 3);
  EXPECT_EQ(db.card_add("", ""), 3);
  EXPECT_EQ(db.visible_card_name(3), "#003");
}

TEST_P(CatalogueTest, DefaultNamesFollowTheSequenceNotTheCount) {
  open_db();
  EXPECT_EQ(db.next_number("client"), 1);
  int c2 = db.client_add("", "", true);
  int c3 = db.client_add("", "", true);
  ASSERT_GT(c3, c2);
  ASSERT_TRUE(db.client_hide(c3));
  EXPECT_EQ(db.client_name(c3), "Client_003_(3)");
  int c4 = db.client_add("", "", false);
  EXPECT_EQ(db.client_name(c4), "Client_004");
  // Client 4 was added without a project; 2 and 3 got Project_002 and Project_003.
  EXPECT_EQ(raw_values(path, "select name from project order by project_sk"),
            "Project_001|Project_002|Project_003");
  EXPECT_EQ(db.next_number("IPTCcontact"), 0);
  EXPECT_EQ(db.next_number("no such table"), 0);
}

TEST_P(CatalogueTest, NamesWithQuotesPercentSignsAndNonAsciiSurviveEveryOperation) {
  open_db();
  const std::vector<std::string> names = {"O'Brien", "100% \"Pure\" %s %d %q", "Ærøskøbing Café",
                                          "'; drop table client; --", "x'y'z"};
  for (const std::string& name : names) {
    captured_ui().clear();
    SCOPED_TRACE(name);
    int client = manage_add(db, EntityKind::Client, name, "desc " + name);
    ASSERT_GT(client, 0) << captured_ui().pane;
    EXPECT_EQ(db.client_key(name), client);
    EXPECT_EQ(db.client_name(client), name);
    // Its default project, and a named one.
    ASSERT_EQ(db.list_projects(name)->row_count(), 1u);
    int project = manage_add(db, EntityKind::Project, name + " project", "", name);
    ASSERT_GT(project, 0);
    EXPECT_EQ(db.project_key(name, name + " project"), project);
    int card = manage_add(db, EntityKind::Card, name, "card " + name);
    ASSERT_GT(card, 0);
    EXPECT_EQ(db.card_key(name), card);

    // The list shows the name and the description exactly.
    auto clients = db.list_clients();
    ASSERT_TRUE(clients);
    EXPECT_TRUE(std::any_of(clients->rows.begin(), clients->rows.end(), [&](const auto& row) {
      return row[0] == name && row[3] == "desc " + name;
    }));

    // Rename and back; then delete (hide) and reuse the name.
    std::string renamed = name + " 'renamed' 50%";
    ASSERT_TRUE(manage_rename(db, EntityKind::Client, name, renamed, "d'"));
    EXPECT_EQ(db.client_name(client), renamed);
    ASSERT_TRUE(manage_rename(db, EntityKind::Card, name, renamed, "c'"));
    ASSERT_TRUE(manage_rename(db, EntityKind::Project, name + " project", renamed, "", renamed));
    EXPECT_EQ(db.project_key(renamed, renamed), project);

    ASSERT_EQ(manage_delete(db, EntityKind::Client, renamed, true), ChangeOutcome::Done);
    ASSERT_EQ(manage_delete(db, EntityKind::Card, renamed, true), ChangeOutcome::Done);
    EXPECT_EQ(db.client_name(client), renamed + "_(" + std::to_string(client) + ")");
    EXPECT_EQ(db.client_key(renamed), -1);
    int again = manage_add(db, EntityKind::Client, renamed, "");
    EXPECT_GT(again, client);
    EXPECT_TRUE(captured_ui().alerts.empty()) << captured_ui().alerts[0];
    EXPECT_TRUE(captured_ui().pane.empty()) << captured_ui().pane;
  }
  EXPECT_EQ(raw_values(path, "select count(*) from client"), std::to_string(1 + 2 * names.size()));
}

TEST_P(CatalogueTest, ManagementRulesRefuseWithTheirMessages) {
  open_db();
  auto& ui = captured_ui();
  EXPECT_EQ(manage_add(db, EntityKind::Client, "", ""), -1);
  EXPECT_EQ(manage_add(db, EntityKind::Client, "Client_001", ""), -1);
  EXPECT_EQ(manage_add(db, EntityKind::Card, "#001", ""), -1);
  EXPECT_EQ(manage_delete(db, EntityKind::Project, "Project_001", false, "Client_001"),
            ChangeOutcome::Refused);
  EXPECT_EQ(manage_delete(db, EntityKind::Card, "#001", false), ChangeOutcome::Refused);
  EXPECT_FALSE(manage_rename(db, EntityKind::Card, "#999", "x", ""));
  EXPECT_EQ(ui.alerts,
            (std::vector<std::string>{"Client name is required.", "Client name already exists.",
                                      "Card name already exists.", "Can't delete last project.",
                                      "Can't delete last card.", "Card name not found."}));

  // A project name may repeat under another client.
  ASSERT_GT(manage_add(db, EntityKind::Client, "Smith", ""), 0);
  ASSERT_GT(manage_add(db, EntityKind::Project, "Project_001", "", "Smith"), 0);
  ui.clear();
  // Renaming to a name another row has is refused; keeping the own name is allowed.
  EXPECT_FALSE(manage_rename(db, EntityKind::Client, "Smith", "Client_001", ""));
  EXPECT_TRUE(manage_rename(db, EntityKind::Client, "Smith", "Smith", "new description"));
  EXPECT_EQ(ui.alerts, std::vector<std::string>{"Client name already exists."});
}

TEST_P(CatalogueTest, IngestionRecordsAndUnknownEntities) {
  open_db();
  auto& ui = captured_ui();
  EXPECT_EQ(db.ingestion_insert(-1, 1, 0, 0, 0, std::nullopt), -1);
  EXPECT_EQ(db.ingestion_insert(1, -1, 0, 0, 0, std::nullopt), -1);
  EXPECT_EQ(ui.pane,
            "\nERROR: Selected project does not exist in database.\n"
            "\nERROR: Selected card does not exist in database.\n");
  ui.clear();

  // No chosen card: the hidden "[unknown]" card, created once and reused.
  int card = db.unknown_card();
  ASSERT_GT(card, 0);
  EXPECT_EQ(db.unknown_card(), card);
  EXPECT_EQ(db.list_cards()->row_count(), 1u);
  int project = db.unknown_project(-1);
  ASSERT_GT(project, 0);
  EXPECT_EQ(db.unknown_project(db.unknown_client()), project);
  EXPECT_EQ(db.list_clients()->row_count(), 1u);

  int key = db.ingestion_insert(project, card, 0, 0, 0, std::string("notes 'quoted'"));
  ASSERT_GT(key, 0);
  EXPECT_EQ(db.ingestion_count(), 1);
  ASSERT_TRUE(db.ingestion_append_result(key, "No card chosen  \n\t"));
  EXPECT_EQ(raw_values(path, "select result from ingestion"), "No card chosen");
  ASSERT_TRUE(db.ingestion_append_result(key, "It's 100% wrong"));
  EXPECT_EQ(raw_values(path, "select result from ingestion"), "No card chosen / It's 100% wrong");
  ASSERT_TRUE(db.ingestion_set_numbers(key, 120, 131));
  ASSERT_TRUE(db.ingestion_set_count(key, 12));
  EXPECT_EQ(raw_values(path,
                       "select number_start || '-' || number_stop || ':' || image_count || "
                       "':' || notes from ingestion"),
            "120-131:12:notes 'quoted'");
  EXPECT_TRUE(ui.pane.empty()) << ui.pane;

  // A failing statement reports the engine's message in the pane.
  EXPECT_FALSE(db.exec("update nowhere set x = 1"));
  EXPECT_EQ(ui.pane, server() ? "\nERROR: relation \"nowhere\" does not exist\n"
                              : "\nERROR: no such table: nowhere\n");
  ui.clear();
  if (server()) {
    // A server lost is named, user@host:port/db, never with the password.
    EXPECT_FALSE(db.exec("select pg_terminate_backend(pg_backend_pid())"));
    EXPECT_THAT(ui.pane, HasSubstr(": \"cw@127.0.0.1:"));
    EXPECT_THAT(ui.pane, Not(HasSubstr(test::PrivateServer::kPassword)));
    EXPECT_FALSE(db.ingestion_set_count(key, 13));
    return;
  }
  // A failure of the file itself names the file.
  auto pages = db.query("pragma page_count");
  ASSERT_TRUE(pages && db.exec("pragma max_page_count = " + pages->rows[0][0]));
  EXPECT_FALSE(db.exec("insert into ingestion (notes, ingested_dt) values (hex(zeroblob(100000)), "
                       "'now')"));
  EXPECT_EQ(ui.pane, "\nERROR: database or disk is full: \"" + path + "\"\n");
}

// Inside a transaction already open a batch adds none of its own.
TEST_F(DatabaseTest, BatchStoresItsWritesAtCommitOnly) {
  open_db();
  const int key = db.ingestion_insert(db.unknown_project(-1), db.unknown_card(), 0, 0, 0,
                                      std::nullopt);
  ASSERT_GT(key, 0);
  {
    Database::Batch batch(db);
    ASSERT_TRUE(db.ingestion_set_numbers(key, 7, 9));
    EXPECT_FALSE(db.exec("update nowhere set x = 1"));
    ASSERT_TRUE(db.ingestion_set_count(key, 3));
    EXPECT_EQ(raw_values(path, "select image_count from ingestion"), "0");
    EXPECT_TRUE(batch.commit());
  }
  EXPECT_EQ(raw_values(path, "select number_start || '-' || number_stop || ':' || image_count "
                             "from ingestion"),
            "7-9:3");
  {
    Database::Batch dropped(db);
    ASSERT_TRUE(db.ingestion_set_count(key, 99));
  }
  EXPECT_EQ(raw_values(path, "select image_count from ingestion"), "3");
  ASSERT_TRUE(db.exec("begin transaction"));
  {
    Database::Batch inner(db);
    ASSERT_TRUE(db.ingestion_set_count(key, 4));
    EXPECT_TRUE(inner.commit());
  }
  EXPECT_EQ(raw_values(path, "select image_count from ingestion"), "3");
  ASSERT_TRUE(db.exec("commit"));
  EXPECT_EQ(raw_values(path, "select image_count from ingestion"), "4");
}

// A catalogue on a file system mounted read-only (a write-protected disk, a read-only share)
// still answers with what the last program to write it left, whatever journal that program
// kept; the name holds the characters that a URI would take for its own.
TEST_F(DatabaseTest, CatalogueOnAReadOnlyFileSystemStillAnswers) {
  test::SmallFileSystem disk(dir / "disk", "4m");
  if (!disk.mounted) GTEST_SKIP() << "needs the right to mount";
  path = disk.mount_point + "/cw 100%#?.sqlite3";
  open_db();
  ASSERT_GT(db.client_add("Harbour", "", false), 0);
  db.close();
  ASSERT_EQ(::mount(nullptr, disk.mount_point.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr),
            0)
      << std::strerror(errno);
  EXPECT_EQ(raw_values(path, "select name from client order by 1"), "Client_001|Harbour");
}

TEST_P(CatalogueTest, ResultsAppendedFromManyThreadsAreAllKept) {
  open_db();
  int key = db.ingestion_insert(1, 1, 0, 0, 0, std::nullopt);
  // Each append reads the old text and writes it back longer: without the database lock
  // around the pair, concurrent appends would overwrite each other.
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([this, key, t] {
      for (int i = 0; i < 10; ++i)
        db.ingestion_append_result(key, format_limited(32, "t%d.%d", t, i));
    });
  for (auto& th : threads) th.join();
  std::string result = raw_values(path, "select result from ingestion");
  EXPECT_EQ(std::count(result.begin(), result.end(), '/'), 8 * 10 - 1);
  for (const char* last : {"t0.9", "t3.9", "t7.9"})
    EXPECT_THAT(result, HasSubstr(last)) << last;
}

TEST_P(CatalogueTest, MacroValuesReadTheRowLastChosen) {
  open_db();
  db.exec("update client set description = 'Weddings' where name = 'Client_001'");
  db.exec("insert into IPTCcontent (id, keywords) values('Content_0001', 'sea; sky')");
  db.exec(
      "insert into ingestion (card_id, project_id, ingested_dt, notes) "
      "values(1, 1, '2026-01-01 00:00:00', '" +
      std::string(2500, 'n') + "')");
  EXPECT_EQ(db_macro_value(db, "client", "description", std::string("Client_001")), "Weddings");
  EXPECT_EQ(db_macro_value(db, "Clients", "name", std::string("Client_001")), "Client_001");
  EXPECT_EQ(db_macro_value(db, "iptccontent", "keywords", std::string("Content_0001")), "sea; sky");
  EXPECT_EQ(db_macro_value(db, "ingestion", "notes", std::string("1"))->size(), 1999u);
  // No row, or no stored key: empty. Unknown table, bad column, over-long names: no value.
  EXPECT_EQ(db_macro_value(db, "client", "name", std::string("O'Nobody")), "");
  EXPECT_EQ(db_macro_value(db, "client", "name", std::nullopt), "");
  EXPECT_FALSE(db_macro_value(db, "exif", "make", std::string("1")));
  EXPECT_FALSE(db_macro_value(db, "client", "name from client; --", std::string("1")));
  EXPECT_FALSE(db_macro_value(db, "client", std::string(50, 'a'), std::string("1")));
  EXPECT_FALSE(db_macro_value(db, "client", "nosuchcolumn", std::string("1")));
}

// Between two flushes a verified copy may still be lost with the power: it is stored as only
// written until a store after a flush, and such a store's commit need not wait for the disk.
TEST_P(CatalogueTest, LedgerCallsACopyVerifiedOnlyOnceItIsOnTheDisk) {
  open_db();
  LedgerEntry e = entry_with_copy("image", 5, "/archive/IMG_0001.JPG");
  auto state_found = [&] { return ledger_find(db, e.hash, 5)->copies.at(0).state; };
  auto sync_level = [&] { return db.query("pragma synchronous")->rows.at(0).at(0); };
  ASSERT_TRUE(db.write_unflushed([&] {
    if (!server()) {
      EXPECT_EQ(sync_level(), "1");
    }
    return ledger_store(db, {&e}, false);
  }));
  if (!server()) {
    EXPECT_EQ(sync_level(), "2");
  }
  EXPECT_EQ(state_found(), CopyState::kWritten);
  EXPECT_FALSE(e.copies[0].stored);
  ASSERT_TRUE(ledger_store(db, {&e}, true));
  EXPECT_EQ(state_found(), CopyState::kVerified);
  EXPECT_TRUE(e.copies[0].stored);
}

// A fingerprint stands for a file only once a tick of the file system's clock passed since
// its change: 50 ms, or 2 s for times in whole seconds.
TEST_P(CatalogueTest, LedgerKeepsFingerprintsAndDamageAndUpgradesAnOldLedger) {
  raw_exec(path,
           "create table ledger (ledger_sk integer not null primary key autoincrement, "
           "ingestion_id integer, card_label text, card_uuid text, camera_serial text, "
           "source_path text not null, size integer not null, modified integer not null, "
           "captured text, hash text not null, taken_dt text not null);"
           "create table ledger_copy (ledger_id integer not null, path text not null, "
           "tree integer not null, root text not null, size integer not null, hash text, "
           "state text not null, primary key (ledger_id, path));"
           "create table manifest (manifest_sk integer not null primary key autoincrement, "
           "ingestion_id integer, root text not null, path text not null, written_dt text "
           "not null);"
           "insert into ledger values(1, 1, 'EOS', '', '', 'DCIM/IMG_1.JPG', 5, 1717236000, '', "
           "'00000000000000000000000000000007', '2024-06-01 10:00:00');"
           "insert into ledger_copy values(1, '/archive/IMG_1.JPG', 0, '/archive', 5, null, "
           "'verified');");
  open_db();
  const Hash128 old_hash = *Hash128::from_hex("00000000000000000000000000000007");
  std::optional<LedgerEntry> old = ledger_find(db, old_hash, 5);
  ASSERT_TRUE(old);
  EXPECT_EQ(old->source, "DCIM/IMG_1.JPG");
  ASSERT_EQ(old->copies.size(), 1u);
  EXPECT_FALSE(old->copies[0].fingerprint);
  EXPECT_EQ(old->damage, Damage::kNone);
  // Its per-copy lookups gain their indexes: none walks the whole table. (A server plans a
  // table this small as a walk whatever its indexes, so there the indexes themselves are asked.)
  if (server())
    EXPECT_EQ(raw_values(path, "select count(*) from pg_indexes where indexname in "
                               "('ledger_copy_path', 'manifest_ingestion')"),
              "2");
  else
    for (const char* lookup : {"select 1 from ledger_copy where path = '/archive/IMG_1.JPG'",
                               "select 1 from manifest where ingestion_id = 1"}) {
      auto plan = db.query(std::string("explain query plan ") + lookup);
      ASSERT_TRUE(plan);
      ASSERT_FALSE(plan->rows.empty());
      EXPECT_NE(plan->rows[0].back().find("USING"), std::string::npos) << lookup;
    }

  // Found damaged after it was stored.
  old->damage = Damage::kCorruptRaw;
  old->damage_text = "unexpected end of the image data";
  old->damage_stored = false;
  Fingerprint fp{2049, 1234567, 5, -1'000'000'123, 1'717'236'000'123'456'789};
  old->copies[0].fingerprint = fp;
  old->copies[0].stored = false;
  ASSERT_TRUE(ledger_store(db, {&*old}, true));
  EXPECT_TRUE(old->damage_stored);
  const std::optional<LedgerEntry> found = ledger_find(db, old_hash, 5);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->damage, Damage::kCorruptRaw);
  EXPECT_EQ(found->damage_text, "unexpected end of the image data");
  ASSERT_EQ(found->copies.size(), 1u);
  EXPECT_EQ(found->copies[0].fingerprint, fp);

  const std::int64_t changed = fp.changed_ns;
  EXPECT_FALSE(fingerprint_settled(fp, changed + 49'000'000, kFingerprintSettleNs));
  EXPECT_TRUE(fingerprint_settled(fp, changed + 50'000'000, kFingerprintSettleNs));
  fp.changed_ns = 1'717'236'000'000'000'000;  // whole seconds: a coarse clock
  EXPECT_EQ(fingerprint_settle_wait_ns(fp, fp.changed_ns + 500'000'000, 5'000'000), 1'500'000'000);
  EXPECT_TRUE(fingerprint_settled(fp, fp.changed_ns + 2'000'000'000, 5'000'000));

  // Here, on the test's file system: once its tick has passed since a change, a write of the
  // same size stamps a new fingerprint; so it does at once where the tick proven there is 0.
  UniqueFd file(::open((dir / "stamped").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  ASSERT_TRUE(file.valid());
  const std::int64_t said = change_time_tick_ns(file.get());
  const std::int64_t proven = proven_change_time_tick_ns(dir.str());
  EXPECT_TRUE(proven == said || proven == 0) << proven << " against " << said;
  struct stat st;
  for (int i = 0; i < 40; ++i) {
    const std::int64_t tick = i < 20 ? said : proven;
    ASSERT_EQ(::pwrite(file.get(), &i, sizeof i, 0), static_cast<ssize_t>(sizeof i));
    ASSERT_EQ(::fstat(file.get(), &st), 0);
    const Fingerprint before = fingerprint_of(st);
    std::this_thread::sleep_for(
        std::chrono::nanoseconds(fingerprint_settle_wait_ns(before, real_time_ns(), tick)));
    const int other = i + 100;
    ASSERT_EQ(::pwrite(file.get(), &other, sizeof i, 0), static_cast<ssize_t>(sizeof i));
    ASSERT_EQ(::fstat(file.get(), &st), 0);
    EXPECT_NE(fingerprint_of(st), before) << i;
  }
}

// The sizes asked about are more than one statement's worth.
TEST_P(CatalogueTest, LedgerAnswersForAWholeCardsSizes) {
  open_db();
  std::vector<LedgerEntry> entries(3);
  std::vector<LedgerEntry*> batch;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string n = std::to_string(i);
    LedgerEntry& e = entries[i] = entry_with_copy(n, 1000 + i, "/archive/it's/IMG_" + n + ".JPG");
    e.modified = 1717236000 + static_cast<std::int64_t>(i);
    e.source = "DCIM/100'CANON/IMG_\u00e9" + n + ".JPG";
    e.copies[0].hash.reset();
    e.copies[0].state = CopyState::kWritten;
    batch.push_back(&e);
  }
  ASSERT_TRUE(ledger_store(db, batch, true));
  const std::optional<LedgerEntry> found = ledger_find(db, entries[1].hash, 1001);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->source, entries[1].source);
  EXPECT_EQ(found->copies.at(0).path, entries[1].copies[0].path);
  EXPECT_FALSE(found->copies[0].hash);

  std::vector<std::uint64_t> sizes;
  for (std::uint64_t s = 1; s <= 1200; ++s)
    if (s != 1000) sizes.push_back(s);
  auto known = ledger_sizes_and_times(db, sizes);
  ASSERT_TRUE(known);
  std::sort(known->begin(), known->end());
  const std::vector<std::pair<std::uint64_t, std::int64_t>> expected = {
      {1001, 1717236001}, {1002, 1717236002}};
  EXPECT_EQ(*known, expected);

  // The entries of a stretch of a card's sizes, asked for at once, are the entries ledger_find
  // gives one by one, also for a content two runs recorded (its copies joined, its damage
  // kept), the first run's entry in the index of contents and the second's not yet. A size
  // the ledger does not hold brings nothing.
  ASSERT_TRUE(ledger_index_recent(db));
  LedgerEntry again = entry_with_copy("1", 1001, "/backup/IMG_1.JPG");
  again.copies[0].tree = CopyTree::kPrimary;
  again.damage = Damage::kDamagedJpeg;
  again.damage_text = "premature end";
  LedgerEntry later = entry_with_copy("later", 1003, "/archive/IMG_3.JPG");
  ASSERT_TRUE(ledger_store(db, {&again, &later}, true));
  std::vector<std::uint64_t> stretch(1200);
  std::iota(stretch.begin(), stretch.end(), 1);
  const std::optional<std::vector<LedgerEntry>> ahead = ledger_entries_of_sizes(db, stretch);
  ASSERT_TRUE(ahead);
  ASSERT_EQ(ahead->size(), 4u);
  for (const LedgerEntry& e : *ahead) EXPECT_EQ(e, *ledger_find(db, e.hash, e.size)) << e.size;
  const auto joined = std::find_if(ahead->begin(), ahead->end(),
                                   [](const LedgerEntry& e) { return e.size == 1001; });
  ASSERT_NE(joined, ahead->end());
  EXPECT_EQ(joined->copies.size(), 2u);
  EXPECT_EQ(joined->damage, Damage::kDamagedJpeg);
  EXPECT_EQ(joined->source, entries[1].source);

  // Whether it holds each of a disc's contents, asked for more than one query takes: only the
  // right hash with the right size counts, whether its entry is indexed yet or not, and so
  // again once every entry is.
  std::vector<std::pair<Hash128, std::uint64_t>> contents(700, {entries[0].hash, 999});
  contents[0] = {entries[0].hash, 1000};
  contents[650] = {entries[2].hash, 1002};
  contents[651] = {entry_with_copy("unknown", 1002, "").hash, 1002};
  contents[652] = {later.hash, 1003};
  for (int indexed = 0; indexed < 2; ++indexed) {
    if (indexed) {
      ASSERT_TRUE(ledger_index_recent(db));
    }
    const std::optional<std::vector<bool>> held = ledger_holds(db, contents);
    ASSERT_TRUE(held && held->size() == 700u);
    EXPECT_EQ(std::count(held->begin(), held->end(), true), 3);
    EXPECT_TRUE((*held)[0] && (*held)[650] && (*held)[652]);
    const std::optional<LedgerEntry> both = ledger_find(db, again.hash, 1001);
    ASSERT_TRUE(both);
    EXPECT_EQ(both->copies.size(), 2u);
  }
}

// The copy written last at a path tells where the file there came from.
TEST_P(CatalogueTest, LedgerFollowsTheNewestCopyAtAPathAndRenamedFolders) {
  open_db();
  const std::string folder = "/archive/50%_\u00c6r\u00f8";
  auto entry_of = [](const char* card, const std::string& copy_path) {
    LedgerEntry e = entry_with_copy(card, 7, copy_path);
    e.card_label = card;
    return e;
  };
  LedgerEntry a = entry_of("A", folder + "/IMG.JPG");
  LedgerEntry b = entry_of("B", folder + "/IMG.JPG");
  LedgerEntry look_alike = entry_of("C", "/archive/50%X\u00c6r\u00f8/IMG.JPG");
  ASSERT_TRUE(ledger_store(db, {&a}, true));
  ASSERT_TRUE(ledger_store(db, {&b, &look_alike}, true));
  EXPECT_EQ(ledger_origin_at(db, folder + "/IMG.JPG")->card_label, "B");
  a.copies[0].stored = false;
  ASSERT_TRUE(ledger_store(db, {&a}, true));
  EXPECT_EQ(ledger_origin_at(db, folder + "/IMG.JPG")->card_label, "A");
  EXPECT_EQ(ledger_find(db, a.hash, 7)->copies.size(), 1u);

  ASSERT_TRUE(ledger_rename_folder(db, folder, "/archive/renamed"));
  EXPECT_FALSE(ledger_origin_at(db, folder + "/IMG.JPG"));
  EXPECT_EQ(ledger_origin_at(db, "/archive/renamed/IMG.JPG")->card_label, "A");
  EXPECT_EQ(ledger_origin_at(db, "/archive/50%X\u00c6r\u00f8/IMG.JPG")->card_label, "C");

  // Asked all at once (more paths than one query takes), each path gets its own newest copy;
  // a path asked twice is answered twice, one without a copy not at all.
  std::vector<LedgerEntry> many;
  auto many_path = [](int i) { return "/archive/many/IMG_" + std::to_string(i) + ".JPG"; };
  for (int i = 0; i < 600; ++i) {
    std::string card = "D";
    card += std::to_string(i);
    many.push_back(entry_of(card.c_str(), many_path(i)));
  }
  std::vector<LedgerEntry*> stored;
  for (LedgerEntry& e : many) stored.push_back(&e);
  ASSERT_TRUE(ledger_store(db, stored, true));
  std::vector<std::string> asked = {"/archive/renamed/IMG.JPG", folder + "/IMG.JPG",
                                    "/archive/50%X\u00c6r\u00f8/IMG.JPG"};
  for (int i = 599; i >= 0; --i) asked.push_back(many_path(i));
  asked.push_back("/archive/renamed/IMG.JPG");
  const std::map<std::string, RecordedOrigin> found = ledger_origins_at(db, asked);
  EXPECT_EQ(found.size(), 602u);
  EXPECT_EQ(found.at("/archive/renamed/IMG.JPG").card_label, "A");
  EXPECT_EQ(found.at("/archive/50%X\u00c6r\u00f8/IMG.JPG").card_label, "C");
  EXPECT_EQ(found.at(many_path(0)).card_label, "D0");
  EXPECT_EQ(found.at(many_path(599)).hash, many[599].hash);
  EXPECT_TRUE(captured_ui().pane.empty()) << captured_ui().pane;
}

ArchiveRoots roots_of(const std::string& text) {
  std::string why;
  return ArchiveRoots::parse(text, why).value_or(ArchiveRoots{});
}

// Station A mounts the root "studio" at one folder (and "backup" inside it: the deeper mount
// holds its copies), station B mounts "studio" elsewhere and not "backup": B reads A's copies
// below its own mount point, and those it cannot reach as unreachable, never as its own.
TEST_P(CatalogueTest, CopiesBelowANamedRootAreFoundAtEachStationsMountPoint) {
  open_db();
  const std::string a = *real_path_of(dir / "a"), b = *real_path_of(dir / "b");
  db.set_archive_roots(roots_of("studio=" + a + "; backup=" + a + "/backup"));
  const std::string inside = "photos/IMG_0001.JPG";  // the same path inside both roots
  LedgerEntry e = entry_with_copy("image", 9, "");
  e.ingestion_id = 1;
  const LedgerCopy copy = e.copies[0];
  e.copies.clear();
  for (const std::string& root : {a + "/backup", a, std::string("/elsewhere")}) {
    e.copies.push_back(copy);
    e.copies.back().tree = static_cast<CopyTree>(e.copies.size() - 1);
    e.copies.back().root = root;
    e.copies.back().path = root + "/" + inside;
  }
  ASSERT_TRUE(ledger_store(db, {&e}, true));
  ASSERT_TRUE(manifest_add(db, 1, {a, a + "/Manifests/m.xxh128", ""}));
  const std::string stored = "select root_name || ':' || root || ':' || path from ledger_copy "
                             "order by tree";
  EXPECT_EQ(raw_values(path, stored), "backup::" + inside + "|studio::" + inside +
                                          "|:/elsewhere:/elsewhere/" + inside);

  db.set_archive_roots(roots_of("studio=" + b));
  std::optional<LedgerEntry> found = ledger_find(db, e.hash, 9);
  ASSERT_TRUE(found && found->copies.size() == 3u);
  std::sort(found->copies.begin(), found->copies.end(),
            [](const LedgerCopy& x, const LedgerCopy& y) { return x.tree < y.tree; });
  EXPECT_EQ(found->copies[0].unmapped_root + ":" + found->copies[0].path, "backup:" + inside);
  EXPECT_EQ(found->copies[1].root + "|" + found->copies[1].path, b + "|" + b + "/" + inside);
  EXPECT_EQ(found->copies[2].path, "/elsewhere/" + inside);
  EXPECT_EQ(ledger_origin_at(db, b + "/" + inside)->ingestion_id, 1);
  EXPECT_EQ(manifests_of(db, 1)->at(0).path, b + "/Manifests/m.xxh128");
  EXPECT_EQ(ledger_copies_of_sizes(db, {9})->size(), 2u);  // the unreachable one left out

  // Stored again at B, the unreachable copy keeps its root; a rename at B's mount point
  // moves the copies below it.
  for (LedgerCopy& c : found->copies) c.stored = false;
  ASSERT_TRUE(ledger_store(db, {&*found}, true));
  ASSERT_TRUE(ledger_rename_folder(db, b + "/photos", b + "/2026"));
  EXPECT_EQ(raw_values(path, stored), "backup::" + inside + "|studio::2026/IMG_0001.JPG" +
                                          "|:/elsewhere:/elsewhere/" + inside);

  db.set_archive_roots(ArchiveRoots{});
  EXPECT_EQ(manifests_of(db, 1)->at(0).unmapped_root, "studio");
  EXPECT_FALSE(ledger_origin_at(db, b + "/2026/IMG_0001.JPG"));
  EXPECT_TRUE(captured_ui().pane.empty()) << captured_ui().pane;
}

}  // namespace
}  // namespace cw
