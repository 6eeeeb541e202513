// Sidecar placement: every copied image may get an XMP sidecar beside it (same name, extension
// "xmp"). A sidecar the card already holds is copied with the image; otherwise one is built
// from the metadata template and develop settings of the run (holding the run's metadata lock
// while it expands them), for the first copy of every image and, in copy-only mode, for every file the
// second copy copies unchanged.
//
// Which files have a sidecar name: those with an extension of exactly three characters, and
// today's stills and videos whose extensions are longer (HEIC, HEIF, AVIF, M2TS, INSV, MPEG).
// The sidecar's name is the file's with its extension replaced, so files of one stem share
// one sidecar (a raw and its JPEG, a HEIC and its JPEG): the first placed stays, and the other
// finds it there. Other long extensions (JPEG, TIFF) have none.
//
// A clip's companions (ingest/card_layout.h) travel the same way as a card's sidecar: copied
// beside every copy of the clip, under the copy's name, never over anything.
//
// Macros of a generated sidecar read presets, vocabulary and database values through the run's
// macro environment, the same one that names the images.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ingest/engine_context.h"
#include "ingest/sidecar_worker.h"
#include "metadata/macro_environment.h"

namespace cw {

// True when the run builds sidecars: it has a metadata template or develop settings.
bool builds_sidecars(const RunOptions& options);

// Places the sidecar of `target`, the copy of `source`, after the companions of a clip (copied
// beside it unless something holds their names already). The base name, date text
// ("%Y%m%d_%H%M%S") and number text are given for a first copy and are null in copy-only
// mode. A target sidecar that exists is never replaced. On false `fail` has been called.
// `prepared`: what SidecarWorker prepared of it, used (its text taken) instead of preparing it
// again. A sidecar built from the template is written through the run's descriptor of its
// folder (RunState::target_folders), or with `placer` handed to that thread to be placed
// (SidecarWorker::hand_over; settle_sidecar then reports how that went).
bool create_sidecar(EngineContext& ctx, const std::string& source, const std::string* base_name,
                    const std::string* date_text, const std::string* number_text,
                    bool first_copy, const std::string& target,
                    PreparedSidecar* prepared = nullptr, SidecarWorker* placer = nullptr);

// Waits until the sidecar handed to the run's sidecar thread, if any, is placed, and notes
// it as create_sidecar would have: false after fail.
bool settle_sidecar(EngineContext& ctx);

// Writes a built sidecar's `text` into `staged`, made as a temporary file in `folder` (relative
// to `folder_fd` when given): nothing, or the failure as the run reports it.
const char* write_staged_sidecar(StagedFile& staged, const std::string& folder,
                                 const std::string& text, int folder_fd = -1);
// Writes a built sidecar under a temporary name in `folder` and moves it to `target` without
// replacing anything, holding `placement` (the batch's placement lock) for the move. With
// `folder_fd` (an open descriptor of `folder`) the file is made and named relative to it.
// With `staged`, the text was written under its temporary name in `folder` already: it is
// only moved.
SidecarPlacement place_sidecar_text(std::mutex& placement, const std::string& folder,
                                    const std::string& target, const std::string& text,
                                    int folder_fd = -1, StagedFile* staged = nullptr);
// Logs what placing a first copy's sidecar came to, or reports its failure: false after fail.
bool note_placement(RunReporter& reporter, const SidecarPlacement& p, bool first_copy);
// Logs a first copy's sidecar placed, or found in place (nothing for a failure).
void log_placement(const SidecarPlacement& p);

// True when a file named `path` has a sidecar name: its extension has three characters, or is
// one of the longer ones of today's stills and videos.
bool takes_sidecar(std::string_view path);

// True when the run wants a sidecar beside `copy`, a copy of the image `source`: the card holds
// one for it, or the run builds them from a template. Not for a name that takes no sidecar,
// nor for a JPEG whose XMP the run merges into it. A run with develop settings only
// may build nothing for an image, so it wants none of its own.
bool wants_sidecar(const RunOptions& options, const std::string& source, const std::string& copy);

// The sidecar path beside a copy that takes one: its extension replaced by "xmp" (for a
// three-character extension, its last three characters).
std::string sidecar_beside(const std::string& copy);

// The copies an earlier run archived for `r` (its ledger entry's copies in the run's trees)
// get the sidecar the run wants beside them when they lack one, as a run killed between
// placing an image and its sidecar leaves them: a copy of the sidecar another of them has, or
// of the card's, or one built as the first copy would have had it. Never a stop: a sidecar
// that cannot be placed is named in the report as the image's failure, and the image is not
// called safe.
void complete_archived_sidecars(EngineContext& ctx, const ImageRecord& r);

// True for a JPEG copy of `r` in the first tree that still holds the card's bytes where the
// run merges XMP into its JPEGs and has a sidecar to merge: a run killed between the copy and
// its merge left it so. Until the merge is made its sidecar is wanted beside it.
bool merge_pending(const RunOptions& options, const RunLedger& ledger, const ImageRecord& r,
                   const LedgerCopy& copy);

// True unless the run wants a sidecar beside `copy` of the image `r` and it has none. A DNG the
// converter made of a raw, and its third copy, have none of their own.
bool sidecar_in_place(const RunOptions& options, const RunLedger& ledger, const ImageRecord& r,
                      const LedgerCopy& copy);

// The sidecar a source that takes one already has: the source path with its extension
// replaced by "xmp" (or "XMP"), when that file exists; nothing otherwise.
std::optional<std::string> existing_source_sidecar(const std::string& source);

// True when every companion the card has beside the clip of `r` lies beside `copy`, one of
// its copies (a converted DNG has none).
bool companions_in_place(const ImageRecord& r, const LedgerCopy& copy);

// True when another file beside `image` has its name with another extension (a raw beside
// its JPEG, IMG_0001.CR2 beside IMG_0001.JPG): the two share one sidecar, which the JPEG must
// not take away when its XMP is merged into it.
bool shares_sidecar(const std::string& image);

// A metadata template named on the command line: a path (anything holding "/") as given,
// otherwise a file of the program's data folder, ".xmp" added when missing.
std::string metadata_template_path(const std::string& name_or_path);

}  // namespace cw
