// Managing clients, projects and cards as the user does it: adding, renaming and deleting by
// name against the list the user sees, with the rules that keep the lists usable (a name is
// required and unique within its list, the last row cannot be deleted, deleting hides the row
// so that old ingestions still name it). Refusals and failures are shown as alerts; a deletion
// asks nothing itself, it answers that the user's Yes is needed first (change_outcome.h).
#pragma once

#include <string>

#include "database/change_outcome.h"
#include "database/database.h"

namespace cw {

enum class EntityKind { Client, Project, Card };

// Adds a row named `name`; a client gets its default project. `client` names the owner of a
// project and is ignored otherwise. Returns the new key, or -1.
int manage_add(Database& db, EntityKind kind, const std::string& name,
               const std::string& description, const std::string& client = "");

// Renames the visible row `old_name` to `new_name` with a new description.
bool manage_rename(Database& db, EntityKind kind, const std::string& old_name,
                   const std::string& new_name, const std::string& description,
                   const std::string& client = "");

// The question the deletion of `name` is confirmed with.
std::string manage_delete_question(EntityKind kind, const std::string& name);

// Hides the visible row `name` (renamed name_(key) so the name can be reused). The last row
// of a list cannot be deleted; unconfirmed, anything else answers NeedsConfirmation.
ChangeOutcome manage_delete(Database& db, EntityKind kind, const std::string& name,
                            bool confirmed, const std::string& client = "");

}  // namespace cw
