// Client, project and card management rules (see manage.h).
#include "database/manage.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "foundation/log.h"

namespace cw {

namespace {

// The texts of one kind of entity: "client", "Client", and the few that differ in case.
struct KindTexts {
  const char* lower;
  const char* upper;
  const char* add_error;
};

KindTexts texts(EntityKind kind) {
  switch (kind) {
    case EntityKind::Client:
      return {"client", "Client", "Database error adding client."};
    case EntityKind::Project:
      return {"project", "Project", "Database error adding project."};
    case EntityKind::Card:
      break;
  }
  return {"card", "Card", "Database error adding Card."};
}

// The list the user sees for this kind: name in column 0, key in column 1.
std::optional<QueryResult> shown_list(Database& db, EntityKind kind, const std::string& client) {
  switch (kind) {
    case EntityKind::Client:
      return db.list_clients();
    case EntityKind::Project:
      return db.list_projects(client);
    case EntityKind::Card:
      break;
  }
  return db.list_cards();
}

// The key of `name` in the shown list, or -1.
int find_in(const QueryResult& list, const std::string& name) {
  for (const auto& row : list.rows)
    if (row.size() > 1 && row[0] == name) return std::atoi(row[1].c_str());
  return -1;
}

}  // namespace

int manage_add(Database& db, EntityKind kind, const std::string& name,
               const std::string& description, const std::string& client) {
  Database::Locked lock(db);
  KindTexts t = texts(kind);
  if (name.empty()) {
    alert_printf("%s name is required.", t.upper);
    return -1;
  }
  auto list = shown_list(db, kind, client);
  if (!list) {
    alert_printf("%s", t.add_error);
    return -1;
  }
  if (find_in(*list, name) >= 0) {
    alert_printf("%s name already exists.", t.upper);
    return -1;
  }
  int key = -1;
  switch (kind) {
    case EntityKind::Client:
      key = db.client_add(name, description, true);
      break;
    case EntityKind::Project:
      if (db.client_key(client) >= 0) key = db.project_add(name, client, std::nullopt, description);
      break;
    case EntityKind::Card:
      key = db.card_add(name, description);
      break;
  }
  if (key < 0) alert_printf("%s", t.add_error);
  return key;
}

bool manage_rename(Database& db, EntityKind kind, const std::string& old_name,
                   const std::string& new_name, const std::string& description,
                   const std::string& client) {
  Database::Locked lock(db);
  KindTexts t = texts(kind);
  if (new_name.empty()) {
    alert_printf("%s name is required.", t.upper);
    return false;
  }
  auto list = shown_list(db, kind, client);
  int key = list ? find_in(*list, old_name) : -1;
  if (key < 0) {
    alert_printf("%s name not found.", t.upper);
    return false;
  }
  int other = find_in(*list, new_name);
  if (other >= 0 && other != key) {
    alert_printf("%s name already exists.", t.upper);
    return false;
  }
  bool ok = false;
  switch (kind) {
    case EntityKind::Client:
      ok = db.client_rename(key, new_name, description);
      break;
    case EntityKind::Project:
      ok = db.project_rename(key, new_name, description);
      break;
    case EntityKind::Card:
      ok = db.card_rename(key, new_name, description);
      break;
  }
  if (!ok) alert_printf("Database error updating %s.", t.lower);
  return ok;
}

std::string manage_delete_question(EntityKind kind, const std::string& name) {
  char question[1100];
  std::snprintf(question, sizeof question, "Delete %s \"%s\"?\n\nThis operation cannot be undone.",
                texts(kind).lower, name.c_str());
  return question;
}

ChangeOutcome manage_delete(Database& db, EntityKind kind, const std::string& name,
                            bool confirmed, const std::string& client) {
  Database::Locked lock(db);
  KindTexts t = texts(kind);
  auto list = shown_list(db, kind, client);
  if (!list) {
    alert_printf("Database error deleting %s.", t.lower);
    return ChangeOutcome::Refused;
  }
  if (list->row_count() <= 1 && find_in(*list, name) >= 0) {
    alert_printf("Can't delete last %s.", t.lower);
    return ChangeOutcome::Refused;
  }
  if (!confirmed) return ChangeOutcome::NeedsConfirmation;
  int key = find_in(*list, name);
  if (key < 0) {
    alert_printf("%s name not found.", t.upper);
    return ChangeOutcome::Refused;
  }
  bool ok = false;
  switch (kind) {
    case EntityKind::Client:
      ok = db.client_hide(key);
      break;
    case EntityKind::Project:
      ok = db.project_hide(key);
      break;
    case EntityKind::Card:
      ok = db.card_hide(key);
      break;
  }
  if (!ok) {
    alert_printf("Database error deleting %s.", t.lower);
    return ChangeOutcome::Refused;
  }
  return ChangeOutcome::Done;
}

}  // namespace cw
