// What the ingest ledger knows of the files planned onto discs, so that a disc's manifest
// carries the hashes the ingestion verified rather than those of the files as they lie now:
// a copy that changed since then then fails the disc's read-back and is named.
#pragma once

namespace cw {

class AppSession;
class Database;
struct DiscSet;

// Adds to `set.origins` each planned file whose archive copy the ledger records at the path
// the file has once links in its folders are resolved, with the card it came from. Copies
// whose writing or read-back failed are not taken; files the ledger does not know are left
// to be hashed when their disc is laid out.
void add_ledger_origins(Database& db, DiscSet& set);
// The same with the ledger of the session's database; nothing is added without one.
void add_ledger_origins(AppSession& session, DiscSet& set);

}  // namespace cw
