// One connection to a catalogue store, whatever engine keeps it: the embedded SQLite file or
// a PostgreSQL server. `Database` holds one and runs every statement through it.
//
// Statement text is the same for both engines. Where their SQL differs, the statement asks the
// engine's dialect (SqlDialect) for the piece that differs instead of being written twice.
// Quoting with sql_format's '%q' and %Q is standard SQL quoting and suits both.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cw {

// The rows of one query, every cell as text (an SQL null becomes the empty text).
struct QueryResult {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;
  std::size_t row_count() const { return rows.size(); }
  std::size_t column_count() const { return columns.size(); }
};

// The pieces of SQL that differ between the engines.
class SqlDialect {
 public:
  virtual ~SqlDialect() = default;
  // Starts a transaction that writes at once: what it reads cannot change before it writes,
  // whatever another program or station does meanwhile (that one waits for the commit).
  virtual const char* begin_write() const = 0;
  // The same for building or upgrading the schema.
  virtual const char* begin_schema() const = 0;
  // One row, one column: the largest key the table's key sequence handed out, 0 before any.
  virtual std::string next_number(const std::string& table) const = 0;
  // One row, one column: how many tables (any case) / columns of that name there are.
  virtual std::string table_exists(const std::string& table) const = 0;
  virtual std::string column_exists(const std::string& table, const std::string& column) const = 0;
  // A table definition written for the embedded file ("integer ... primary key autoincrement")
  // as this engine wants it.
  virtual std::string table_definition(const char* sql) const = 0;
  // Statements the engine needs before the first table (collations, functions).
  virtual std::vector<std::string> preliminaries() const = 0;
  // A statement that moves the table's key sequence past the largest key in it (rows written
  // with their keys, as an older catalogue's, do not move it); empty when keys never lag.
  virtual std::string align_key_sequence(const std::string& table,
                                         const std::string& key) const = 0;
  // "insert" that replaces the row with the same `key_columns` (comma separated).
  virtual std::string insert_or_replace(const std::string& table, const std::string& columns,
                                        const std::string& values,
                                        const std::string& key_columns) const = 0;
  // A text expression as bytes, and bytes back as text (byte-wise prefix comparison).
  virtual std::string bytes_of(const std::string& expression) const = 0;
  virtual std::string text_of(const std::string& expression) const = 0;
  // An expression that orders a table's rows by when they were last written (newest last),
  // for the table alias given.
  virtual std::string write_order(const std::string& alias) const = 0;
  // One row, one column: a number that changes when another connection commits a change.
  virtual const char* change_counter() const = 0;
  // One column: the names of the catalogue's own tables.
  virtual const char* tables() const = 0;
  // Starts a transaction whose reads all see the catalogue as it was at its start.
  virtual const char* begin_snapshot() const = 0;
  // A query whose `count` rows each hold a new key of the table's key sequence, for rows
  // written many to a statement with their keys; empty when the engine writes rows one by one
  // as cheaply (no round trip per statement).
  virtual std::string reserve_keys(const std::string& /*table*/, const std::string& /*key*/,
                                   std::size_t /*count*/) const {
    return {};
  }
};

// A statement prepared once and run with value after value. Parameters are written "?1",
// "?2"... (numbered from 1) in the statement text for both engines.
class EngineStatement {
 public:
  virtual ~EngineStatement() = default;
  virtual void bind(int index, long long value) = 0;
  virtual void bind(int index, const std::string& text) = 0;
  virtual void bind_null(int index) = 0;
  // False with the engine's error set.
  virtual bool run() = 0;
};

class Engine {
 public:
  virtual ~Engine() = default;
  // Runs one or more statements; false with the error set.
  virtual bool exec(const std::string& sql) = 0;
  // Runs one query; nothing with the error set.
  virtual std::optional<QueryResult> query(const std::string& sql) = 0;
  // Nothing with the error set.
  virtual std::unique_ptr<EngineStatement> prepare(const std::string& sql) = 0;
  virtual long long last_insert_key() = 0;
  virtual int changes() = 0;
  virtual bool in_transaction() = 0;
  // The message of the last failure, empty after a success.
  virtual const std::string& error_message() const = 0;
  // True when the last failure was the store's (a file full, read-only or locked, a server
  // lost) rather than the statement's: the message alone would not say which store.
  virtual bool store_failure() const = 0;
  // True when the last failure was a statement naming a table or column that does not exist.
  virtual bool unknown_name_failure() const = 0;
  virtual const SqlDialect& dialect() const = 0;
  // What messages name: the file's path, or user@host:port/db for a server (never a password).
  virtual const std::string& location() const = 0;
  // Copies the whole store into a new SQLite file at `target` by the engine's own means;
  // false with the error set when it has none (Database then copies it row by row).
  virtual bool backup_to(const std::string& target) = 0;
};

// The embedded file's dialect.
const SqlDialect& sqlite_dialect();

// Whether `catalogue` names a server ("postgresql://..." or "postgres://...") rather than a
// file path.
bool is_server_catalogue(const std::string& catalogue);

// Opens the SQLite file at `path` (creating it). Nothing with `error` set to the engine's
// message.
std::unique_ptr<Engine> open_sqlite_engine(const std::string& path, std::string& error);
// Connects to the server of `url`; credentials come from the URL, PGPASSFILE or ~/.pgpass.
// Nothing with `error` set to a message naming user@host:port/db and never the password.
std::unique_ptr<Engine> open_postgres_engine(const std::string& url, std::string& error);
// The one of the two that `catalogue` calls for.
std::unique_ptr<Engine> open_engine(const std::string& catalogue, std::string& error);

// user@host:port/db for a server URL, without its password (the URL as given when it cannot
// be read).
std::string catalogue_display_name(const std::string& url);

}  // namespace cw
