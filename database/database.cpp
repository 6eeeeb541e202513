// The ingestion database connection, schema and the statements on clients, projects, cards
// and ingestions (see database.h).
//
// Sections: formatting and the connection; statements; schema build and upgrades; clients;
// projects; cards; selection lists; ingestions; macro values.
#include "database/database.h"

#include <cctype>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <utility>

#include "database/catalog.h"
#include "foundation/log.h"
#include "foundation/text.h"

namespace cw {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

std::string lower_ascii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Keys and counts travel as C ints, as the statements format them with %d.
int to_int(const std::string& text) {
  return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

}  // namespace

// ---------------------------------------------------------------- formatting and connection

std::string db_time_text(std::time_t t) {
  struct tm tm;
  char buf[64];
  if (!localtime_r(&t, &tm) || std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm) == 0)
    return "00000000_000000";
  return buf;
}

std::string db_now_text() { return db_time_text(std::time(nullptr)); }

Database::~Database() {
  if (engine_) close();
}

bool Database::open(const std::string& catalogue) {
  Lock lock(mutex_);
  if (engine_) close();
  server_ = is_server_catalogue(catalogue);
  std::string error;
  if (server_) {
    // The URL may hold a password: only user@host:port/db is kept and shown.
    path_ = catalogue_display_name(catalogue);
    engine_ = open_postgres_engine(catalogue, error);
    if (!engine_) {
      alert_printf("Can't open the catalogue %s:\n%s", path_.c_str(), error.c_str());
      return false;
    }
  } else {
    // Only the first 1000 characters are kept (a longer path cannot be backed up by repair).
    path_ = catalogue.substr(0, kMaxDatabasePath);
    engine_ = open_sqlite_engine(catalogue, error);
    if (!engine_) {
      alert_printf("Can't initialize SQLite database:\n%s\n%s", catalogue.c_str(), error.c_str());
      return false;
    }
  }
  if (!build_schema()) {
    engine_.reset();
    return false;
  }
  // Only a row not hidden yet is written: a write that changes nothing would still cost the
  // file a commit, on every start.
  exec("update card set hidden = 1 where name = '[unknown]' and coalesce(hidden, 0) != 1");
  exec("update client set hidden = 1 where name = '[unknown]' and coalesce(hidden, 0) != 1");
  return true;
}

bool Database::close() {
  Lock lock(mutex_);
  engine_.reset();
  return true;
}

bool Database::backup_to(const std::string& target) {
  Lock lock(mutex_);
  if (!engine_) return false;
  if (!server_) return took(engine_->backup_to(target));
  return copy_into_file(target);
}

bool Database::copy_into_file(const std::string& target) {
  Database file;
  file.error_sink_ = error_sink_;
  if (!file.open(target)) return false;
  const bool own = !engine_->in_transaction();
  if (own && !exec(dialect().begin_snapshot())) return false;
  bool ok = file.exec("begin transaction");
  auto tables = ok ? query(dialect().tables()) : std::nullopt;
  ok = tables.has_value();
  for (std::size_t i = 0; ok && i < tables->rows.size(); ++i)
    // The file keeps its own schema version.
    if (tables->rows[i][0] != "schema_version") ok = copy_table(file, tables->rows[i][0]);
  ok = ok && file.exec("commit transaction");
  if (own) exec_quiet("rollback transaction");  // it only read
  return ok;
}

bool Database::copy_table(Database& file, const std::string& table) {
  auto server_columns = query("select * from " + table + " where 1 = 0");
  auto file_columns = file.query_quiet("select * from " + table + " where 1 = 0");
  if (!server_columns) return false;
  std::string names, marks, select;
  for (std::size_t i = 0; i < server_columns->columns.size(); ++i) {
    const std::string& c = server_columns->columns[i];
    bool known = false;
    if (file_columns)
      for (const std::string& f : file_columns->columns) known = known || lower_ascii(f) == c;
    if (!known && file_columns && !file.exec("alter table " + table + " add column " + c))
      return false;
    names += (i ? ", " : "") + c;
    marks += (i ? ", ?" : "?") + std::to_string(i + 1);
    // Each value with whether it is null: the text of a null is empty, like an empty text's.
    select += (i ? ", " : "") + c + " is null, " + c;
  }
  if (!file_columns && !file.exec("create table " + table + " (" + names + ")")) return false;
  auto rows = query("select " + select + " from " + table);
  if (!rows) return false;
  Repeated insert(file, ("insert into " + table + " (" + names + ") values(" + marks + ")").c_str());
  if (!insert.ready()) return false;
  for (const std::vector<std::string>& row : rows->rows) {
    for (std::size_t i = 0; i + 1 < row.size(); i += 2) {
      const int at = static_cast<int>(i / 2 + 1);
      if (row[i] == "t" || row[i] == "1")
        insert.bind_null(at);
      else
        insert.bind(at, row[i + 1]);
    }
    if (!insert.run()) return false;
  }
  return true;
}

// ---------------------------------------------------------------- statements

void Database::report(const std::string& text) {
  if (error_sink_)
    *error_sink_ += text;
  else
    ui_print(text);
}

void Database::report_error(const std::string& message) {
  report("\nERROR: " + (store_failure_ ? text_with_path(message, path_) : message) + "\n");
}

bool Database::took(bool ok) {
  last_message_ = ok ? std::string() : engine_->error_message();
  store_failure_ = !ok && engine_->store_failure();
  return ok;
}

namespace {

constexpr const char* kNotOpen = "database not open";

}  // namespace

Database::WriteTransaction::WriteTransaction(Database& db, Begin begin) : db_(db) {
  Lock lock(db_.mutex_);
  const bool alone_allowed = begin == Begin::kOrRunAlone;
  if (!db_.engine_) {
    ok_ = alone_allowed;
    return;
  }
  if (db_.engine_->in_transaction()) {  // the caller's transaction holds
    ok_ = true;
    return;
  }
  const char* sql = db_.engine_->dialect().begin_write();
  began_ = alone_allowed ? db_.exec_quiet(sql) : db_.exec(sql);
  ok_ = began_ || alone_allowed;
}

Database::WriteTransaction::~WriteTransaction() {
  if (!began_) return;
  Lock lock(db_.mutex_);
  // A failed step may have ended the transaction already (find_or_add_unknown rolls back).
  if (db_.engine_ && db_.engine_->in_transaction()) db_.exec_quiet("rollback transaction");
}

bool Database::WriteTransaction::commit() {
  if (!ok_) return false;
  if (!began_) return true;
  began_ = false;
  Lock lock(db_.mutex_);
  if (!db_.engine_->in_transaction()) return false;  // rolled back by a failed step
  if (db_.exec("commit transaction")) return true;
  db_.exec_quiet("rollback transaction");  // nothing stays open after a failed commit
  return false;
}

bool Database::exec_quiet(const std::string& sql) {
  Lock lock(mutex_);
  if (!engine_) {
    last_message_ = kNotOpen;
    store_failure_ = false;
    return false;
  }
  return took(engine_->exec(sql));
}

bool Database::exec(const std::string& sql) {
  Lock lock(mutex_);
  if (exec_quiet(sql)) return true;
  report_error(last_message_);
  return false;
}

Database::Repeated::Repeated(Database& db, const char* sql) : db_(db), lock_(db.mutex_) {
  if (!db_.engine_) {
    db_.last_message_ = kNotOpen;
    db_.store_failure_ = false;
    db_.report_error(db_.last_message_);
    return;
  }
  statement_ = db_.engine_->prepare(sql);
  if (!db_.took(statement_ != nullptr)) db_.report_error(db_.last_message_);
}

Database::Repeated::~Repeated() = default;

void Database::Repeated::bind(int index, long long value) {
  if (statement_) statement_->bind(index, value);
}

void Database::Repeated::bind(int index, const std::string& text) {
  if (statement_) statement_->bind(index, text);
}

void Database::Repeated::bind_null(int index) {
  if (statement_) statement_->bind_null(index);
}

bool Database::Repeated::run() {
  if (!statement_) return false;
  if (db_.took(statement_->run())) return true;
  db_.report_error(db_.last_message_);
  return false;
}

std::optional<QueryResult> Database::query_quiet(const std::string& sql) {
  Lock lock(mutex_);
  if (!engine_) {
    last_message_ = kNotOpen;
    store_failure_ = false;
    return std::nullopt;
  }
  auto r = engine_->query(sql);
  took(r.has_value());
  return r;
}

std::optional<QueryResult> Database::query(const std::string& sql) {
  Lock lock(mutex_);
  auto r = query_quiet(sql);
  if (!r) report_error(last_message_);
  return r;
}

int Database::last_insert_key() {
  Lock lock(mutex_);
  return engine_ ? static_cast<int>(engine_->last_insert_key()) : -1;
}

int Database::changes() {
  Lock lock(mutex_);
  return engine_ ? engine_->changes() : 0;
}

bool Database::single_value(const std::string& sql, std::string& value, std::size_t size,
                            bool zero_allowed, bool same_allowed) {
  value.clear();
  auto r = query(sql);
  if (!r) return false;
  if (r->rows.empty()) {
    if (!zero_allowed) return false;
    value.assign(1, '0');
  } else {
    if (r->rows.size() > 1) {
      if (!same_allowed || r->column_count() != 1) return false;
      for (const auto& row : r->rows)
        if (row[0] != r->rows[0][0]) return false;
    }
    value = r->column_count() > 0 ? r->rows[0][0] : std::string();
  }
  if (size == 0)
    value.clear();
  else if (value.size() > size - 1)
    value.resize(size - 1);
  return true;
}

int Database::next_number(const std::string& table) {
  Lock lock(mutex_);
  if (!engine_) return -1;
  auto r = query(engine_->dialect().next_number(table));
  if (!r) return -1;
  if (r->rows.empty()) return 0;
  return to_int(r->rows[0][0]);
}

// ---------------------------------------------------------------- schema build and upgrades

namespace {

const char* const kCoreTables[] = {
    "create table card (card_sk integer not null primary key autoincrement, "
    "name text not null unique, description text, inservice_dt text not null)",
    "create table ingestion (ingestion_sk integer not null primary key autoincrement, "
    "card_id integer, project_id integer, number_start integer, number_stop integer, "
    "image_count integer, notes text, ingested_dt text not null, result text)",
    "create table project (project_sk integer not null primary key autoincrement, "
    "client_id integer, name text not null, description text, created_dt text not null, "
    "checklist text)",
    "create table client (client_sk integer not null primary key autoincrement, "
    "name text not null unique, description text, created_dt text not null)",
    "create table step (ingestion_id integer not null, name text not null, "
    "is_checked integer, primary key(ingestion_id, name))",
};

const char* const kIptcTables[] = {
    "create table IPTCcontact (IPTCcontact_sk integer not null primary key autoincrement, "
    "creator text not null, title text, address text, city text, state text, post text, "
    "country text, phones text, emails text, websites text)",
    "create table IPTCcontent (IPTCcontent_sk integer not null primary key autoincrement, "
    "id text not null, headline text, description text, keywords text, subjectcode text, "
    "writer text)",
    "create table IPTCimage (IPTCimage_sk integer not null primary key autoincrement, "
    "id text not null, genre text, scene text, location text, city text, state text, "
    "country text, countrycode text)",
    "create table IPTCstatus (IPTCstatus_sk integer not null primary key autoincrement, "
    "id text not null, title text, job text, instructions text, provider text, source text, "
    "copyright text, rights text)",
    "create table UserData (UserData_sk integer not null primary key autoincrement, "
    "id text not null, field1 text, field2 text, field3 text, field4 text, field5 text, "
    "field6 text, field7 text, field8 text)",
};

// The ingest ledger: every file an ingestion took (the card it came from, where it lay there,
// its size, times and content hash) and each copy made of it (tree root, path, state, and the
// hash of the file as it lies there when it differs from the source's); and the manifests
// written for each ingestion.
const char* const kLedgerTables[] = {
    "create table ledger (ledger_sk integer not null primary key autoincrement, "
    "ingestion_id integer, card_label text, card_uuid text, camera_serial text, "
    "source_path text not null, size integer not null, modified integer not null, "
    "captured text, hash text not null, taken_dt text not null)",
    "create index ledger_content on ledger (hash, size)",
    "create index ledger_size_time on ledger (size, modified)",
    "create table ledger_copy (ledger_id integer not null, path text not null, "
    "tree integer not null, root text not null, size integer not null, hash text, "
    "state text not null, primary key (ledger_id, path))",
    "create table manifest (manifest_sk integer not null primary key autoincrement, "
    "ingestion_id integer, root text not null, path text not null, written_dt text not null)",
};

// Proofs kept in the ledger: each copy's stat fingerprint when it was last read back, and the
// damage found in a file's own bytes (added to files from before them).
const char* const kLedgerProofColumns[] = {
    "alter table ledger_copy add column fingerprint text",
    "alter table ledger add column damage text",
    "alter table ledger add column damage_note text",
};

// Indexes for the lookups a run makes once per file or copy: the copy recorded at a path
// (what a disc's files came from) and the manifests of an ingestion. Made on every open, so
// that a database from before them gains them too.
const char* const kLedgerIndexes[] = {
    "create index if not exists ledger_copy_path on ledger_copy (path)",
    "create index if not exists manifest_ingestion on manifest (ingestion_id)",
};

// Copies and manifests below an archive root that stations share by name keep the root's name
// and their paths inside it; root_name is empty for a path kept whole. A copy is known by its
// root's name and path together (two shares may hold the same path inside them), so the
// copies' table is made again with that key.
const char* const kNamedRootColumns[] = {
    "create table ledger_copy_named (ledger_id integer not null, "
    "root_name text not null default '', path text not null, tree integer not null, "
    "root text not null, size integer not null, hash text, state text not null, "
    "fingerprint text, primary key (ledger_id, root_name, path))",
    "insert into ledger_copy_named (ledger_id, root_name, path, tree, root, size, hash, state, "
    "fingerprint) select ledger_id, '', path, tree, root, size, hash, state, fingerprint "
    "from ledger_copy",
    "drop table ledger_copy",
    "alter table ledger_copy_named rename to ledger_copy",
    "alter table manifest add column root_name text not null default ''",
};

// Entries a run stores wait outside the index of contents, marked `recent`, until the end of
// the run's phase folds them in with one statement. Each store (one a second on a large card)
// then adds its rows where the table and the recent entries' index end, instead of into pages
// all over the index of contents, whose hashes are random: on a card of 100,000 small files,
// those stores had rewritten nearly the whole index every second, and the log carried
// megabytes of it to the disk each time. A lookup by content asks both indexes, so an entry
// is found from its store on, and a run that was stopped leaves entries the next one folds in.
const char* const kLedgerRecentColumn[] = {
    "alter table ledger add column recent integer",
    "drop index if exists ledger_content",
    "create index ledger_content on ledger (hash, size) where recent is null",
    "create index ledger_recent on ledger (recent) where recent = 1",
};

const char* const kHiddenColumns[] = {
    "alter table card add column hidden integer",
    "alter table client add column hidden integer",
    "alter table project add column hidden integer",
};

// The steps that build the schema, in order. A catalogue records the last step it has in
// schema_version; each step past it (every step, in a file from before that table) is made
// unless its mark is there.
struct SchemaStep {
  const char* const* statements;
  std::size_t count;
  const char* table;   // the step made this table...
  const char* column;  // ...or, when set, this column of it
};

const SchemaStep kSchemaSteps[] = {
    {kCoreTables, std::size(kCoreTables), "card", nullptr},
    {kIptcTables, std::size(kIptcTables), "IPTCcontact", nullptr},
    {kHiddenColumns, std::size(kHiddenColumns), "card", "hidden"},
    {kLedgerTables, std::size(kLedgerTables), "ledger", nullptr},
    {kLedgerProofColumns, std::size(kLedgerProofColumns), "ledger", "damage_note"},
    {kNamedRootColumns, std::size(kNamedRootColumns), "manifest", "root_name"},
    {kLedgerRecentColumn, std::size(kLedgerRecentColumn), "ledger", "recent"},
};

constexpr int kSchemaVersion = static_cast<int>(std::size(kSchemaSteps));

// The tables whose rows are numbered by a key sequence, and their key columns.
constexpr std::pair<const char*, const char*> kKeyedTables[] = {
    {"card", "card_sk"},
    {"client", "client_sk"},
    {"project", "project_sk"},
    {"ingestion", "ingestion_sk"},
    {"IPTCcontact", "IPTCcontact_sk"},
    {"IPTCcontent", "IPTCcontent_sk"},
    {"IPTCimage", "IPTCimage_sk"},
    {"IPTCstatus", "IPTCstatus_sk"},
    {"UserData", "UserData_sk"},
    {"ledger", "ledger_sk"},
    {"manifest", "manifest_sk"},
};

}  // namespace

bool Database::run_schema_list(const char* const* statements, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (exec_quiet(engine_->dialect().table_definition(statements[i]))) continue;
    report("\n\nERROR: Can't build database schema; " + last_message_);
    return false;
  }
  return true;
}

int Database::count_of(const std::string& sql) {
  auto r = query_quiet(sql);
  if (!r || r->rows.empty() || r->rows[0].empty()) return -1;
  return to_int(r->rows[0][0]);
}

bool Database::upgrade_schema() {
  const SqlDialect& dialect = engine_->dialect();
  for (const std::string& statement : dialect.preliminaries())
    if (!exec_quiet(statement)) {
      report("\n\nERROR: Can't build database schema; " + last_message_);
      return false;
    }
  const int versioned = count_of(dialect.table_exists("schema_version"));
  if (versioned < 0) return false;
  int version = 0;
  if (versioned > 0) {
    version = count_of("select coalesce(max(version), 0) from schema_version");
    if (version < 0) return false;
  }
  for (int step = version; step < kSchemaVersion; ++step) {
    const SchemaStep& s = kSchemaSteps[step];
    // A step whose mark is there was made before versions were recorded, or by a newer
    // program whose version an older one wrote down to its own.
    const int present = count_of(s.column ? dialect.column_exists(s.table, s.column)
                                          : dialect.table_exists(s.table));
    if (present < 0) return false;
    if (present == 0 && !run_schema_list(s.statements, s.count)) return false;
  }
  // Rows that came with their keys (an older catalogue's, a copied one's) must not be met
  // again by the next key handed out.
  for (const auto& [table, key] : kKeyedTables) {
    const std::string align = dialect.align_key_sequence(table, key);
    if (!align.empty() && !exec_quiet(align)) {
      report("\n\nERROR: Can't build database schema; " + last_message_);
      return false;
    }
  }
  // A catalogue a newer program has built further keeps its version: lowering it would have
  // that program make its own steps again.
  if (version >= kSchemaVersion) return true;
  auto record = sql_format("delete from schema_version; insert into schema_version values(%d)",
                           kSchemaVersion);
  return (versioned || exec_quiet(dialect.table_definition(
                           "create table schema_version (version integer not null)"))) &&
         record && exec_quiet(*record);
}

bool Database::build_schema() {
  Lock lock(mutex_);
  // The probes and what they build form one exclusive transaction: a second program opening
  // the same new catalogue at the same moment waits and then finds every table made,
  // instead of failing on tables and columns the first one added meanwhile.
  if (!exec_quiet(engine_->dialect().begin_schema())) {
    report_error("Can't build database schema; " + last_message_);
    return false;
  }
  // The ledger's indexes are made on every open, so catalogues made before them gain them.
  const bool built = upgrade_schema() && run_schema_list(kLedgerIndexes, std::size(kLedgerIndexes));
  if (built && exec_quiet("commit")) return true;
  if (built) report("\n\nERROR: Can't build database schema; " + last_message_);
  exec_quiet("rollback transaction");
  return false;
}

bool Database::install_default_entities() {
  // The first client with its project and the first card are made together or not at all:
  // two first runs at once make them once, and a run killed half-way leaves no client without
  // its project for the next start-up check to find.
  // Every start after the first finds them with a read alone.
  Lock lock(mutex_);
  std::string count;
  if (single_value("select count(*) from client", count, 32, true, false) && to_int(count) != 0)
    return true;
  WriteTransaction transaction(*this);
  if (!transaction.ok()) return false;
  if (!single_value("select count(*) from client", count, 32, true, false)) return false;
  if (to_int(count) != 0) return true;
  return client_add("", "", true) >= 0 && card_add("", "") >= 0 && transaction.commit();
}

// ---------------------------------------------------------------- clients

int Database::client_add(const std::string& name, const std::string& description,
                         bool with_project) {
  Lock lock(mutex_);
  // The next number and the insert (and the client's project) in one write transaction.
  WriteTransaction transaction(*this);
  if (!transaction.ok()) return -1;
  std::optional<std::string> sql;
  std::string now = db_now_text();
  if (name.empty()) {
    int n = next_number("client");
    if (n < 0) return -1;
    sql = sql_format("insert into client (name, created_dt) values('Client_%03d', %Q)", n + 1,
                     now.c_str());
  } else {
    // '%q' rather than a bare '%s': a name holding a quote is stored intact.
    sql = sql_format("insert into client (name, created_dt, description) values('%q', %Q, %Q)",
                     name.c_str(), now.c_str(), description.c_str());
  }
  if (!sql || !exec(*sql)) return -1;
  int key = last_insert_key();
  if (name == kUnknownEntity) exec("update client set hidden = 1 where name = '[unknown]'");
  if (with_project) {
    auto client = client_name(key);
    if (!client || project_add("", *client, std::nullopt, "") < 0) return -1;
  }
  return transaction.commit() ? key : -1;
}

bool Database::client_rename(int key, const std::string& name, const std::string& description) {
  auto sql = sql_format("update client set name = %Q, description = %Q where client_sk = %d",
                        name.c_str(), description.c_str(), key);
  return sql && exec(*sql);
}

bool Database::client_hide(int key) {
  auto sql = sql_format(
      "update client set name = name || '_(' || client_sk || ')', hidden = 1 where client_sk = "
      "%d",
      key);
  return sql && exec(*sql);
}

int Database::client_key(const std::string& name) {
  auto sql = sql_format("select client_sk from client where name = %Q", name.c_str());
  if (!sql) return -1;
  auto r = query(*sql);
  if (!r || r->rows.empty()) return -1;
  return to_int(r->rows[0][0]);
}

std::optional<std::string> Database::client_name(int key) {
  auto sql = sql_format("select name from client where client_sk = %d", key);
  if (!sql) return std::nullopt;
  std::string value;
  if (!single_value(*sql, value, 1000, false, false)) return std::nullopt;
  return value;
}

int Database::unknown_client() {
  return find_or_add_unknown(
      "select client_sk from client where name = '[unknown]'",
      // With its own "[unknown]" project, in the same transaction: a client never lies in
      // the file without a project, even when the program is killed in between.
      [this] {
        const int key = client_add(kUnknownEntity, "", false);
        return key < 0 || unknown_project_locked(key) < 0 ? -1 : key;
      },
      "\nERROR: Can't add client to database.\n");
}

int Database::find_or_add_unknown(const char* select, const std::function<int()>& add,
                                  const char* add_error) {
  Lock lock(mutex_);
  std::string value;
  int key = -1;
  if (single_value(select, value, 32, true, false)) key = to_int(value);
  if (key > 0) return key;
  // Looked up again and added in one write transaction: another program adding the same row
  // at the same moment waits, then finds it.
  WriteTransaction transaction(*this);
  if (!transaction.ok()) return -1;
  if (single_value(select, value, 32, true, false)) key = to_int(value);
  if (key > 0) return key;
  key = add();
  if (key < 0) {
    report(add_error);
    // Undoes what a caller's transaction (the repair) did so far.
    exec_quiet("rollback transaction");
    return -1;
  }
  return transaction.commit() ? key : -1;
}

// ---------------------------------------------------------------- projects

int Database::project_add(const std::string& name, const std::string& client_name,
                          const std::optional<std::string>& checklist,
                          const std::string& description) {
  Lock lock(mutex_);
  WriteTransaction transaction(*this);  // the next number and the insert together
  if (!transaction.ok()) return -1;
  int client = client_key(client_name);
  std::string now = db_now_text();
  const char* list = checklist ? checklist->c_str() : nullptr;
  std::optional<std::string> sql;
  if (name.empty()) {
    int n = next_number("project");
    if (n < 0) return -1;
    sql = sql_format(
        "insert into project (name, client_id, created_dt, checklist) "
        "values('Project_%03d', %d, %Q, %Q)",
        n + 1, client, now.c_str(), list);
  } else {
    sql = sql_format(
        "insert into project (name, client_id, created_dt, checklist, description) "
        "values('%q', %d, %Q, %Q, %Q)",
        name.c_str(), client, now.c_str(), list, description.c_str());
  }
  if (!sql || !exec(*sql)) return -1;
  const int key = last_insert_key();
  return transaction.commit() ? key : -1;
}

bool Database::project_rename(int key, const std::string& name, const std::string& description,
                              std::string* owner) {
  Lock lock(mutex_);
  auto sql = sql_format("update project set name = %Q, description = %Q where project_sk = %d",
                        name.c_str(), description.c_str(), key);
  if (!sql || !exec(*sql)) return false;
  if (owner) {
    auto read = sql_format(
        "select client.name from client join project on client_sk = client_id where "
        "project_sk = %d",
        key);
    if (!read || !single_value(*read, *owner, 1000, false, false)) owner->clear();
  }
  return true;
}

bool Database::project_hide(int key) {
  auto sql = sql_format(
      "update project set name = name || '_(' || project_sk || ')', hidden = 1 where "
      "project_sk = %d",
      key);
  return sql && exec(*sql);
}

int Database::project_key(const std::string& client_name, const std::string& project_name) {
  auto sql = sql_format(
      "select project_sk from project join client on client_id = client_sk where client.name = "
      "%Q and project.name = %Q and project.hidden is null and client.hidden is null",
      client_name.c_str(), project_name.c_str());
  if (!sql) return -1;
  auto r = query(*sql);
  if (!r || r->rows.empty()) return -1;
  return to_int(r->rows[0][0]);
}

int Database::unknown_project(int client_key) {
  Lock lock(mutex_);
  return unknown_project_locked(client_key);
}

int Database::unknown_project_locked(int client_key) {
  WriteTransaction transaction(*this);  // looked up and added together
  if (!transaction.ok()) return -1;
  if (client_key == -1) client_key = unknown_client();
  if (client_key < 0) return -1;
  auto name = client_name(client_key);
  if (!name) {
    report("\nERROR: Can't get client name from ID.\n");
    exec_quiet("rollback transaction");
    return -1;
  }
  auto sql = sql_format(
      "select project_sk from project where name = '[unknown]' and client_id = %d", client_key);
  if (!sql) return -1;
  std::string value;
  int key = -1;
  if (single_value(*sql, value, 32, true, false)) key = to_int(value);
  if (key > 0) return transaction.commit() ? key : -1;  // keeps a client made just now
  key = project_add(kUnknownEntity, *name, std::nullopt, "");
  if (key < 0) {
    report("\nERROR: Can't add project to database.\n");
    exec_quiet("rollback transaction");
    return -1;
  }
  return transaction.commit() ? key : -1;
}

// ---------------------------------------------------------------- cards

int Database::card_add(const std::string& name, const std::string& description) {
  Lock lock(mutex_);
  WriteTransaction transaction(*this);  // the next number and the insert together
  if (!transaction.ok()) return -1;
  std::string now = db_now_text();
  std::optional<std::string> sql;
  if (name.empty()) {
    int n = next_number("card");
    if (n < 0) return -1;
    sql =
        sql_format("insert into card (name, inservice_dt) values('#%03d', %Q)", n + 1, now.c_str());
  } else {
    sql = sql_format("insert into card (name, inservice_dt, description) values('%q', %Q, %Q)",
                     name.c_str(), now.c_str(), description.c_str());
  }
  if (!sql || !exec(*sql)) return -1;
  int key = last_insert_key();
  if (name == kUnknownEntity) exec("update card set hidden = 1 where name = '[unknown]'");
  return transaction.commit() ? key : -1;
}

bool Database::card_rename(int key, const std::string& name, const std::string& description) {
  auto sql = sql_format("update card set name = %Q, description = %Q where card_sk = %d",
                        name.c_str(), description.c_str(), key);
  return sql && exec(*sql);
}

bool Database::card_hide(int key) {
  auto sql = sql_format(
      "update card set name = name || '_(' || card_sk || ')', hidden = 1 where card_sk = %d", key);
  return sql && exec(*sql);
}

int Database::card_key(const std::string& name) {
  auto sql = sql_format("select card_sk from card where name = %Q", name.c_str());
  if (!sql) return -1;
  auto r = query(*sql);
  if (!r || r->rows.empty()) return -1;
  return to_int(r->rows[0][0]);
}

std::optional<std::string> Database::visible_card_name(int key) {
  auto sql = sql_format("select name from card where card_sk = %d and hidden is null", key);
  if (!sql) return std::nullopt;
  auto r = query(*sql);
  if (!r || r->rows.size() != 1) return std::nullopt;
  return r->rows[0][0];
}

int Database::unknown_card() {
  return find_or_add_unknown(
      "select card_sk from card where name = '[unknown]'",
      [this] { return card_add(kUnknownEntity, ""); }, "\nERROR: Can't add card to database.\n");
}

// ---------------------------------------------------------------- selection lists

std::optional<QueryResult> Database::list_clients() {
  return query(
      "select name, client_sk, created_dt, description from client where hidden is null order "
      "by name collate NOCASE");
}

std::optional<QueryResult> Database::list_projects(const std::string& client_name) {
  auto sql = sql_format(
      "select project.name, project_sk, client.name, project.created_dt, project.description "
      "from project join client on client_id = client_sk where client.name = %Q and "
      "project.hidden is null and client.hidden is null order by project.name collate NOCASE",
      client_name.c_str());
  if (!sql) return std::nullopt;
  return query(*sql);
}

std::optional<QueryResult> Database::list_cards() {
  return query(
      "select name, card_sk, inservice_dt, description from card where hidden is null order by "
      "name collate NOCASE");
}

// ---------------------------------------------------------------- ingestions

template <typename Write>
auto Database::unflushed(Write&& write) {
  Lock lock(mutex_);  // no other commit runs meanwhile
  std::optional<QueryResult> mode;
  const bool relaxed = engine_ && !server_ && !engine_->in_transaction() &&
                       (mode = query_quiet("pragma journal_mode")) && !mode->rows.empty() &&
                       mode->rows[0][0] == "wal" && exec_quiet("pragma synchronous = NORMAL");
  auto result = write();
  if (relaxed) {
    // What the write's last statement said stays the catalogue's last word.
    const std::string message = last_message_;
    const bool store_failure = store_failure_;
    if (!exec_quiet("pragma synchronous = FULL")) report_error(last_message_);
    last_message_ = message;
    store_failure_ = store_failure;
  }
  return result;
}

bool Database::write_unflushed(const std::function<bool()>& write) { return unflushed(write); }

int Database::ingestion_insert(int project_key, int card_key, int number_start, int number_stop,
                               int image_count, const std::optional<std::string>& notes) {
  Lock lock(mutex_);
  if (project_key < 0) {
    report("\nERROR: Selected project does not exist in database.\n");
    return -1;
  }
  if (card_key < 0) {
    report("\nERROR: Selected card does not exist in database.\n");
    return -1;
  }
  std::string now = db_now_text();
  auto sql = sql_format(
      "insert into ingestion (project_id, card_id, number_start, number_stop, image_count, "
      "notes, ingested_dt) values(%d, %d, %d, %d, %d, %Q, '%q')",
      project_key, card_key, number_start, number_stop, image_count,
      notes ? notes->c_str() : nullptr, now.c_str());
  if (!sql) return -1;
  return unflushed([&] { return exec(*sql) ? last_insert_key() : -1; });
}

int Database::ingestion_count() {
  auto r = query("select count(*) from ingestion");
  if (!r || r->rows.empty()) return 0;
  return to_int(r->rows[0][0]);
}

bool Database::ingestion_exists(int key) {
  auto sql = sql_format("select 1 from ingestion where ingestion_sk = %d", key);
  if (!sql) return false;
  auto r = query(*sql);
  return r && !r->rows.empty();
}

bool Database::ingestion_set_numbers(int key, int start, int stop) {
  auto sql =
      sql_format("update ingestion set number_start = %d, number_stop = %d where ingestion_sk = %d",
                 start, stop, key);
  return sql && exec(*sql);
}

bool Database::ingestion_set_count(int key, int count) {
  auto sql =
      sql_format("update ingestion set image_count = %d where ingestion_sk = %d", count, key);
  return sql && exec(*sql);
}

bool Database::ingestion_set_params(int key, const std::string& text) {
  Lock lock(mutex_);
  auto sql =
      sql_format("update ingestion set params = %Q where ingestion_sk = %d", text.c_str(), key);
  if (!sql) return false;
  return unflushed([&] {
    if (exec_quiet(*sql)) return true;
    // A file from before the parameter record lacks the column; the update then fails naming
    // it and the column is added on the spot.
    if (!engine_ || !engine_->unknown_name_failure()) {
      report_error(last_message_);
      return false;
    }
    // Another program may have added it a moment ago: the update then simply works.
    exec_quiet("alter table ingestion add column params text");
    return exec(*sql);
  });
}

std::string Database::ingestion_params(int key) {
  auto sql = sql_format("select params from ingestion where ingestion_sk = %d", key);
  if (!sql) return kNoParametersStored;
  auto r = query_quiet(*sql);
  if (!r) return kNoParametersStored;
  if (r->rows.empty()) return "";
  return r->rows[0][0];
}

bool Database::ingestion_append_result(int key, const std::string& text) {
  std::string added = text;
  while (!added.empty() && std::isspace(static_cast<unsigned char>(added.back()))) added.pop_back();
  // One statement reads the old text and writes the longer one: appends of other threads or
  // stations never overwrite each other.
  auto sql = sql_format(
      "update ingestion set result = case when coalesce(result, '') = '' then '%q' else "
      "result || ' / ' || '%q' end where ingestion_sk = %d",
      added.c_str(), added.c_str(), key);
  return sql && exec(*sql);
}

// ---------------------------------------------------------------- macro values

namespace {

bool plain_identifier(std::string_view s) {
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

}  // namespace

std::optional<std::string> db_macro_value(Database& db, std::string_view table,
                                          std::string_view column,
                                          const std::optional<std::string>& key) {
  if (table.empty() || table.size() > 49 || column.empty() || column.size() > 49)
    return std::nullopt;
  const CatalogEntry* entry = catalog_find(table);
  // The column goes into the statement as a name, so only a plain name is accepted.
  if (!entry || !plain_identifier(column)) return std::nullopt;
  std::string col(column);
  auto sql = sql_format("select %s from %s where %s = %Q", col.c_str(), entry->table,
                        entry->key_column, key ? key->c_str() : "???");
  if (!sql) return std::nullopt;
  auto r = db.query(*sql);
  if (!r) return std::nullopt;
  if (r->rows.empty() || r->column_count() == 0) return std::string();
  std::string value = r->rows[0][0];
  if (value.size() > 1999) value.resize(1999);
  return value;
}

}  // namespace cw
