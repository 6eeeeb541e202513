// Moving a catalogue and naming the one in use (see catalogue_move.h).
#include "control/catalogue_move.h"

#include <filesystem>
#include <system_error>

#include "control/app_session.h"
#include "database/database.h"
#include "database/migrate.h"
#include "foundation/log.h"
#include "settings/preferences.h"

namespace cw {

namespace {

// Whether `target` names the catalogue the session has open: a move into itself would find
// every row there already and prove nothing.
bool same_catalogue(const AppSession& session, const std::string& target) {
  const SessionPaths& paths = session.paths();
  if (is_server_catalogue(target) || is_server_catalogue(paths.catalogue))
    return is_server_catalogue(target) && is_server_catalogue(paths.catalogue) &&
           catalogue_display_name(target) == paths.database;
  std::error_code error;
  if (std::filesystem::equivalent(target, paths.catalogue, error)) return true;
  return std::filesystem::weakly_canonical(target, error) ==
         std::filesystem::weakly_canonical(paths.catalogue, error);
}

}  // namespace

std::optional<std::string> migrate_catalogue_to(AppSession& session, const std::string& target) {
  Database* source = session.database();
  if (!source) return std::nullopt;
  const std::string shown = is_server_catalogue(target) ? catalogue_display_name(target) : target;
  if (target.empty() || same_catalogue(session, target)) {
    alert_printf("The catalogue %s is the one this station uses: nothing to migrate.",
                 shown.c_str());
    return std::nullopt;
  }
  Database destination;
  MigrationCounts counts;
  if (!destination.open(target) || !migrate_catalogue(*source, destination, counts)) {
    alert_printf("Nothing was migrated: the catalogue %s is as it was.", shown.c_str());
    return std::nullopt;
  }
  return "From " + source->path() + " into " + destination.path() + ":\n" +
         migration_summary(counts);
}

std::string catalogue_caption(const AppSession& session) {
  const SessionPaths& paths = session.paths();
  const bool own_file = paths.catalogue == paths.user_folder + "/" + kDatabaseFileName;
  return std::string("Catalogue: ") + (own_file ? "embedded file " : "") + paths.database;
}

std::string catalogue_preference_shown() { return pref_show("Catalogue").value_or(""); }

std::string catalogue_from_shown(const std::string& text, const std::string& shown,
                                 const std::string& stored) {
  std::string wanted = text;
  const std::size_t mask = shown.find("****");
  const std::size_t at = wanted.find("****");
  if (shown == stored || mask == std::string::npos || at == std::string::npos) return wanted;
  // Shown and stored differ only where the password stands.
  return wanted.replace(at, 4, stored.substr(mask, stored.size() - (shown.size() - 4)));
}

bool change_catalogue_preference(const std::string& text) {
  const std::string stored = pref_get_text("Catalogue");
  const std::string wanted = catalogue_from_shown(text, catalogue_preference_shown(), stored);
  if (wanted == stored) return true;
  std::string opened;
  return choose_catalogue(wanted, opened);
}

}  // namespace cw
