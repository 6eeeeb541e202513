#include "database/wal_checkpointer.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "tests/common/test_env.h"

namespace cw {
namespace {

namespace fs = std::filesystem;

struct Closer {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Connection = std::unique_ptr<sqlite3, Closer>;

Connection open_wal(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  Connection c(db);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  return c;
}

bool exec(sqlite3* db, const std::string& sql) {
  return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Waits up to ten seconds for the file at `path` to grow past `size` bytes.
bool grows_past(const std::string& path, std::uintmax_t size) {
  for (int i = 0; i < 1000; ++i) {
    if (fs::file_size(path) > size) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// A commit past the threshold makes and wakes the thread, which copies the log into the file
// while the writer waits for nothing (its file grows with no commit under way); commits that
// follow each other without a pause still keep the log within about twice the threshold; every
// row is in the file once the connections are closed, and no log is left.
TEST(WalCheckpointerTest, MovesTheLogIntoTheFileBesideTheWriter) {
  test::TempDir dir;
  const std::string path = dir / "catalogue.sqlite3";
  Connection db = open_wal(path);
  ASSERT_TRUE(exec(db.get(), "create table t (id integer primary key, data blob)"));
  constexpr int kFrame = 4096 + 24;
  {
    WalCheckpointer checkpointer(db.get(), path, 16);
    EXPECT_FALSE(checkpointer.on_own_thread());  // made at the first commit past the threshold
    const auto insert = [&](int rows) {
      for (int i = 0; i < rows; ++i)  // ten pages each
        ASSERT_TRUE(exec(db.get(), "insert into t (data) values (zeroblob(40000))"));
    };
    const std::uintmax_t empty = fs::file_size(path);
    insert(2);
    EXPECT_TRUE(grows_past(path, empty)) << "the log was not moved into the file";
    EXPECT_TRUE(checkpointer.on_own_thread());
    insert(200);
    EXPECT_LT(fs::file_size(path + "-wal"), 60u * kFrame);
  }
  db.reset();
  EXPECT_FALSE(fs::exists(path + "-wal"));
  Connection again = open_wal(path);
  sqlite3_stmt* count = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(again.get(), "select count(*) from t", -1, &count, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(count, 0), 202);
  sqlite3_finalize(count);
}

}  // namespace
}  // namespace cw
