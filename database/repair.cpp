// Verification and repair of the database's links (see repair.h).
#include "database/repair.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>

#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/paths.h"

namespace cw {

namespace {

struct LinkCheck {
  const char* count_sql;
  const char* label;
};

const LinkCheck kChecks[] = {
    {"select count(*) from ingestion left join card on card_id = card_sk where card_sk is null",
     "Ingestion records referencing nonexistent cards: %d\n"},
    {"select count(*) from ingestion left join project on project_id = project_sk where "
     "project_sk is null",
     "Ingestion records referencing nonexistent projects: %d\n"},
    {"select count(*) from project left join client on client_id = client_sk where client_sk is "
     "null",
     "Project records referencing nonexistent clients: %d\n"},
    {"select count(*) from client left join project on client_sk = client_id where client_id is "
     "null",
     "Client records with no projects: %d\n"},
};

// Copies the open database into a new file beside it (for the file, through SQLite's backup
// interface, which reads a consistent image of the file under SQLite's own locking). The
// target is created exclusively so that an existing file is never overwritten.
bool backup_database(Database& db, const std::string& target) {
  int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return false;
  ::close(fd);
  const bool ok = db.backup_to(target);
  if (!ok) ::unlink(target.c_str());
  return ok;
}

// The first column of every row of a key query.
std::optional<std::vector<int>> keys(Database& db, const char* sql) {
  auto r = db.query(sql);
  if (!r) return std::nullopt;
  std::vector<int> out;
  for (const auto& row : r->rows) out.push_back(std::atoi(row[0].c_str()));
  return out;
}

}  // namespace

bool db_verify(Database& db, std::string& text) {
  Database::Locked lock(db);
  Database::ErrorRedirect redirect(db, &text);
  bool passed = true;
  for (const LinkCheck& check : kChecks) {
    std::string value;
    if (!db.single_value(check.count_sql, value, 32, true, false)) {
      text += "\nERROR accessing database.\n";
      return false;
    }
    int n = std::atoi(value.c_str());
    text_append_printf(text, check.label, n);
    if (n > 0) passed = false;
  }
  text +=
      passed ? "\nVerified - No errors detected.\n" : "\nWARNING: Verification errors detected.\n";
  return passed;
}

std::string db_backup_path(const std::string& db_path, std::time_t now, std::string& error) {
  struct tm tm;
  char stamp[32] = "00000000_000000";
  if (localtime_r(&now, &tm)) std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", &tm);
  if (db_path.size() + std::strlen(stamp) > 999) {
    error = "Can't backup database - path too long";
    return {};
  }
  std::size_t at = db_path.find(".sqlite3");
  if (at == std::string::npos) {
    error = "Can't backup database - path has wrong extension";
    return {};
  }
  return db_path.substr(0, at) + "_" + stamp + ".sqlite3";
}

bool db_repair(Database& db, std::string& text, bool& repairs_made, std::time_t now) {
  Database::Locked lock(db);
  repairs_made = false;
  if (!db_verify(db, text)) {
    std::string error;
    // A server's catalogue is backed up into a file in the user folder.
    std::string target =
        db_backup_path(db.is_server() ? ensure_user_folder() + "/" + kServerBackupName : db.path(),
                       now, error);
    if (target.empty()) {
      text += error + "\n";
      return false;
    }
    if (!backup_database(db, target)) {
      text += "Can't backup database - copying error\n";
      return false;
    }
    text_append_printf(text, "Existing (unrepaired) database backed up to %s\n", target.c_str());
  }

  Database::ErrorRedirect redirect(db, &text);
  // Taken for writing at once: a repair on another station waits, then finds the
  // "[unknown]" rows this one made instead of making them twice.
  if (!db.exec(db.dialect().begin_write())) return false;
  auto fail = [&] {
    db.exec_quiet("rollback transaction");
    repairs_made = false;
    return false;
  };
  // Points every row the select finds at the target (found or made only when needed).
  auto relink = [&](const char* select, const char* update, auto target_of) {
    auto rows = keys(db, select);
    if (!rows) return false;
    if (rows->empty()) return true;
    int target = target_of();
    if (target < 0) return false;
    for (int row : *rows) {
      auto sql = sql_format(update, target, row);
      if (!sql) {
        text += "\nERROR: Can't allocate sql memory\n";
        return false;
      }
      if (!db.exec(*sql)) return false;
    }
    repairs_made = true;
    return true;
  };

  if (!relink("select ingestion_sk from ingestion left join card on card_id = card_sk where "
              "card_sk is null",
              "update ingestion set card_id = %d where ingestion_sk = %d",
              [&] { return db.unknown_card(); }) ||
      !relink("select ingestion_sk from ingestion left join project on project_id = "
              "project_sk where project_sk is null",
              "update ingestion set project_id = %d where ingestion_sk = %d",
              [&] { return db.unknown_project(db.unknown_client()); }) ||
      !relink("select project_sk from project left join client on client_id = client_sk where "
              "client_sk is null",
              "update project set client_id = %d where project_sk = %d",
              [&] { return db.unknown_client(); }))
    return fail();

  auto lonely = keys(db,
                     "select client_sk from client left join project on client_sk = client_id "
                     "where client_id is null");
  if (!lonely) return fail();
  for (int client : *lonely)
    if (db.unknown_project(client) < 0) return fail();
  if (!lonely->empty()) repairs_made = true;

  if (!db.exec("commit transaction")) return fail();
  text += repairs_made ? "Verification errors repaired OK.\n"
                       : "Verified - No errors detected or repaired.\n";
  return true;
}

bool db_startup_check(Database& db) {
  std::string text;
  bool repairs_made = false;
  bool ok = db_repair(db, text, repairs_made);
  if (ok && !repairs_made) return true;
  ui_print("\nDatabase repair message(s):\n" + text);
  alert_printf("%s\n\nPlease send email to %s so that this behavior can be tracked.",
               ok ? "Database inconsistencies were repaired with no data loss."
                  : "Error occured trying to repair database inconsistencies. No repairs or "
                    "other changes were made.",
               kSupportAddress);
  return ok;
}

}  // namespace cw
