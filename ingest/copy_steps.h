// Changes a run makes to a copy after copying it: the sidecar's XMP merged into a JPEG, GPS
// tags written. Each is made on a complete file beside the copy ("<copy>-cwtmp"), synced and
// renamed over it, so the copy is at every moment either as it was or fully changed; and the
// ledger knows of the change throughout. Before it the copy is recorded as "changing" with the
// hash and size of the file as it is, and that record is stored before the file changes;
// afterwards the copy gets the new hash and size. A run killed in between leaves a copy the
// next run still knows as this image's (so it makes no second copy under a suffixed name): it
// removes what is left of the temporary file, hashes the copy, takes it as it is (unchanged,
// or the change's complete result) and makes the changes again, which give the same file when
// made twice.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "ingest/engine_context.h"

namespace cw {

// A recorded copy: the ledger entry and the copy's index in it.
struct CopyRef {
  std::size_t entry = 0;
  std::size_t copy = 0;
};

// The copy is due to change: recorded as "changing" with the hash and size of its file now
// (hashed when unknown); with `store`, stored at once, the change following at once. False
// when it is no copy to change (failed its read-back, gone) or the record cannot be stored.
bool begin_copy_change(RunState& state, RunReporter& reporter, CopyRef ref, bool store);

// The change is over, made or not: the copy gets its file's hash and size and its state from
// before the change again. A copy that cannot be read then is bad and counts as failed.
void end_copy_change(RunState& state, RunReporter& reporter, CopyRef ref);

// One change of several is made: the copy stays "changing" (a later step changes it again),
// with the hash and size of its file as it is now.
void continue_copy_change(RunState& state, CopyRef ref);

// Merges the sidecar beside the JPEG copy `jpeg` into it. A sidecar that cannot go in stays
// beside the JPEG, with a warning naming both; the run goes on. `gps_follows`: the copy stays
// "changing", GPS tags coming later in the run. Without a record the merge is made alone.
void merge_sidecar_into_copy(EngineContext& ctx, const std::string& jpeg,
                             std::optional<CopyRef> record, bool gps_follows);

// The changes this run makes to a copy in `tree` of the image at the run path `path`,
// recorded as `ref`, made again on a copy a killed run left unchanged or half done: the merge
// of a JPEG's sidecar, still there; corrected EXIF dates (read from `source`, the image on the
// card) and GPS tags, at once in the primary tree, with the run's other first copies
// otherwise.
void redo_copy_changes(EngineContext& ctx, CopyTree tree, const std::string& path, CopyRef ref,
                       const std::string& source);

// The copies of `entry` (the image at `source`) in this run's trees that a killed run left
// "changing" are settled and their changes made again (see above); a temporary file of a
// change left beside them is removed.
void finish_interrupted_changes(EngineContext& ctx, std::size_t entry, const std::string& source);

}  // namespace cw
