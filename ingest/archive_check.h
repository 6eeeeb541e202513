// Whether a file of the card is in the archive already, and the ledger entries of the files a
// run takes.
//
// The ledger is asked first: a file whose size and modification time it knows is hashed, and
// when an entry of that content still has its copy in the first-copy tree, nothing is copied
// (whatever name format, suffix, folder or later XMP merge that copy has). When the ledger
// does not know it, the taken names of the target are compared by content (unique_target.h),
// and a copy found that way is recorded, so the next run finds it in the ledger.
#pragma once

#include <cstddef>
#include <string>

#include "database/ledger_store.h"
#include "ingest/engine_context.h"
#include "ingest/sidecar_worker.h"
#include "ingest/unique_target.h"

namespace cw {

enum class Archived { kNo, kYes, kFailed };

// kYes when the image is in the first-copy tree already: it counts as a duplicate (and as
// already archived when an earlier run copied it), and with a backup, when the primary or
// post-conversion tree lacks it, its first copy is handed to the second copy to complete
// them. kFailed (with `message`) when the source could not be read to hash it.
Archived find_archived(EngineContext& ctx, ImageRecord& r, SourceFacts& facts,
                       std::string& message);

// The taken name `path` holds the same content as the source: recorded as the image's copy in
// the first-copy tree and taken as find_archived takes an archived image.
void take_archived_name(EngineContext& ctx, ImageRecord& r, SourceFacts& facts,
                        const std::string& path);

// The ledger entry for a file just copied with this hash: the entry of that content when the
// ledger has one (its copies in other trees), else a new one describing the card and the file,
// with `exif` when given (read ahead by the sidecar thread), else the values read here.
std::size_t entry_for(EngineContext& ctx, const ImageRecord& r, const Hash128& hash,
                      const EntryExif* exif = nullptr);

// The EXIF values a new ledger entry records of the image at `source`, from the run's
// remembered values (the caller holds the run's metadata lock).
EntryExif entry_exif(MacroEnvironment& env, const std::string& source);

// The hash and size of the file at `path`; false when it is no regular file or cannot be read.
// With `fingerprint`, also the file's fingerprint, taken before the read as a read-back takes
// it (none when taken too soon after the file's last change to stand for it later).
bool measure_file(RunState& state, const std::string& path, Hash128& hash, std::uint64_t& size,
                  std::optional<Fingerprint>* fingerprint = nullptr);

// The hash of every copy the run changed or the converter made, made now, so that the ledger
// and the manifests hold what the files really are.
void hash_changed_copies(RunState& state);

// A copy's path as the run names it: below the tree's root as the run's parameters give it.
std::string run_path(const RunOptions& options, RunState& state, CopyTree tree,
                     const std::string& real_path);

}  // namespace cw
