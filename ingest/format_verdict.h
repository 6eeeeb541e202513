// The line every run ends with: whether the card may be formatted now. It may when every image
// the run took has a proven copy (read back with the source's hash, or a DNG the converter
// checked) in every tree the run was meant to fill, nothing on the card was damaged or left
// behind, and the run ended without an error. Otherwise the line says which files are not
// safe yet and why.
#pragma once

#include <vector>

#include "ingest/engine_context.h"

namespace cw {

// The trees every image is meant to reach: the first-copy tree, and with a backup the primary
// tree and, when wanted, the post-conversion backup.
std::vector<CopyTree> wanted_trees(const RunOptions& options);
// "the primary tree", "the backup tree", "the post-conversion backup tree".
const char* tree_name(const RunOptions& options, CopyTree tree);
// False for the records that are not images of their own (a sidecar in a list of chosen files).
bool is_taken_image(const ImageRecord& r);

// Works out the verdict of a run that ended (`run_ok`: without an error), keeps it in
// result.verdict and ends the report with its line. `state` only caches the trees' resolved
// roots.
void make_verdict(const RunOptions& options, RunState& state, RunResult& result, bool run_ok);

}  // namespace cw
