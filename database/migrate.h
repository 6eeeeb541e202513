// Moving a station's catalogue into another one, normally the studio's shared catalogue on a
// server, over the Engine interface (so a file into a file works the same way).
//
// Clients and cards are merged with the target's rows of the same name, and a project with the
// target's project of the same name under the same client. Every ingestion is added with its
// checklist steps, its ledger entries (and the copies each one records) and its manifests,
// every reference rewritten to the target's keys. The rows of the metadata tables (IPTC values,
// user data) are added unless the target holds an equal row.
//
// An ingestion is recognised by its natural identity: the time it was recorded, its card (by
// name), its client and project (by name) and its image numbers. One the target holds already
// is skipped together with everything of its own, so running the move again adds nothing.
// Ledger entries and manifests of no ingestion are recognised by their own content.
//
// Everything is written in one write transaction of the target: a failure leaves the target as
// it was.
#pragma once

#include <string>

#include "database/database.h"

namespace cw {

struct MigrationCounts {
  int clients = 0;         // client rows of the source...
  int clients_merged = 0;  // ...of which this many matched a target client by name
  int projects = 0;
  int projects_merged = 0;
  int cards = 0;
  int cards_merged = 0;
  int ingestions = 0;          // ingestions added
  int ingestions_present = 0;  // ingestions the target held already (skipped)
  int steps = 0;
  int ledger_entries = 0;
  int ledger_copies = 0;
  int manifests = 0;
  int metadata_rows = 0;  // IPTC and user-data rows added
};

// Copies `source` into `target` (see above). False after the failure was reported through
// the target's (or the source's) error reports; the target is then unchanged. `counts`
// receives what was added and merged.
bool migrate_catalogue(Database& source, Database& target, MigrationCounts& counts);

// The plain summary of a move: "Migrated 3 clients (1 merged by name), ...".
std::string migration_summary(const MigrationCounts& counts);

}  // namespace cw
