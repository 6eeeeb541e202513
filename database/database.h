// The ingestion database: one SQLite file per user, or a catalogue on a PostgreSQL server that
// several stations share, recording every ingestion together with its client, project and
// card, plus reusable IPTC values and free user data.
//
// One `Database` object holds the single connection of the program (an Engine, see engine.h).
// Every statement is SQL text formed with SQLite's own formatting (sql_format: '%q' doubles
// quotes inside a quoted literal, %Q gives a quoted literal or NULL; standard SQL quoting that
// both engines read), and every statement runs holding the connection's own lock, so ingestion threads and the user-interface thread never interleave on it. A caller
// whose statements must run together (a check and the insert it decides, a transaction from
// its begin to its commit) holds the connection for them with Database::Locked.
// A failing statement appends "\nERROR: " + the engine's message + "\n" to the text pane (or to
// the text a caller redirected the errors to, see ErrorRedirect); when the failure is the
// store's (a file full, read-only, unreadable or locked; a server lost) rather than the
// statement's, the message names the database file or the server.
//
// A statement run for many rows in a row (the ledger's inserts) is prepared once and given
// each row's values (Database::Repeated) instead of being formed and parsed per row.
//
// Sections of database.cpp: formatting and the connection; statements; schema build and
// upgrades; clients; projects; cards; selection lists; ingestions; macro values.
#pragma once

#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "database/archive_roots.h"
#include "database/engine.h"

namespace cw {

inline constexpr const char* kDatabaseFileName = "cw_main.sqlite3";
// Name of the hidden card, client and per-client project that stand for "not chosen".
inline constexpr const char* kUnknownEntity = "[unknown]";
// What reading an ingestion's parameter record gives when it cannot be read.
inline constexpr const char* kNoParametersStored = "No parameters stored.";
// Longest database path kept by open.
inline constexpr std::size_t kMaxDatabasePath = 1000;

// SQLite's printf (%q, %Q, %w and the usual conversions). Nothing when memory runs out.
std::optional<std::string> sql_format(const char* fmt, ...);

// Local time as the database stores it, "%Y-%m-%d %H:%M:%S"; "00000000_000000" when the
// local time cannot be formed.
std::string db_time_text(std::time_t t);
std::string db_now_text();

class Database {
 public:
  Database() = default;
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // ---- connection
  // Opens the catalogue (a file path, created when missing, or a "postgresql://" URL), keeps
  // the path, builds or upgrades the schema and hides the "[unknown]" entities. False after
  // "Can't initialize SQLite database:" (a file) or "Can't open the catalogue" (a server,
  // naming user@host:port/db and never the password), or a schema error.
  bool open(const std::string& catalogue);
  bool close();
  bool is_open() const { return engine_ != nullptr; }
  // The file's path, or user@host:port/db of a server.
  const std::string& path() const { return path_; }
  bool is_server() const { return server_; }
  // The SQL pieces that differ between the engines (the embedded file's while closed).
  const SqlDialect& dialect() const { return engine_ ? engine_->dialect() : sqlite_dialect(); }
  // Copies the open catalogue into a new SQLite file (the repair's backup): the file's own
  // copy for a file, a server's tables row by row as one snapshot of them. False after a
  // failure was reported.
  bool backup_to(const std::string& target);
  // Where this station mounts the archive roots that stations share by name: the ledger's
  // copies and manifests below them are recorded by name and read back below this station's
  // mount points (ledger_store.h). None: every path is recorded as it is.
  void set_archive_roots(ArchiveRoots roots) { archive_roots_ = std::move(roots); }
  const ArchiveRoots& archive_roots() const { return archive_roots_; }

  // Sends the error reports of this connection into `target` instead of the text pane while
  // the guard lives (verification and repair collect theirs into the repair text).
  class ErrorRedirect {
   public:
    ErrorRedirect(Database& db, std::string* target) : db_(db), saved_(db.error_sink_) {
      db.error_sink_ = target;
    }
    ~ErrorRedirect() { db_.error_sink_ = saved_; }
    ErrorRedirect(const ErrorRedirect&) = delete;
    ErrorRedirect& operator=(const ErrorRedirect&) = delete;

   private:
    Database& db_;
    std::string* saved_;
  };

  // Holds the connection's lock while it lives: the statements of other threads wait until the
  // holder's statements are done. Statements of the holder's thread run as usual (the lock is
  // recursive).
  class Locked {
   public:
    explicit Locked(Database& db) : lock_(db.mutex_) {}
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

   private:
    std::unique_lock<std::recursive_mutex> lock_;
  };

 private:
  // A write transaction taken at once ("begin immediate") when none is open, so that what it
  // reads (is a row there? the next number) cannot change before it writes, whatever another
  // program does with the file: that one waits for the commit (busy timeout). Inside a
  // caller's transaction it does nothing, and the caller's commit or rollback decides.
  // Destroyed without commit(), it rolls back what it began.
  class WriteTransaction {
   public:
    enum class Begin { kOrFail, kOrRunAlone };
    // kOrFail: a transaction that cannot begin is reported and ok() is false, so nothing is
    // written. kOrRunAlone: it is not reported and the statements run one by one.
    explicit WriteTransaction(Database& db, Begin begin = Begin::kOrFail);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;
    bool ok() const { return ok_; }
    // Commits what it began (reporting a failure, and rolling back what a failed commit left
    // open); true at once inside a caller's or when it ran alone.
    bool commit();

   private:
    Database& db_;
    bool began_ = false;
    bool ok_ = false;
  };

 public:
  // The statements of its holder's thread, from its creation to commit(), as one transaction:
  // one flush of the file for a run of writes. Holds the connection meanwhile. A statement
  // that fails inside it fails alone, and its caller reports it as ever, unless the engine ends
  // the transaction for it (a server always does); commit() then fails. When it cannot begin
  // (another program holds the file) the statements run one by one, as without it; inside a
  // transaction already open it adds none of its own. Destroyed without commit(), it rolls
  // back what it began.
  class Batch {
   public:
    explicit Batch(Database& db)
        : lock_(db), transaction_(db, WriteTransaction::Begin::kOrRunAlone) {}
    // False when the commit failed or the transaction was ended by a failed statement.
    bool commit() { return transaction_.commit(); }

   private:
    Locked lock_;
    WriteTransaction transaction_;
  };

  // ---- statements (each holds the connection's lock)
  // Runs one or more statements; on failure reports "\nERROR: <message>\n" (a file error:
  // "\nERROR: <message>: \"<database file>\"\n").
  bool exec(const std::string& sql);
  // Runs statements without reporting a failure (probes, rollbacks).
  bool exec_quiet(const std::string& sql);
  // Runs one query and returns all rows; nothing after reporting a failure.
  std::optional<QueryResult> query(const std::string& sql);
  std::optional<QueryResult> query_quiet(const std::string& sql);
  // One statement prepared once and run for row after row: bind the values (numbered from 1),
  // then run. Holds the connection's lock while it lives. A failure to prepare or to run is reported
  // like exec's; values bound stay bound until bound again.
  class Repeated {
   public:
    Repeated(Database& db, const char* sql);
    ~Repeated();
    Repeated(const Repeated&) = delete;
    Repeated& operator=(const Repeated&) = delete;

    bool ready() const { return statement_ != nullptr; }
    void bind(int index, long long value);
    void bind(int index, const std::string& text);
    void bind_null(int index);
    // Runs the statement with the values bound: false after reporting a failure.
    bool run();

   private:
    Database& db_;
    std::unique_lock<std::recursive_mutex> lock_;
    std::unique_ptr<EngineStatement> statement_;
  };

  // Runs `write` (which opens and commits its own transaction) with commits that do not wait
  // for the disk, as unflushed below: for rows whose loss in a power cut is no loss, as the
  // ledger's rows of copies not yet flushed, which a later run proves before it trusts them.
  bool write_unflushed(const std::function<bool()>& write);

  // Appends text to the pane (or the redirect target).
  void report(const std::string& text);
  // The message of the last failed statement.
  const std::string& last_error() const { return last_message_; }
  // Key of the row the last insert made; rows changed by the last statement.
  int last_insert_key();
  int changes();

  // The first column of the single result row, cut to size - 1 characters. No row gives "0"
  // when `zero_allowed`, else failure; several rows fail unless `same_allowed`, the result
  // has one column and every row holds the same text.
  bool single_value(const std::string& sql, std::string& value, std::size_t size, bool zero_allowed,
                    bool same_allowed);
  // The table's key sequence value: 0 before its first row, -1 on failure.
  int next_number(const std::string& table);

  // When there are no clients yet: a default client with its default project, and a default
  // card. False on failure.
  bool install_default_entities();

  // ---- clients. An empty name gives the default name "Client_%03d" after the sequence.
  int client_add(const std::string& name, const std::string& description, bool with_project);
  bool client_rename(int key, const std::string& name, const std::string& description);
  bool client_hide(int key);
  int client_key(const std::string& name);  // -1 when there is none
  std::optional<std::string> client_name(int key);
  int unknown_client();

  // ---- projects. An empty name gives "Project_%03d". A null checklist stores NULL.
  int project_add(const std::string& name, const std::string& client_name,
                  const std::optional<std::string>& checklist, const std::string& description);
  // Renames; `owner` (when given) receives the owning client's name for reloading lists.
  bool project_rename(int key, const std::string& name, const std::string& description,
                      std::string* owner = nullptr);
  bool project_hide(int key);
  // The visible project of that name under the visible client of that name, or -1.
  int project_key(const std::string& client_name, const std::string& project_name);
  // The "[unknown]" project of a client (of the unknown client for -1), created when missing.
  int unknown_project(int client_key);

  // ---- cards. An empty name gives "#%03d".
  int card_add(const std::string& name, const std::string& description);
  bool card_rename(int key, const std::string& name, const std::string& description);
  bool card_hide(int key);
  int card_key(const std::string& name);  // -1 when there is none
  // The name of the card with this key, when it is not hidden.
  std::optional<std::string> visible_card_name(int key);
  int unknown_card();

  // ---- selection lists (visible rows, ordered by name without regard to case)
  // name, client_sk, created_dt, description
  std::optional<QueryResult> list_clients();
  // project.name, project_sk, client.name, created_dt, description
  std::optional<QueryResult> list_projects(const std::string& client_name);
  // name, card_sk, inservice_dt, description
  std::optional<QueryResult> list_cards();

  // ---- ingestions
  // A new ingestion row stamped with the current local time; its key, or -1.
  int ingestion_insert(int project_key, int card_key, int number_start, int number_stop,
                       int image_count, const std::optional<std::string>& notes);
  int ingestion_count();
  bool ingestion_exists(int key);
  bool ingestion_set_numbers(int key, int start, int stop);
  bool ingestion_set_count(int key, int count);
  // Stores the parameter record, adding the `params` column to older files first.
  bool ingestion_set_params(int key, const std::string& text);
  // The stored record; "No parameters stored." when it cannot be read.
  std::string ingestion_params(int key);
  // Appends a result text (trailing white space removed), joined to earlier ones by " / ".
  bool ingestion_append_result(int key, const std::string& text);

 private:
  bool build_schema();
  bool upgrade_schema();
  bool copy_into_file(const std::string& target);
  bool copy_table(Database& file, const std::string& table);
  bool run_schema_list(const char* const* statements, std::size_t n);
  // Counts from a probe of the catalogue's tables and columns; -1 when it fails.
  int count_of(const std::string& sql);
  // Keeps the engine's outcome of the last statement.
  bool took(bool ok);
  void report_error(const std::string& message);
  int unknown_project_locked(int client_key);
  int find_or_add_unknown(const char* select, const std::function<int()>& add,
                          const char* add_error);
  // Runs `write`, whose commits then do not wait for the disk when the catalogue is an SQLite
  // file in write-ahead-log mode and no transaction is open: the log is written in order, so
  // the next commit that waits (every other one) or the fold at closing takes them to the disk
  // with its own. For the rows an ingestion starts with: a power cut before the run's first
  // ledger store loses them with nothing a card could be called safe by.
  template <typename Write>
  auto unflushed(Write&& write);

  std::recursive_mutex mutex_;
  std::unique_ptr<Engine> engine_;
  std::string path_;
  bool server_ = false;
  ArchiveRoots archive_roots_;
  std::string* error_sink_ = nullptr;
  bool store_failure_ = false;
  std::string last_message_;
};

// A TABLE.COLUMN macro value: TABLE is a catalogue title or table name (any case), TABLE and
// COLUMN 1 to 49 characters, COLUMN a plain column name; `key` is the stored key of the row
// last chosen ("LastDB_" + table in the master preset; "???" when none is stored). The value
// of that column in the row whose key column equals the key, cut to 1999 characters; empty
// when no row matches. Nothing when the table is unknown, a name is out of bounds or the
// query fails: the macro is then left as written.
std::optional<std::string> db_macro_value(Database& db, std::string_view table,
                                          std::string_view column,
                                          const std::optional<std::string>& key);

}  // namespace cw
