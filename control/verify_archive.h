// Archive verification: what `cardwright verify` does. It checks a tree of the archive against
// a manifest an ingestion wrote into it, finds the manifests recorded for an ingestion, and
// checks a disc (mounted, copied to a folder, in a recorder, or as an image file) against the
// manifest at its root and against the ingest ledger.
//
// The check results are the floors' own value types (ManifestCheck, DiscCheck); the command
// prints them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "database/ledger_store.h"
#include "disc/libburn_recorder.h"
#include "ingest/manifest.h"

namespace cw {

class AppSession;

// The folder a manifest's paths start from unless told otherwise: the one holding its
// "Manifests" folder.
std::string default_manifest_root(const std::string& manifest);

// Checks every file `manifest` lists below its root. False with `error` when the manifest
// itself cannot be read.
bool verify_manifest(const ManifestRecord& manifest, ManifestCheck& check, std::string& error);

// The manifests recorded for ingestion `id`, oldest first; nothing when the session has no
// database or the query failed (reported).
std::optional<std::vector<ManifestRecord>> recorded_manifests(AppSession& session, int id);

// Checks the disc at `path` against the manifest at its root: a folder (a mounted disc or a
// copy of one) file by file, files beside the listed ones counted as not in the manifest; a
// block device through the recorder; any other file as a disc image. `manifest` names the
// manifest checked. False with `error` when nothing could be checked.
bool verify_disc(const std::string& path, DiscCheck& check, std::string& manifest,
                 std::string& error);

// The files of `check.matched` whose content the session's ingest ledger does not hold, in
// their order; nothing when the session has no database.
std::optional<std::vector<std::string>> files_not_in_ledger(AppSession& session,
                                                            const DiscCheck& check);

}  // namespace cw
