// Browsing the database's tables: loading a catalogue entry (the ingestion history with an
// optional age filter), editing cells, adding and deleting rows, showing an ingestion's stored
// parameters, exporting what is loaded as CSV, and purging ingestions older than a year.
//
// These are the operations behind the database window and `cardwright db`; they report
// refusals and failures as alerts and take no widget. They ask nothing: a deletion called
// unconfirmed answers that it needs the user's Yes first (change_outcome.h).
#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "database/catalog.h"
#include "database/change_outcome.h"
#include "database/database.h"

namespace cw {

// The age filter choices offered for the ingestion history; one beginning with "All" turns
// the filter off.
inline constexpr const char* kAgeChoices[] = {"1 month", "3 months", "6 months", "1 year",
                                              "All records"};

// "where ingested_dt <op> 'cut-off'" for a choice such as "3 months" or "1 year", the cut-off
// being `now` moved back that many months, as local time "%Y-%m-%d %H:%M:%S". Empty for a
// choice beginning with "All"; nothing for a choice that names no positive number.
std::optional<std::string> age_filter(std::string_view choice, const char* op, std::time_t now);

// What the grid shows: the rows of the last select of one catalogue entry.
struct LoadedTable {
  const CatalogEntry* entry = nullptr;
  QueryResult result;
  // A cell's text, or "?NoData", "?BadRowRef", "?UnallocCell" when it cannot be found.
  std::string cell(std::size_t row, std::size_t column) const;
};

struct BrowseChoice {
  std::string client;  // the chosen client (projects; ingestions when filtering by client)
  std::string age;     // ingestion history: an age choice, or empty for the newest 1000
  // Ingestion history filtered by client, project and a result pattern (SQL "like").
  std::optional<std::string> project;
  std::optional<std::string> result_like;
};

// Runs the entry's select; on failure shows "Database Error: %s" and returns nothing.
std::optional<LoadedTable> browse_table(Database& db, const CatalogEntry& entry,
                                        const BrowseChoice& choice,
                                        std::time_t now = std::time(nullptr));

// The loaded row whose first column (the key a row is found by) holds `key`; -1 when none.
long find_row(const LoadedTable& table, const std::string& key);
// A column of the entry by its title or its SQL name, any case; -1 when there is none.
long find_column(const CatalogEntry& entry, const std::string& name);

// Stores a new text in an editable cell of a loaded row ("Can't store column value" on failure)
// and updates the loaded copy.
bool edit_cell(Database& db, LoadedTable& table, std::size_t row, std::size_t column,
               const std::string& text);

// Adds a row: clients, projects (for `client`) and cards with default names; IPTC and user
// tables a row whose first column is "<Name>_%04d". Returns the new row's first-column text.
std::optional<std::string> add_row(Database& db, const CatalogEntry& entry,
                                   const std::string& client);

// The question a row's deletion is confirmed with.
inline constexpr const char* kDeleteRowQuestion = "OK to delete record?";

// Deletes a loaded row (row -1 means no selection). Unconfirmed, it refuses a missing
// selection and otherwise answers NeedsConfirmation; confirmed, clients, projects and cards
// still in use are refused and anything else is deleted.
ChangeOutcome delete_row(Database& db, const LoadedTable& table, long row, bool confirmed);

// The stored parameter record of a loaded ingestion row, as the "Ingestion Parameters" window
// shows it; "No parameter details available." when there is none. Nothing (after "No data
// row is selected.") without a row.
std::optional<std::string> ingestion_parameters_text(Database& db, const LoadedTable& table,
                                                     long row);

// Writes the column titles and every loaded row as CSV; shows "Records exported
// successfully." or "Export Error: " + the file name.
bool export_csv(const LoadedTable& table, const std::string& file);

// The question a purge is confirmed with.
inline constexpr const char* kPurgeQuestion =
    "Delete ingestion records older than 1 year?\n\nYou may want to export the records before "
    "deleting them.\n\nThis operation cannot be undone.";

// Deletes the ingestion records older than one year before `now` (the user has agreed). An
// ingestion exactly one year old is kept. The number of records removed; nothing (after
// "Database error deleting records.") on failure.
std::optional<int> purge_ingestions(Database& db, std::time_t now = std::time(nullptr));

}  // namespace cw
