// Records: what the Database window and `cardwright db` do with clients, projects, cards,
// ingestions and the metadata tables: browse a table, edit a cell, add and delete rows, show
// an ingestion's stored parameters, export CSV, purge old ingestions, and check and repair the
// links between the records. Questions before a deletion or a purge are put to the user here;
// the database floor only says when one is needed.
//
// The row and table types are the database's own (database/browse.h, database/manage.h):
// front ends show them, and change them only through these functions.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "database/browse.h"
#include "database/manage.h"

namespace cw {

class AppSession;
class UserInterface;

enum class PurgeOutcome { Declined, Done, Failed };

class Records {
 public:
  Records(Database& db, UserInterface& ui) : db_(db), ui_(ui) {}
  // The records of the session's database and front end; nothing without an open database.
  static std::optional<Records> of(AppSession& session);

  // A table's rows as chosen (see BrowseChoice); nothing after "Database Error: %s".
  std::optional<LoadedTable> browse(const CatalogEntry& entry, const BrowseChoice& choice,
                                    std::time_t now = std::time(nullptr));
  // The names the record lists show, in their order: the clients, the projects of `client`
  // (none for no client), the card records.
  std::vector<std::string> client_names();
  std::vector<std::string> project_names(const std::string& client);
  std::vector<std::string> card_names();

  // Whether the user may edit a column of the entry in the grid: the names and descriptions
  // of clients, projects and card records (a rename, with the rules of a rename), the
  // ingestion notes and every column of the IPTC and user tables.
  static bool editable(const CatalogEntry& entry, std::size_t column);
  // Stores a new text in an editable cell of a loaded row and updates the loaded copy. A name
  // that is empty or already taken in its list is refused with a message, and the row keeps
  // its old name.
  bool edit_cell(LoadedTable& table, std::size_t row, std::size_t column,
                 const std::string& text);
  // The same for a copy of one loaded row (the window's edits run on a worker with it).
  bool edit_row(const CatalogEntry& entry, const std::vector<std::string>& row,
                std::size_t column, const std::string& text);
  std::optional<std::string> add_row(const CatalogEntry& entry, const std::string& client);
  // Asks "OK to delete record?" when the row can be deleted, then deletes it.
  bool delete_row(const LoadedTable& table, long row);
  // The "Ingestion Parameters" text of a loaded row (see ingestion_parameters_text).
  std::optional<std::string> parameters(const LoadedTable& table, long row);
  // The stored parameters of the ingestion `id` (empty when none were stored); nothing when
  // there is no such ingestion.
  std::optional<std::string> parameters(int id);
  bool export_csv(const LoadedTable& table, const std::string& file);
  // Asks, then deletes the ingestion records older than one year before `now`; `deleted`
  // receives the number removed.
  PurgeOutcome purge(std::time_t now = std::time(nullptr), int* deleted = nullptr);

  // Clients, projects and cards by name (see manage.h). A rename without a description keeps
  // the one the row has; a deletion asks first.
  int add(EntityKind kind, const std::string& name, const std::string& description,
          const std::string& client = "");
  bool rename(EntityKind kind, const std::string& old_name, const std::string& new_name,
              const std::optional<std::string>& description, const std::string& client = "");
  bool remove(EntityKind kind, const std::string& name, const std::string& client = "");

  // A number that changes whenever another connection (another process, the command line)
  // has committed a change to the database; nothing when it cannot be read. Cheap enough to
  // ask every few seconds: it reads no table.
  std::optional<long long> change_count();

  // The link check, and the repair with a backup (database/repair.h); the report is appended
  // to `text`.
  bool verify(std::string& text);
  bool repair(std::string& text, bool& repairs_made);

 private:
  Database& db_;
  UserInterface& ui_;
};

}  // namespace cw
