// The catalogue as a whole: moving this station's catalogue into another one (the studio's
// shared catalogue, `cardwright db migrate --to URL`), and the line that names the catalogue
// in use in the desktop program.
#pragma once

#include <optional>
#include <string>

namespace cw {

class AppSession;

// Copies the session's catalogue into `target` (a "postgresql://" URL or a file path): clients,
// projects and cards merged with the target's by name, every ingestion with its ledger and
// manifests added unless the target holds it already (database/migrate.h). The summary to show;
// nothing after the failure was shown, the target then holding nothing of the move.
std::optional<std::string> migrate_catalogue_to(AppSession& session, const std::string& target);

// "Catalogue: photo@studio-db:5432/studio" for a server (never a password), "Catalogue: PATH"
// for a file chosen by the preference or --catalogue, and "Catalogue: embedded file PATH" for
// the station's own file.
std::string catalogue_caption(const AppSession& session);

// The preference "Catalogue" as Preferences shows it: a URL's password as "****".
std::string catalogue_preference_shown();
// The catalogue meant by `text`, edited from `shown` (the `stored` catalogue with its password
// masked): "****" stands for the stored password, wherever the edit left it.
std::string catalogue_from_shown(const std::string& text, const std::string& shown,
                                 const std::string& stored);
// Stores `text`, edited from what catalogue_preference_shown() gave, as the preference
// "Catalogue" when it changed ("****" standing for the stored password). A new catalogue is
// opened first (its tables and default rows made when new), so that a catalogue that cannot
// be opened is refused now rather than at the next start. False after saying why; the
// preference is then unchanged. The program in use keeps its catalogue until it starts again.
bool change_catalogue_preference(const std::string& text);

}  // namespace cw
