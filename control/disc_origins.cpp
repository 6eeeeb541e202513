#include "control/disc_origins.h"

#include <climits>
#include <cstdlib>
#include <optional>
#include <string>

#include "control/app_session.h"
#include "database/ledger_store.h"
#include "disc/disc_image.h"

namespace cw {

void add_ledger_origins(Database& db, DiscSet& set) {
  for (const Disc& disc : set.discs)
    for (const DiscFolder& folder : disc.folders)
      for (const std::string& name : folder.files) {
        const std::string source = disc_source_path(set, folder, name);
        char resolved[PATH_MAX];
        if (!realpath(source.c_str(), resolved)) continue;
        const std::optional<RecordedOrigin> r = ledger_origin_at(db, resolved);
        if (!r) continue;
        FileOrigin& o = set.origins[source];
        o.hash = r->hash;
        o.ingestion_id = r->ingestion_id;
        o.card_label = r->card_label;
        o.card_uuid = r->card_uuid;
        o.camera_serial = r->camera_serial;
        o.captured = r->captured;
      }
}

void add_ledger_origins(AppSession& session, DiscSet& set) {
  if (Database* db = session.database()) add_ledger_origins(*db, set);
}

}  // namespace cw
