// The second copy (first-copy backup tree → primary tree) and the post-conversion backup
// (primary tree → post-conversion backup tree) of a run with a pre-conversion backup.
//
// Folder by folder, raw files go through the DNG converter, which writes DNGs into the
// primary folder (or, in verify-only mode, into a temporary folder that is removed
// afterwards); every other file, and every file when there is no converter or only
// verification is wanted, is copied unchanged. Each result then gets its third copy.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <vector>

#include "ingest/engine_context.h"

namespace cw {

// Makes the second and third copies of every first copy. On false either `fail` has been
// called (empty `message`) or `message` holds a converter message for the driver to report.
bool copy_to_primary(EngineContext& ctx, std::string& message);

// The images of the run that have a first copy, in the byte order of its path (the images'
// own texts, which stay as they are while the second copies are made), images of one path in
// list order; looked up by binary search.
using FirstCopies = std::vector<ImageRecord*>;

// Converts or copies the files of one first-copy folder into `destination`; an image whose
// copy the primary tree (or the post-conversion tree) holds already is not copied there again.
bool convert_or_copy_folder(EngineContext& ctx, std::string& message,
                            const std::vector<const std::string*>& files,
                            const std::string& destination, const FirstCopies& images);

// The third copy of one file of the primary tree (the image's ledger `entry` and its `primary`
// copy, when known), and of its sidecar when there is one; `primary_made` says whether the
// primary copy was made by this run (else it is proven before anything is copied from it);
// `made` says whether the image's copy was made now.
bool copy_to_post_backup(EngineContext& ctx, const std::string& primary_file,
                         std::optional<std::size_t> entry, std::optional<std::size_t> primary,
                         bool primary_made, bool& made);

}  // namespace cw
