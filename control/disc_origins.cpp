#include "control/disc_origins.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "control/app_session.h"
#include "database/ledger_store.h"
#include "disc/disc_image.h"
#include "foundation/fs.h"

namespace cw {

void add_ledger_origins(Database& db, DiscSet& set) {
  // Each file's real path, as the ledger records its copies: its folder's links are resolved
  // once per folder, and only a file that is a link itself is resolved on its own.
  std::vector<std::string> sources, real;
  std::optional<std::string> folder;  // the last folder resolved
  std::string real_folder;            // its real path (empty: it has none)
  for (const Disc& disc : set.discs)
    for (const DiscFolder& f : disc.folders)
      for (const std::string& name : f.files) {
        std::string source = disc_source_path(set, f, name);
        const std::size_t slash = source.rfind('/');
        if (slash == std::string::npos) continue;
        if (!folder || folder->size() != slash || source.compare(0, slash, *folder) != 0) {
          folder = source.substr(0, slash);
          char resolved[PATH_MAX];
          real_folder = realpath(folder->empty() ? "/" : folder->c_str(), resolved) ? resolved : "";
        }
        struct stat st;
        if (real_folder.empty() || ::lstat(source.c_str(), &st) != 0) continue;
        if (S_ISLNK(st.st_mode)) {
          char resolved[PATH_MAX];
          if (!realpath(source.c_str(), resolved)) continue;
          real.emplace_back(resolved);
        } else {
          real.push_back(join_path(real_folder, source.substr(slash + 1)));
        }
        sources.push_back(std::move(source));
      }
  const std::map<std::string, RecordedOrigin> recorded = ledger_origins_at(db, real);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const auto r = recorded.find(real[i]);
    if (r == recorded.end()) continue;
    FileOrigin& o = set.origins[sources[i]];
    o.hash = r->second.hash;
    o.ingestion_id = r->second.ingestion_id;
    o.card_label = r->second.card_label;
    o.card_uuid = r->second.card_uuid;
    o.camera_serial = r->second.camera_serial;
    o.captured = r->second.captured;
  }
}

void add_ledger_origins(AppSession& session, DiscSet& set) {
  if (Database* db = session.database()) add_ledger_origins(*db, set);
}

}  // namespace cw
