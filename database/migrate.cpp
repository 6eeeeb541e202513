// Moving a station's catalogue into another one (see migrate.h).
#include "database/migrate.h"

#include <cctype>
#include <optional>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

namespace cw {

namespace {

using Cell = std::optional<std::string>;  // nothing for an SQL null
using Row = std::vector<Cell>;
// A source key (as text) and the target key its row became or matched.
using KeyMap = std::unordered_map<std::string, std::string>;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The rows of one table with their nulls told apart from empty texts.
struct Table {
  std::string name;
  std::vector<std::string> columns;  // lower case
  std::vector<Row> rows;

  // The column's place in a row; columns.size() when the table has no such column.
  std::size_t at(const std::string& column) const {
    for (std::size_t i = 0; i < columns.size(); ++i)
      if (columns[i] == column) return i;
    return columns.size();
  }
  Cell cell(const Row& row, const std::string& column) const {
    const std::size_t i = at(column);
    return i < row.size() ? row[i] : std::nullopt;
  }
};

std::optional<std::vector<std::string>> column_names(Database& db, const std::string& table) {
  std::optional<QueryResult> r = db.query("select * from " + table + " where 1 = 0");
  if (!r) return std::nullopt;
  std::vector<std::string> names;
  for (const std::string& c : r->columns) names.push_back(lower(c));
  return names;
}

std::optional<Table> read_table(Database& db, const std::string& table) {
  Table out;
  out.name = table;
  std::optional<std::vector<std::string>> names = column_names(db, table);
  if (!names) return std::nullopt;
  out.columns = std::move(*names);
  // Each value with whether it is null: a null and an empty text read alike.
  std::string select;
  for (const std::string& c : out.columns)
    select += (select.empty() ? "" : ", ") + c + " is null, " + c;
  if (select.empty()) return out;
  std::optional<QueryResult> r = db.query("select " + select + " from " + table);
  if (!r) return std::nullopt;
  out.rows.reserve(r->rows.size());
  for (const std::vector<std::string>& values : r->rows) {
    Row row;
    for (std::size_t i = 0; i + 1 < values.size(); i += 2) {
      const bool null = values[i] == "1" || values[i] == "t";
      row.push_back(null ? Cell() : Cell(values[i + 1]));
    }
    out.rows.push_back(std::move(row));
  }
  return out;
}

// Cells joined into one text that tells a null from an empty text.
std::string identity(const std::vector<Cell>& cells) {
  std::string out;
  for (const Cell& c : cells) {
    out += c ? "=" + *c : std::string("~");
    out += '\x1f';
  }
  return out;
}

// One table's rows inserted into the target with the source's columns, all but the key (the
// target numbers its rows itself). A column the target lacks (a column older files gain on
// demand) is added first.
//
// On an engine that pays a round trip per statement (a server), the rows are held back and
// written many to a statement, with keys reserved ahead; finish() writes the last of them.
class Inserter {
 public:
  Inserter(Database& target, const Table& from, const char* key)
      : target_(target), table_(from.name), key_(key) {
    std::optional<std::vector<std::string>> have = column_names(target, from.name);
    if (!have) return;
    std::string names, marks;
    int mark = 0;
    for (std::size_t i = 0; i < from.columns.size(); ++i) {
      const std::string& c = from.columns[i];
      if (key && c == lower(key)) continue;
      bool known = false;
      for (const std::string& h : *have) known = known || h == c;
      if (!known && !target.exec("alter table " + from.name + " add column " + c + " text")) return;
      names += (names.empty() ? "" : ", ") + c;
      marks += (marks.empty() ? "?" : ", ?") + std::to_string(++mark);
      bound_.push_back(i);
    }
    if (!target.dialect().reserve_keys(from.name, key ? key : "", 1).empty()) {
      head_ = "insert into " + from.name + " (" + (key ? std::string(key) + ", " : "") + names +
              ") values";
      return;
    }
    statement_.emplace(
        target, ("insert into " + from.name + " (" + names + ") values(" + marks + ")").c_str());
  }
  bool ready() const { return !head_.empty() || (statement_ && statement_->ready()); }

  // The new row's key (empty for a table without one); nothing after a reported failure.
  std::optional<std::string> insert(const Row& row) {
    if (!head_.empty()) return hold(row);
    if (!ready()) return std::nullopt;
    for (std::size_t i = 0; i < bound_.size(); ++i) {
      const Cell& c = row[bound_[i]];
      if (c)
        statement_->bind(static_cast<int>(i + 1), *c);
      else
        statement_->bind_null(static_cast<int>(i + 1));
    }
    if (!statement_->run()) return std::nullopt;
    if (!key_) return std::string();
    return std::to_string(target_.last_insert_key());
  }

  // Writes the rows held back; false after a reported failure.
  bool finish() {
    if (held_.empty()) return true;
    const bool ok = target_.exec(head_ + held_);
    held_.clear();
    held_rows_ = 0;
    return ok;
  }

 private:
  static constexpr std::size_t kRowsPerStatement = 500;

  std::optional<std::string> hold(const Row& row) {
    std::string values;
    if (key_) {
      if (next_key_ == keys_.size()) {
        std::optional<QueryResult> r =
            target_.query(target_.dialect().reserve_keys(table_, key_, kRowsPerStatement));
        if (!r || r->rows.empty()) return std::nullopt;
        keys_.clear();
        for (const std::vector<std::string>& k : r->rows) keys_.push_back(k.at(0));
        next_key_ = 0;
      }
      values = keys_[next_key_++];
    }
    for (std::size_t i : bound_) {
      std::optional<std::string> value = sql_format("%Q", row[i] ? row[i]->c_str() : nullptr);
      if (!value) return std::nullopt;
      values += (values.empty() ? "" : ", ") + *value;
    }
    held_ += (held_.empty() ? "(" : ", (") + values + ")";
    if (++held_rows_ == kRowsPerStatement && !finish()) return std::nullopt;
    return key_ ? keys_[next_key_ - 1] : std::string();
  }

  Database& target_;
  std::string table_;
  const char* key_;
  std::vector<std::size_t> bound_;  // the source columns written, in order
  std::optional<Database::Repeated> statement_;
  // Many rows to a statement: the statement's head, the rows held back, the keys reserved.
  std::string head_;
  std::string held_;
  std::size_t held_rows_ = 0;
  std::vector<std::string> keys_;
  std::size_t next_key_ = 0;
};

// The reference in `column` of a copy of `row` rewritten through `map`; a reference the map
// does not know (a row the source had lost) becomes null.
void remap(const Table& table, Row& row, const std::string& column, const KeyMap& map) {
  const std::size_t i = table.at(column);
  if (i >= row.size() || !row[i]) return;
  auto found = map.find(*row[i]);
  row[i] = found == map.end() ? Cell() : Cell(found->second);
}

// The target's rows as identity -> key, for the columns given (the key column last).
std::optional<std::unordered_map<std::string, std::string>> target_index(
    Database& target, const std::string& table, const std::vector<std::string>& columns) {
  std::optional<Table> rows = read_table(target, table);
  if (!rows) return std::nullopt;
  std::unordered_map<std::string, std::string> out;
  for (const Row& row : rows->rows) {
    std::vector<Cell> cells;
    for (std::size_t i = 0; i + 1 < columns.size(); ++i)
      cells.push_back(rows->cell(row, columns[i]));
    out.emplace(identity(cells), rows->cell(row, columns.back()).value_or(""));
  }
  return out;
}

constexpr const char* kMetadataTables[][2] = {
    {"IPTCcontact", "IPTCcontact_sk"}, {"IPTCcontent", "IPTCcontent_sk"},
    {"IPTCimage", "IPTCimage_sk"},     {"IPTCstatus", "IPTCstatus_sk"},
    {"UserData", "UserData_sk"},
};

class Migration {
 public:
  Migration(Database& source, Database& target, MigrationCounts& counts)
      : source_(source), target_(target), counts_(counts) {}

  bool read_source() {
    for (const char* name :
         {"client", "card", "project", "ingestion", "step", "ledger", "ledger_copy", "manifest"}) {
      std::optional<Table> t = read_table(source_, name);
      if (!t) return false;
      tables_.emplace(name, std::move(*t));
    }
    for (const auto& [name, key] : kMetadataTables) {
      std::optional<Table> t = read_table(source_, name);
      if (!t) return false;
      tables_.emplace(name, std::move(*t));
    }
    return true;
  }

  bool write() {
    return merge_by_name("client", "client_sk", clients_, counts_.clients,
                         counts_.clients_merged) &&
           merge_by_name("card", "card_sk", cards_, counts_.cards, counts_.cards_merged) &&
           merge_projects() && add_ingestions() && add_steps() && add_ledger() &&
           add_ledger_copies() && add_manifests() && add_metadata();
  }

 private:
  const Table& table(const char* name) const { return tables_.at(name); }

  // Clients and cards: one target row per name.
  bool merge_by_name(const char* name, const char* key, KeyMap& map, int& total, int& merged) {
    const Table& from = table(name);
    auto index = target_index(target_, name, {"name", key});
    if (!index) return false;
    Inserter inserter(target_, from, key);
    if (!inserter.ready()) return false;
    for (const Row& row : from.rows) {
      const std::string source_key = from.cell(row, key).value_or("");
      auto found = index->find(identity({from.cell(row, "name")}));
      ++total;
      if (found != index->end()) {
        map[source_key] = found->second;
        ++merged;
        continue;
      }
      std::optional<std::string> added = inserter.insert(row);
      if (!added) return false;
      map[source_key] = *added;
    }
    return inserter.finish();
  }

  // Projects: one target row per client and name.
  bool merge_projects() {
    const Table& from = table("project");
    auto index = target_index(target_, "project", {"client_id", "name", "project_sk"});
    if (!index) return false;
    Inserter inserter(target_, from, "project_sk");
    if (!inserter.ready()) return false;
    for (Row row : from.rows) {
      const std::string source_key = from.cell(row, "project_sk").value_or("");
      remap(from, row, "client_id", clients_);
      auto found = index->find(identity({from.cell(row, "client_id"), from.cell(row, "name")}));
      ++counts_.projects;
      if (found != index->end()) {
        projects_[source_key] = found->second;
        ++counts_.projects_merged;
        continue;
      }
      std::optional<std::string> added = inserter.insert(row);
      if (!added) return false;
      projects_[source_key] = *added;
    }
    return inserter.finish();
  }

  static std::vector<Cell> ingestion_identity(const Table& t, const Row& row) {
    return {t.cell(row, "ingested_dt"), t.cell(row, "card_id"), t.cell(row, "project_id"),
            t.cell(row, "number_start"), t.cell(row, "number_stop")};
  }

  // Ingestions the target lacks, recognised by time, card, project and numbers. Only the
  // target's rows from before the move count: two runs of the source alike in all of these
  // are both added.
  bool add_ingestions() {
    const Table& from = table("ingestion");
    auto index = target_index(
        target_, "ingestion",
        {"ingested_dt", "card_id", "project_id", "number_start", "number_stop", "ingestion_sk"});
    if (!index) return false;
    Inserter inserter(target_, from, "ingestion_sk");
    if (!inserter.ready()) return false;
    for (Row row : from.rows) {
      const std::string source_key = from.cell(row, "ingestion_sk").value_or("");
      remap(from, row, "card_id", cards_);
      remap(from, row, "project_id", projects_);
      if (index->count(identity(ingestion_identity(from, row)))) {
        present_.insert(source_key);
        ++counts_.ingestions_present;
        continue;
      }
      std::optional<std::string> added = inserter.insert(row);
      if (!added) return false;
      ingestions_[source_key] = *added;
      ++counts_.ingestions;
    }
    return inserter.finish();
  }

  // What a row of an ingestion's own belongs to: an ingestion added now, one the target held
  // already, or none the source knows.
  enum class Owner { kAdded, kPresent, kNone };
  Owner owner(const Table& t, const Row& row) const {
    const Cell id = t.cell(row, "ingestion_id");
    if (!id) return Owner::kNone;
    if (ingestions_.count(*id)) return Owner::kAdded;
    return present_.count(*id) ? Owner::kPresent : Owner::kNone;
  }

  bool add_steps() {
    const Table& from = table("step");
    Inserter inserter(target_, from, nullptr);
    if (!inserter.ready()) return false;
    for (Row row : from.rows) {
      if (owner(from, row) != Owner::kAdded) continue;
      remap(from, row, "ingestion_id", ingestions_);
      if (!inserter.insert(row)) return false;
      ++counts_.steps;
    }
    return inserter.finish();
  }

  // Whether the target holds a row of `table` of no ingestion whose `columns` equal the row's.
  std::optional<bool> orphan_present(const Table& t, const Row& row,
                                     const std::vector<const char*>& columns) {
    std::string where = "ingestion_id is null";
    for (const char* c : columns) {
      const Cell value = t.cell(row, c);
      std::optional<std::string> test =
          value ? sql_format(" and %s = %Q", c, value->c_str()) : sql_format(" and %s is null", c);
      if (!test) return std::nullopt;
      where += *test;
    }
    std::optional<QueryResult> r =
        target_.query("select count(*) from " + t.name + " where " + where);
    if (!r || r->rows.empty()) return std::nullopt;
    return r->rows[0][0] != "0";
  }

  // Whether the target holds `row` already: its ingestion was there, or it belongs to no
  // ingestion and the target holds a row equal to it in `identity`.
  std::optional<bool> already_there(const Table& t, const Row& row,
                                    const std::vector<const char*>& identity) {
    const Owner o = owner(t, row);
    if (o == Owner::kNone) return orphan_present(t, row, identity);
    return o == Owner::kPresent;
  }

  bool add_ledger() {
    const Table& from = table("ledger");
    Inserter inserter(target_, from, "ledger_sk");
    if (!inserter.ready()) return false;
    for (Row row : from.rows) {
      const std::optional<bool> there =
          already_there(from, row, {"source_path", "size", "hash", "taken_dt"});
      if (!there) return false;
      if (*there) continue;
      const std::string source_key = from.cell(row, "ledger_sk").value_or("");
      remap(from, row, "ingestion_id", ingestions_);
      std::optional<std::string> added = inserter.insert(row);
      if (!added) return false;
      ledger_[source_key] = *added;
      ++counts_.ledger_entries;
    }
    return inserter.finish();
  }

  bool add_ledger_copies() {
    const Table& from = table("ledger_copy");
    Inserter inserter(target_, from, nullptr);
    if (!inserter.ready()) return false;
    for (Row row : from.rows) {
      const Cell entry = from.cell(row, "ledger_id");
      if (!entry || !ledger_.count(*entry)) continue;  // its entry was there already
      remap(from, row, "ledger_id", ledger_);
      if (!inserter.insert(row)) return false;
      ++counts_.ledger_copies;
    }
    return inserter.finish();
  }

  bool add_manifests() {
    const Table& from = table("manifest");
    Inserter inserter(target_, from, "manifest_sk");
    if (!inserter.ready()) return false;
    for (Row row : from.rows) {
      const std::optional<bool> there =
          already_there(from, row, {"root_name", "root", "path", "written_dt"});
      if (!there) return false;
      if (*there) continue;
      remap(from, row, "ingestion_id", ingestions_);
      if (!inserter.insert(row)) return false;
      ++counts_.manifests;
    }
    return inserter.finish();
  }

  // The IPTC values and user data: a row is added unless the target holds an equal one.
  bool add_metadata() {
    for (const auto& [name, key] : kMetadataTables) {
      const Table& from = table(name);
      if (from.rows.empty()) continue;
      std::optional<Table> there = read_table(target_, name);
      if (!there) return false;
      const std::string key_column = lower(key);
      auto content = [&key_column, &from](const Table& t, const Row& row) {
        std::vector<Cell> cells;
        for (const std::string& c : from.columns)
          if (c != key_column) cells.push_back(t.cell(row, c));
        return identity(cells);
      };
      std::set<std::string> held;
      for (const Row& row : there->rows) held.insert(content(*there, row));
      Inserter inserter(target_, from, key);
      if (!inserter.ready()) return false;
      for (const Row& row : from.rows) {
        if (held.count(content(from, row))) continue;
        if (!inserter.insert(row)) return false;
        ++counts_.metadata_rows;
      }
      if (!inserter.finish()) return false;
    }
    return true;
  }

  Database& source_;
  Database& target_;
  MigrationCounts& counts_;
  std::unordered_map<std::string, Table> tables_;
  KeyMap clients_, cards_, projects_, ingestions_, ledger_;
  std::set<std::string> present_;  // source ingestions the target held already
};

std::string counted(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

bool migrate_catalogue(Database& source, Database& target, MigrationCounts& counts) {
  counts = MigrationCounts();
  Database::Locked hold_source(source);
  Database::Locked hold_target(target);
  Migration migration(source, target, counts);
  // The source is read as one snapshot, before the target is written.
  const bool snapshot = source.exec_quiet(source.dialect().begin_snapshot());
  const bool read = migration.read_source();
  if (snapshot) source.exec_quiet("rollback transaction");  // it only read
  if (!read) return false;
  if (!target.exec(target.dialect().begin_write())) return false;
  if (migration.write() && target.exec("commit transaction")) return true;
  target.exec_quiet("rollback transaction");
  counts = MigrationCounts();
  return false;
}

std::string migration_summary(const MigrationCounts& c) {
  return "Migrated " + counted(c.clients, "client", "clients") + " (" +
         std::to_string(c.clients_merged) + " merged by name), " +
         counted(c.projects, "project", "projects") + " (" + std::to_string(c.projects_merged) +
         " merged), " + counted(c.cards, "card", "cards") + " (" + std::to_string(c.cards_merged) +
         " merged).\nAdded " + counted(c.ingestions, "ingestion", "ingestions") + " (" +
         std::to_string(c.ingestions_present) + " already there), " +
         counted(c.ledger_entries, "ledger entry", "ledger entries") + ", " +
         counted(c.ledger_copies, "ledger copy", "ledger copies") + ", " +
         counted(c.manifests, "manifest", "manifests") + ", " +
         counted(c.steps, "checklist step", "checklist steps") + " and " +
         counted(c.metadata_rows, "metadata row", "metadata rows") + ".\n";
}

}  // namespace cw
