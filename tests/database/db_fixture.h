// Shared set-up for the database tests: a fresh database file in a temporary folder, and
// direct access to a file through SQLite alone (to build old files and to damage them the way
// lost rows would).
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "database/database.h"
#include "tests/common/test_env.h"

namespace cw::test {

// Runs statements on a file through a connection of its own.
inline void raw_exec(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* err = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  std::string message = err ? err : "";
  sqlite3_free(err);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << message << "\n" << sql;
}

// The first column of every row, joined by "|".
inline std::string raw_values(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return "?open";
  std::string out;
  auto cb = [](void* p, int, char** v, char**) {
    auto* s = static_cast<std::string*>(p);
    if (!s->empty()) *s += "|";
    *s += v[0] ? v[0] : "NULL";
    return 0;
  };
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), cb, &out, &err) != SQLITE_OK) out = std::string("?") + err;
  sqlite3_free(err);
  sqlite3_close(db);
  return out;
}

// The backups of "cw_main.sqlite3" beside it in `folder`.
inline std::vector<std::string> backups_in(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (e.path().filename() != "cw_main.sqlite3" && e.path().extension() == ".sqlite3")
      out.push_back(e.path().string());
  return out;
}

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

}  // namespace cw::test

namespace cw {
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::StartsWith;
}  // namespace cw
