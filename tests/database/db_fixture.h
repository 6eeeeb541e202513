// Shared set-up for the database tests: a fresh catalogue, a file in a temporary folder or a
// database on a private server, and direct access to it through a connection of its own (to
// build old catalogues and to damage them the way lost rows would).
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "database/database.h"
#include "database/engine.h"
#include "tests/common/test_env.h"
#include "tests/database/pg_server.h"

namespace cw::test {

// Runs statements on a catalogue (a file path or a server URL) through a connection of its
// own. Table definitions are written as for the file; a server gets them in its own words.
inline void raw_exec(const std::string& target, const std::string& sql) {
  std::string error;
  std::unique_ptr<Engine> engine = open_engine(target, error);
  ASSERT_TRUE(engine) << error;
  ASSERT_TRUE(engine->exec(engine->dialect().table_definition(sql.c_str())))
      << engine->error_message() << "\n" << sql;
}

// The first column of every row, joined by "|"; "?" and the message when the query fails.
inline std::string raw_values(const std::string& target, const std::string& sql) {
  std::string error;
  std::unique_ptr<Engine> engine = open_engine(target, error);
  if (!engine) return "?open " + error;
  std::optional<QueryResult> r = engine->query(sql);
  if (!r) return "?" + engine->error_message();
  std::string out;
  for (const std::vector<std::string>& row : r->rows) {
    if (!out.empty()) out += "|";
    out += row.empty() ? "" : row[0];
  }
  return out;
}

// The backups of "cw_main.sqlite3" beside it in `folder`.
inline std::vector<std::string> backups_in(const std::string& folder) {
  std::vector<std::string> out;
  if (!std::filesystem::is_directory(folder)) return out;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (e.path().filename() != "cw_main.sqlite3" && e.path().extension() == ".sqlite3")
      out.push_back(e.path().string());
  return out;
}

// A fresh database file in a temporary folder, opened by open_db.
class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    captured_ui().clear();
    path = dir / "cw_main.sqlite3";
  }
  // Opens `path` and installs the default entities, as start-up does.
  void open_db() {
    ASSERT_TRUE(db.open(path)) << captured_ui().pane;
    ASSERT_TRUE(db.install_default_entities()) << captured_ui().pane;
  }
  TempDir dir;
  std::string path;
  Database db;
};

// Runs each test once on a file and once on a database of its own on the private server
// (skipped, saying why, when the server cannot run here). `path` is the file's path or the
// server URL.
class CatalogueTest : public DatabaseTest, public ::testing::WithParamInterface<Store> {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (!server()) return;
    // The user folder (where a server catalogue's backups go) is the test's own.
    if (const char* data = std::getenv("XDG_DATA_HOME")) saved_data_home_ = data;
    ::setenv("XDG_DATA_HOME", dir.str().c_str(), 1);
    fresh_store();
  }
  void TearDown() override {
    if (!server()) return;
    if (saved_data_home_)
      ::setenv("XDG_DATA_HOME", saved_data_home_->c_str(), 1);
    else
      ::unsetenv("XDG_DATA_HOME");
  }
  bool server() const { return GetParam() == Store::kServer; }
  // Where the repair's backups go, and the name they start with.
  std::string backup_folder() const { return server() ? dir / "CardwrightPro" : dir.str(); }
  std::string backup_stem() const { return server() ? "cw_catalogue_" : "cw_main_"; }
  // An empty catalogue at `path`: the file removed, or a new database on the server.
  void fresh_store() {
    if (!server()) {
      std::filesystem::remove(path);
      return;
    }
    std::string why;
    PrivateServer* s = PrivateServer::get(why);
    if (!s) GTEST_SKIP() << "no private PostgreSQL server: " << why;
    path = s->new_database(why);
    ASSERT_FALSE(path.empty()) << why;
  }

 private:
  std::optional<std::string> saved_data_home_;
};

}  // namespace cw::test

namespace cw {
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::StartsWith;
}  // namespace cw
