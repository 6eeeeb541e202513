// Verification and repair of the links between ingestions, cards, projects and clients.
//
// SQLite does not enforce these links and rows can get lost, so at every start-up the program
// counts the orphans and, when there are any, backs the file up beside itself (a server's
// catalogue into a file in the user folder, "cw_catalogue_<time>.sqlite3") and points every
// orphan at an "[unknown]" card, client or project inside one transaction: the database ends
// up either fully repaired or unchanged. Messages are collected in a repair text.
#pragma once

#include <ctime>
#include <string>

#include "database/database.h"

namespace cw {

// The name a server catalogue's backups are made from, in the user folder.
inline constexpr const char* kServerBackupName = "cw_catalogue.sqlite3";

// Where users are asked to report inconsistencies the start-up check found.
inline constexpr const char* kSupportAddress = "support@cardwright.app";

// Runs the four link counts and appends their report to `text`; true when all are 0.
bool db_verify(Database& db, std::string& text);

// The backup path for a repair at time `now`: the database path up to ".sqlite3", "_", the
// stamp "%Y%m%d_%H%M%S" and ".sqlite3". Empty with `error` set when it cannot be formed.
std::string db_backup_path(const std::string& db_path, std::time_t now, std::string& error);

// Verifies; when that finds errors, backs the file up and repairs within one transaction.
// `repairs_made` tells whether anything was changed. False when the backup or a repair
// statement failed; the database is then unchanged and `text` says why.
bool db_repair(Database& db, std::string& text, bool& repairs_made,
               std::time_t now = std::time(nullptr));

// The start-up check: repair, and when it failed or changed something, write
// "\nDatabase repair message(s):\n" and the repair text to the text pane and show the outcome.
// Returns the repair's result.
bool db_startup_check(Database& db);

}  // namespace cw
