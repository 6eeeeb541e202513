// Records for the Database window and `cardwright db` (see records.h).
#include "control/records.h"

#include <cstdlib>
#include <string_view>

#include "control/app_session.h"
#include "database/repair.h"
#include "foundation/log.h"
#include "foundation/user_interface.h"

namespace cw {

namespace {

// Runs a change the user confirms first: asks `question` only when the change says it is
// needed, and runs it again confirmed on Yes.
template <typename Change>
bool confirmed_change(UserInterface& ui, const std::string& question, Change change) {
  ChangeOutcome outcome = change(false);
  if (outcome == ChangeOutcome::NeedsConfirmation) {
    if (!ui.ask_yes_no(question)) return false;
    outcome = change(true);
  }
  return outcome == ChangeOutcome::Done;
}

}  // namespace

std::optional<Records> Records::of(AppSession& session) {
  Database* db = session.database();
  if (!db) return std::nullopt;
  return Records(*db, session.ui());
}

std::optional<LoadedTable> Records::browse(const CatalogEntry& entry, const BrowseChoice& choice,
                                           std::time_t now) {
  return browse_table(db_, entry, choice, now);
}

namespace {

// The first column of each row.
std::vector<std::string> first_column(const std::optional<QueryResult>& rows) {
  std::vector<std::string> names;
  if (rows)
    for (const auto& row : rows->rows)
      if (!row.empty()) names.push_back(row[0]);
  return names;
}

}  // namespace

std::vector<std::string> Records::client_names() { return first_column(db_.list_clients()); }

std::vector<std::string> Records::project_names(const std::string& client) {
  return client.empty() ? std::vector<std::string>{} : first_column(db_.list_projects(client));
}

std::vector<std::string> Records::card_names() { return first_column(db_.list_cards()); }

namespace {

// The kind of record a catalogue entry lists, for the tables whose names are managed.
std::optional<EntityKind> entity_kind(const CatalogEntry& entry) {
  switch (entry.kind) {
    case CatalogKind::Client:
      return EntityKind::Client;
    case CatalogKind::Project:
      return EntityKind::Project;
    case CatalogKind::Card:
      return EntityKind::Card;
    default:
      return std::nullopt;
  }
}

bool is_column(const CatalogEntry& entry, std::size_t column, std::string_view title) {
  return column < entry.columns.size() && entry.columns[column].title == title;
}

}  // namespace

bool Records::editable(const CatalogEntry& entry, std::size_t column) {
  if (entity_kind(entry))
    return is_column(entry, column, "Name") || is_column(entry, column, "Description");
  return catalog_column_editable(entry, column);
}

bool Records::edit_cell(LoadedTable& table, std::size_t row, std::size_t column,
                        const std::string& text) {
  if (!table.entry || row >= table.result.rows.size() || !entity_kind(*table.entry))
    return cw::edit_cell(db_, table, row, column, text);
  if (!edit_row(*table.entry, table.result.rows[row], column, text)) return false;
  table.result.rows[row][column] = text;
  return true;
}

bool Records::edit_row(const CatalogEntry& entry, const std::vector<std::string>& row,
                       std::size_t column, const std::string& text) {
  const std::optional<EntityKind> kind = entity_kind(entry);
  if (!kind) {
    LoadedTable one{&entry, {{}, {row}}};
    return cw::edit_cell(db_, one, 0, column, text);
  }
  // A name or a description is a rename of the row: the name is looked up in its list (a
  // project in its client's), and a clash or an empty name is refused there.
  const std::size_t description = entry.columns.size() - 1;
  if (row.size() != entry.columns.size() || !editable(entry, column)) {
    alert_printf("Can't store column value");
    return false;
  }
  const std::string client = *kind == EntityKind::Project ? row[2] : std::string();
  if (column == 0) return rename(*kind, row[0], text, row[description], client);
  return rename(*kind, row[0], row[0], text, client);
}

std::optional<std::string> Records::add_row(const CatalogEntry& entry, const std::string& client) {
  return cw::add_row(db_, entry, client);
}

bool Records::delete_row(const LoadedTable& table, long row) {
  return confirmed_change(ui_, kDeleteRowQuestion, [&](bool confirmed) {
    return cw::delete_row(db_, table, row, confirmed);
  });
}

std::optional<std::string> Records::parameters(const LoadedTable& table, long row) {
  return ingestion_parameters_text(db_, table, row);
}

std::optional<std::string> Records::parameters(int id) {
  if (!db_.ingestion_exists(id)) return std::nullopt;
  return db_.ingestion_params(id);
}

bool Records::export_csv(const LoadedTable& table, const std::string& file) {
  return cw::export_csv(table, file);
}

PurgeOutcome Records::purge(std::time_t now, int* deleted) {
  if (deleted) *deleted = 0;
  if (!ui_.ask_yes_no(kPurgeQuestion)) return PurgeOutcome::Declined;
  const std::optional<int> removed = purge_ingestions(db_, now);
  if (!removed) return PurgeOutcome::Failed;
  if (deleted) *deleted = *removed;
  return PurgeOutcome::Done;
}

int Records::add(EntityKind kind, const std::string& name, const std::string& description,
                 const std::string& client) {
  return manage_add(db_, kind, name, description, client);
}

bool Records::rename(EntityKind kind, const std::string& old_name, const std::string& new_name,
                     const std::optional<std::string>& description, const std::string& client) {
  std::string kept = description.value_or("");
  if (!description) {
    auto list = kind == EntityKind::Client    ? db_.list_clients()
                : kind == EntityKind::Project ? db_.list_projects(client)
                                              : db_.list_cards();
    const std::size_t column = kind == EntityKind::Project ? 4 : 3;
    if (list)
      for (const auto& row : list->rows)
        if (row[0] == old_name) kept = row[column];
  }
  return manage_rename(db_, kind, old_name, new_name, kept, client);
}

bool Records::remove(EntityKind kind, const std::string& name, const std::string& client) {
  return confirmed_change(ui_, manage_delete_question(kind, name), [&](bool confirmed) {
    return manage_delete(db_, kind, name, confirmed, client);
  });
}

std::optional<long long> Records::change_count() {
  const std::optional<QueryResult> result = db_.query_quiet(db_.dialect().change_counter());
  if (!result || result->rows.empty() || result->rows[0].empty()) return std::nullopt;
  return std::atoll(result->rows[0][0].c_str());
}

bool Records::verify(std::string& text) { return db_verify(db_, text); }

bool Records::repair(std::string& text, bool& repairs_made) {
  return db_repair(db_, text, repairs_made);
}

}  // namespace cw
