// Browsing, editing, export and purge of the database's tables (see browse.h).
#include "database/browse.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "foundation/log.h"

namespace cw {

namespace {

constexpr const char* kIngestionColumns =
    "select ingestion_sk, ingested_dt, client.name, project.name, card.name, number_start, "
    "number_stop, image_count, result, notes from ingestion join card on card_sk = card_id "
    "join project on project_sk = project_id join client on client_sk = client_id ";

std::optional<std::string> ingestion_select(const BrowseChoice& choice, std::time_t now) {
  std::string base = kIngestionColumns;
  if (!choice.age.empty()) {
    auto filter = age_filter(choice.age, ">=", now);
    if (!filter) return std::nullopt;
    return base + *filter + " order by ingested_dt desc";
  }
  if (choice.project || choice.result_like)
    return sql_format(
        "%swhere client.name = %Q and project.name = %Q and result like %Q order by "
        "ingested_dt desc",
        base.c_str(), choice.client.c_str(), choice.project ? choice.project->c_str() : "",
        choice.result_like ? choice.result_like->c_str() : "%");
  return base + "order by ingested_dt desc limit 1000";
}

std::optional<std::string> select_for(const CatalogEntry& entry, const BrowseChoice& choice,
                                      std::time_t now) {
  switch (entry.kind) {
    case CatalogKind::Project:
      return sql_format(
          "select project.name, project_sk, client.name, project.created_dt, "
          "project.description from project join client on client_id = client_sk where "
          "client.name = %Q and project.hidden is null and client.hidden is null order by "
          "project.name collate NOCASE",
          choice.client.c_str());
    case CatalogKind::Ingestion:
      return ingestion_select(choice, now);
    default:
      return std::string(entry.select);
  }
}

// A free table's name for new row ids: without a leading "IPTC", first letter upper case.
std::string row_id_stem(const std::string& table) {
  std::string stem = table.rfind("IPTC", 0) == 0 ? table.substr(4) : table;
  if (!stem.empty()) stem[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(stem[0])));
  return stem;
}

void csv_field(std::string& line, const std::string& text) {
  line += '"';
  for (char c : text) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

}  // namespace

std::optional<std::string> age_filter(std::string_view choice, const char* op, std::time_t now) {
  if (choice.rfind("All", 0) == 0) return std::string();
  std::string text(choice);
  char* end = nullptr;
  long n = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || n <= 0) return std::nullopt;
  while (*end == ' ') ++end;
  if (*end == 'y' || *end == 'Y') n *= 12;
  struct tm tm;
  if (!localtime_r(&now, &tm)) return std::nullopt;
  // Month arithmetic only; the day and time stay. A day past the end of the earlier month
  // (March 31 back to "February 31") still compares correctly as text.
  long months = static_cast<long>(tm.tm_year) * 12 + tm.tm_mon - n;
  tm.tm_year = static_cast<int>(months / 12);
  tm.tm_mon = static_cast<int>(months % 12);
  char cutoff[64];
  if (std::strftime(cutoff, sizeof cutoff, "%Y-%m-%d %H:%M:%S", &tm) == 0) return std::nullopt;
  return "where ingested_dt " + std::string(op) + " '" + cutoff + "'";
}

std::string LoadedTable::cell(std::size_t row, std::size_t column) const {
  if (!entry) return "?NoData";
  if (row >= result.rows.size()) return "?BadRowRef";
  if (column >= result.rows[row].size()) return "?UnallocCell";
  return result.rows[row][column];
}

std::optional<LoadedTable> browse_table(Database& db, const CatalogEntry& entry,
                                        const BrowseChoice& choice, std::time_t now) {
  auto sql = select_for(entry, choice, now);
  if (!sql) {
    alert_printf("Database Error: %s", "invalid selection");
    return std::nullopt;
  }
  auto r = db.query_quiet(*sql);
  if (!r) {
    alert_printf("Database Error: %s", db.last_error().c_str());
    return std::nullopt;
  }
  LoadedTable t;
  t.entry = &entry;
  t.result = std::move(*r);
  return t;
}

long find_row(const LoadedTable& table, const std::string& key) {
  const auto& rows = table.result.rows;
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (!rows[i].empty() && rows[i][0] == key) return static_cast<long>(i);
  return -1;
}

long find_column(const CatalogEntry& entry, const std::string& name) {
  for (std::size_t i = 0; i < entry.columns.size(); ++i)
    if (strcasecmp(entry.columns[i].title, name.c_str()) == 0 ||
        strcasecmp(entry.columns[i].column, name.c_str()) == 0)
      return static_cast<long>(i);
  return -1;
}

bool edit_cell(Database& db, LoadedTable& table, std::size_t row, std::size_t column,
               const std::string& text) {
  if (!table.entry || row >= table.result.rows.size() ||
      !catalog_column_editable(*table.entry, column)) {
    alert_printf("Can't store column value");
    return false;
  }
  const CatalogEntry& e = *table.entry;
  auto sql =
      sql_format("update %s set %s = '%q' where %s = '%q'", e.table, e.columns[column].column,
                 text.c_str(), e.columns[0].column, table.result.rows[row][0].c_str());
  if (!sql || !db.exec(*sql)) {
    alert_printf("Can't store column value");
    return false;
  }
  table.result.rows[row][column] = text;
  return true;
}

std::optional<std::string> add_row(Database& db, const CatalogEntry& entry,
                                   const std::string& client) {
  int key = -1;
  switch (entry.kind) {
    case CatalogKind::Client:
      key = db.client_add("", "", true);
      if (key < 0) {
        alert_printf("Can't add client record");
        return std::nullopt;
      }
      return db.client_name(key);
    case CatalogKind::Project:
      if (client.empty() || db.client_key(client) < 0) {
        alert_printf("Client not specified");
        return std::nullopt;
      }
      key = db.project_add("", client, std::nullopt, "");
      break;
    case CatalogKind::Card:
      key = db.card_add("", "");
      break;
    case CatalogKind::Ingestion:
      break;  // ingestions are made by ingesting
    case CatalogKind::Free: {
      int n = db.next_number(entry.table);
      if (n < 0) break;
      std::string id = row_id_stem(entry.table);
      char number[16];
      std::snprintf(number, sizeof number, "_%04d", n + 1);
      id += number;
      auto sql = sql_format("insert into %s (%s) values(%Q)", entry.table, entry.columns[0].column,
                            id.c_str());
      if (sql && db.exec(*sql)) return id;
      break;
    }
  }
  if (key < 0) {
    alert_printf("Can't add record");
    return std::nullopt;
  }
  std::string value;
  auto sql = sql_format("select name from %s where %s_sk = %d", entry.table, entry.table, key);
  if (!sql || !db.single_value(*sql, value, 1000, false, false)) return std::nullopt;
  return value;
}

ChangeOutcome delete_row(Database& db, const LoadedTable& table, long row, bool confirmed) {
  if (row < 0 || !table.entry || static_cast<std::size_t>(row) >= table.result.rows.size()) {
    alert_printf("No data row is selected.");
    return ChangeOutcome::Refused;
  }
  if (!confirmed) return ChangeOutcome::NeedsConfirmation;
  const CatalogEntry& e = *table.entry;
  const auto& cells = table.result.rows[static_cast<std::size_t>(row)];

  // Clients, projects and cards are deleted only when nothing refers to them any more.
  struct InUse {
    CatalogKind kind;
    const char* count_sql;
    const char* refusal;
    const char* delete_sql;
  };
  static const InUse kInUse[] = {
      {CatalogKind::Client, "select count(*) from project where client_id = %d",
       "Projects for client exist.", "delete from client where client_sk = %d"},
      {CatalogKind::Project, "select count(*) from ingestion where project_id = %d",
       "Ingestion data for project exists.", "delete from project where project_sk = %d"},
      {CatalogKind::Card, "select count(*) from ingestion where card_id = %d",
       "Ingestion data for card exists.", "delete from card where card_sk = %d"},
  };
  const InUse* use = nullptr;
  for (const InUse& u : kInUse)
    if (u.kind == e.kind) use = &u;
  std::string reason;
  std::optional<std::string> sql;
  if (use) {
    // The key is the ID column.
    char* end = nullptr;
    long key = cells.size() > 1 ? std::strtol(cells[1].c_str(), &end, 10) : 0;
    std::string count;
    std::optional<std::string> count_sql;
    if (cells.size() < 2 || end == cells[1].c_str()) {
      reason = "\nERROR: Can't find row ID.\n";
    } else if (!(count_sql = sql_format(use->count_sql, static_cast<int>(key))) ||
               !db.single_value(*count_sql, count, 32, true, false)) {
      reason = db.last_error();
    } else if (std::atoi(count.c_str()) > 0) {
      alert_printf("%s", use->refusal);
      return ChangeOutcome::Refused;
    } else {
      sql = sql_format(use->delete_sql, static_cast<int>(key));
    }
  } else if (cells.empty()) {
    reason = "\nERROR: Can't find row ID.\n";
  } else {
    sql =
        sql_format("delete from %s where %s = %Q", e.table, e.columns[0].column, cells[0].c_str());
  }
  if (sql && db.exec(*sql)) return ChangeOutcome::Done;
  if (reason.empty()) reason = sql ? db.last_error() : std::string("[Unknown reason]");
  alert_printf("Can't delete record (%s)", reason.c_str());
  return ChangeOutcome::Refused;
}

std::optional<std::string> ingestion_parameters_text(Database& db, const LoadedTable& table,
                                                     long row) {
  if (row < 0 || !table.entry || table.entry->kind != CatalogKind::Ingestion ||
      static_cast<std::size_t>(row) >= table.result.rows.size()) {
    alert_printf("No data row is selected.");
    return std::nullopt;
  }
  int key = std::atoi(table.result.rows[static_cast<std::size_t>(row)][0].c_str());
  std::string text = db.ingestion_params(key);
  if (text.empty() || text == kNoParametersStored)
    return std::string("No parameter details available.");
  return text;
}

bool export_csv(const LoadedTable& table, const std::string& file) {
  if (!table.entry) return false;
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> out(std::fopen(file.c_str(), "w"));
  if (!out) {
    alert_printf("Export Error: %s", file.c_str());
    return false;
  }
  std::string line;
  for (std::size_t i = 0; i < table.entry->columns.size(); ++i) {
    if (i) line += ", ";
    csv_field(line, table.entry->columns[i].title);
  }
  line += '\n';
  bool ok = std::fwrite(line.data(), 1, line.size(), out.get()) == line.size();
  for (const auto& row : table.result.rows) {
    if (!ok) break;
    line.clear();
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i) line += ", ";
      csv_field(line, row[i]);
    }
    line += '\n';
    ok = std::fwrite(line.data(), 1, line.size(), out.get()) == line.size();
  }
  ok = std::fclose(out.release()) == 0 && ok;
  if (!ok) {
    alert_printf("Export Error: %s", file.c_str());
    return false;
  }
  alert_printf("Records exported successfully.");
  return true;
}

std::optional<int> purge_ingestions(Database& db, std::time_t now) {
  auto filter = age_filter("1 year", "<", now);
  auto sql = filter ? sql_format("delete from ingestion %s", filter->c_str()) : std::nullopt;
  if (!sql) {
    db.report("\nDatabase error: out of memory");
    alert_printf("Database error deleting records.");
    return std::nullopt;
  }
  if (!db.exec(*sql)) {
    alert_printf("Database error deleting records.");
    return std::nullopt;
  }
  return db.changes();
}

}  // namespace cw
