// The catalogue of the database's tables as the user sees them: title, SQL table, the columns
// shown (title, column, initial width) and the select that loads them. It drives browsing,
// CSV export, row operations and the TABLE.COLUMN macro values.
#pragma once

#include <string_view>
#include <vector>

namespace cw {

struct CatalogColumn {
  const char* title;
  const char* column;
  int width;  // initial pixel width in the grid
};

enum class CatalogKind { Client, Project, Card, Ingestion, Free };

struct CatalogEntry {
  const char* title;
  const char* table;
  CatalogKind kind;
  std::vector<CatalogColumn> columns;
  // The default select ("" for projects and ingestions, which are formed from choices).
  const char* select;
  // The column a row is found by: the macro key column, and for free tables the first column.
  const char* key_column;
};

// The nine entries: Clients, Projects, Cards, Ingestions, IPTCcontact, IPTCcontent,
// IPTCimage, IPTCstatus, UserData.
const std::vector<CatalogEntry>& table_catalog();
// An entry by its title or table name, compared without regard to case; null when unknown.
const CatalogEntry* catalog_find(std::string_view name);
// Whether the user may edit a column of the entry in the grid (ingestion notes and every
// column of the IPTC and user tables; names go through the management operations).
bool catalog_column_editable(const CatalogEntry& entry, std::size_t column);

}  // namespace cw
