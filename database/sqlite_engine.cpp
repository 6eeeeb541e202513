// The embedded engine: one SQLite file.
#include <sqlite3.h>
#include <sys/vfs.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "database/database.h"
#include "database/engine.h"
#include "database/wal_checkpointer.h"

namespace cw {

std::optional<std::string> sql_format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  char* p = sqlite3_vmprintf(fmt, ap);
  va_end(ap);
  if (!p) return std::nullopt;
  std::string s(p);
  sqlite3_free(p);
  return s;
}

namespace {

// Concurrent tools (a second program instance, the sqlite3 shell) may hold the file briefly.
constexpr int kBusyMilliseconds = 5000;

// A checkpoint copies the log's pages into the file and syncs both. An ingestion of a large
// card changes the same pages (those of the indexes by content hash, whose rows land all over
// them) in commit after commit: a log of four times the usual length before each checkpoint
// writes such a page into the file once for several commits, at a fraction of the syncs. A
// reader looks pages up in the log's index, which stays small.
constexpr int kCheckpointPages = 4000;

// True when the connection keeps a write-ahead log.
bool in_wal_mode(sqlite3* db) {
  bool wal = false;
  sqlite3_exec(
      db, "PRAGMA journal_mode",
      [](void* out, int columns, char** values, char**) {
        *static_cast<bool*>(out) = columns == 1 && values[0] && std::strcmp(values[0], "wal") == 0;
        return 0;
      },
      &wal, nullptr);
  return wal;
}

class SqliteDialect final : public SqlDialect {
 public:
  const char* begin_write() const override { return "begin immediate transaction"; }
  const char* begin_schema() const override { return "begin exclusive transaction"; }
  std::string next_number(const std::string& table) const override {
    return "select seq from sqlite_sequence where name = " + quoted(table);
  }
  std::string table_exists(const std::string& table) const override {
    return "select count(*) from sqlite_master where type = 'table' and lower(name) = lower(" +
           quoted(table) + ")";
  }
  std::string column_exists(const std::string& table, const std::string& column) const override {
    return "select count(*) from pragma_table_info(" + quoted(table) +
           ") where lower(name) = lower(" + quoted(column) + ")";
  }
  std::string table_definition(const char* sql) const override { return sql; }
  std::vector<std::string> preliminaries() const override { return {}; }
  std::string align_key_sequence(const std::string&, const std::string&) const override {
    return {};  // the file's sequence follows every key written
  }
  std::string insert_or_replace(const std::string& table, const std::string& columns,
                                const std::string& values, const std::string&) const override {
    return "insert or replace into " + table + " (" + columns + ") values(" + values + ")";
  }
  std::string bytes_of(const std::string& e) const override { return "cast(" + e + " as blob)"; }
  std::string text_of(const std::string& e) const override { return "cast(" + e + " as text)"; }
  std::string write_order(const std::string& alias) const override { return alias + ".rowid"; }
  const char* change_counter() const override { return "PRAGMA data_version"; }
  const char* tables() const override {
    return "select name from sqlite_master where type = 'table' and name not like 'sqlite%'";
  }
  const char* begin_snapshot() const override { return "begin transaction"; }

 private:
  static std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
  }
};

// Result codes that are about the database file rather than the statement.
bool file_code(int code) {
  switch (code) {
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_PERM:
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_NOLFS:
      return true;
    default:
      return false;
  }
}

class SqliteEngine;

class SqliteStatement final : public EngineStatement {
 public:
  SqliteStatement(SqliteEngine& engine, sqlite3_stmt* statement)
      : engine_(engine), statement_(statement) {}
  ~SqliteStatement() override { sqlite3_finalize(statement_); }
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  void bind(int index, long long value) override { sqlite3_bind_int64(statement_, index, value); }
  void bind(int index, const std::string& text) override {
    sqlite3_bind_text(statement_, index, text.c_str(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
  }
  void bind_null(int index) override { sqlite3_bind_null(statement_, index); }
  bool run() override;

 private:
  SqliteEngine& engine_;
  sqlite3_stmt* statement_;
};

class SqliteEngine final : public Engine {
 public:
  SqliteEngine(sqlite3* db, std::string path, bool checkpoint_aside)
      : db_(db), path_(std::move(path)) {
    if (checkpoint_aside)
      checkpointer_ = std::make_unique<WalCheckpointer>(db_, path_, kCheckpointPages);
  }
  ~SqliteEngine() override {
    checkpointer_.reset();
    sqlite3_close(db_);
  }
  SqliteEngine(const SqliteEngine&) = delete;
  SqliteEngine& operator=(const SqliteEngine&) = delete;

  bool exec(const std::string& sql) override {
    char* err = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
    set_result(rc, err);
    sqlite3_free(err);
    return rc == SQLITE_OK;
  }

  std::optional<QueryResult> query(const std::string& sql) override {
    set_result(SQLITE_OK, nullptr);
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr);
    if (rc != SQLITE_OK) {
      set_result(rc, nullptr);
      sqlite3_finalize(st);
      return std::nullopt;
    }
    QueryResult result;
    if (!st) return result;  // empty statement
    const int n = sqlite3_column_count(st);
    for (int i = 0; i < n; ++i) {
      const char* name = sqlite3_column_name(st, i);
      result.columns.emplace_back(name ? name : "");
    }
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      std::vector<std::string> row;
      row.reserve(static_cast<std::size_t>(n));
      for (int i = 0; i < n; ++i) {
        const unsigned char* text = sqlite3_column_text(st, i);
        const int bytes = sqlite3_column_bytes(st, i);
        row.emplace_back(text ? std::string(reinterpret_cast<const char*>(text),
                                            static_cast<std::size_t>(bytes))
                              : std::string());
      }
      result.rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
      set_result(rc, nullptr);
      sqlite3_finalize(st);
      return std::nullopt;
    }
    sqlite3_finalize(st);
    return result;
  }

  std::unique_ptr<EngineStatement> prepare(const std::string& sql) override {
    sqlite3_stmt* st = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr);
    set_result(rc, nullptr);
    if (rc == SQLITE_OK && st) return std::make_unique<SqliteStatement>(*this, st);
    sqlite3_finalize(st);
    return nullptr;
  }

  long long last_insert_key() override { return sqlite3_last_insert_rowid(db_); }
  int changes() override { return sqlite3_changes(db_); }
  bool in_transaction() override { return sqlite3_get_autocommit(db_) == 0; }
  const std::string& error_message() const override { return message_; }
  bool store_failure() const override { return file_code(code_); }
  bool unknown_name_failure() const override { return code_ == SQLITE_ERROR; }
  const SqlDialect& dialect() const override { return dialect_; }
  const std::string& location() const override { return path_; }

  bool backup_to(const std::string& target) override {
    sqlite3* out = nullptr;
    int rc = sqlite3_open(target.c_str(), &out);
    if (rc == SQLITE_OK) {
      sqlite3_backup* b = sqlite3_backup_init(out, "main", db_, "main");
      rc = SQLITE_ERROR;
      if (b) {
        rc = sqlite3_backup_step(b, -1);
        const int finish = sqlite3_backup_finish(b);
        rc = rc == SQLITE_DONE ? finish : rc;
      }
    }
    message_ = rc == SQLITE_OK ? "" : (out ? sqlite3_errmsg(out) : sqlite3_errstr(rc));
    code_ = rc & 0xff;
    if (sqlite3_close(out) != SQLITE_OK && rc == SQLITE_OK) rc = SQLITE_ERROR;
    return rc == SQLITE_OK;
  }

  // Keeps a step's outcome: the code and, on failure, the engine's message.
  void set_result(int rc, const char* err) {
    code_ = rc & 0xff;
    message_ = err ? err : (rc == SQLITE_OK || rc == SQLITE_DONE ? "" : sqlite3_errmsg(db_));
    if (rc == SQLITE_DONE) code_ = SQLITE_OK;
  }

 private:
  sqlite3* db_;
  std::string path_;
  std::unique_ptr<WalCheckpointer> checkpointer_;  // none: SQLite checkpoints as it commits
  SqliteDialect dialect_;
  int code_ = SQLITE_OK;
  std::string message_;
};

bool SqliteStatement::run() {
  int rc;
  while ((rc = sqlite3_step(statement_)) == SQLITE_ROW) {
  }
  engine_.set_result(rc, nullptr);
  sqlite3_reset(statement_);
  return rc == SQLITE_DONE;
}

}  // namespace

namespace {

// True when the file system holding `path` is a network or user-space one, whose programs on
// other machines (or whose own implementation) may not share the memory map and locks that a
// write-ahead log relies on: such a catalogue keeps its rollback journal.
bool shared_file_system(const std::string& path) {
  struct statfs fs;
  if (::statfs(path.c_str(), &fs) != 0) return true;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x65735546UL:  // FUSE
    case 0x01021997UL:  // 9P
    case 0x00C36400UL:  // Ceph
    case 0x5346414FUL:  // AFS
      return true;
    default:
      return false;
  }
}

// `path` as an SQLite file URI with `query`: characters that end or escape a URI's path are
// escaped.
std::string file_uri(const std::string& path, const char* query) {
  std::error_code error;
  std::string absolute = std::filesystem::absolute(path, error).string();
  if (error) absolute = path;
  std::string uri = "file:";
  for (char c : absolute) {
    if (c == '%' || c == '?' || c == '#') {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
      uri += escaped;
    } else {
      uri += c;
    }
  }
  return uri + "?" + query;
}

// The outcome of a first read of the catalogue's schema.
int first_read(sqlite3* db) {
  return sqlite3_exec(db, "select count(*) from sqlite_master", nullptr, nullptr, nullptr) & 0xff;
}

}  // namespace

std::unique_ptr<Engine> open_sqlite_engine(const std::string& path, std::string& error) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open(path.c_str(), &db);
  if (rc != SQLITE_OK) {
    error = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyMilliseconds);
  // A commit in write-ahead-log mode syncs the log once, where a rollback journal costs four
  // syncs and the journal's creation and removal; `synchronous=FULL` keeps every commit on the
  // disk when it returns. The mode stays with the file: once set, every later program opening
  // it uses the log too, so a catalogue moved onto a shared file system is put back to the
  // rollback journal there. Neither pragma is an error when it cannot be had (a read-only
  // catalogue, another program holding it): the catalogue then keeps the journal it has.
  sqlite3_exec(db, shared_file_system(path) ? "PRAGMA journal_mode=DELETE"
                                            : "PRAGMA journal_mode=WAL",
               nullptr, nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  // The indexes by content hash and by size take their rows all over their pages, so once a
  // catalogue holds some 100,000 files an ingestion's store of a second's files touches most of
  // them. With the engine's usual 2 MB of cache those pages were read again and spilled into
  // the log in every store; 8 MB keeps them (an ingestion of 100,000 files wrote the log 30%
  // fewer times). The cache takes memory only for the pages read: about 6 MB for a catalogue
  // of 10,000 files, less for a smaller one.
  sqlite3_exec(db, "PRAGMA cache_size=-8192", nullptr, nullptr, nullptr);
  const int read = first_read(db);
  if (read == SQLITE_READONLY || read == SQLITE_CANTOPEN) {
    // A catalogue in log mode cannot be read through the log where this user may not make the
    // log's files (a read-only folder or file system) and no program that may has them open.
    // The last program to close the catalogue moved the log into the file and removed it, so
    // the file alone is the whole catalogue then: it is read as it lies.
    sqlite3* file = nullptr;
    if (sqlite3_open_v2(file_uri(path, "immutable=1").c_str(), &file,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) == SQLITE_OK &&
        first_read(file) == SQLITE_OK) {
      sqlite3_close(db);
      db = file;
      return std::make_unique<SqliteEngine>(db, path, false);
    }
    sqlite3_close(file);
  }
  return std::make_unique<SqliteEngine>(db, path, in_wal_mode(db));
}

const SqlDialect& sqlite_dialect() {
  static const SqliteDialect dialect;
  return dialect;
}

bool is_server_catalogue(const std::string& catalogue) {
  return catalogue.rfind("postgresql://", 0) == 0 || catalogue.rfind("postgres://", 0) == 0;
}

std::unique_ptr<Engine> open_engine(const std::string& catalogue, std::string& error) {
  return is_server_catalogue(catalogue) ? open_postgres_engine(catalogue, error)
                                        : open_sqlite_engine(catalogue, error);
}

}  // namespace cw
