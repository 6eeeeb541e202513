// What becomes of a copy that failed its read-back, and where a missing copy may be made from.
//
// A copy whose bytes differ from its source (or that cannot be read back) must not stay under
// its final name: the next run would find the name taken by a file of other content and could
// never complete the image there. It is moved aside, beside itself, and the report names
// where it went. A missing copy is made from the card or from another tree's copy, and that
// copy is used only once its bytes still hash to what the ledger recorded of it: a damaged
// backup never becomes the primary.
#pragma once

#include <cstddef>
#include <string>

#include "ingest/engine_context.h"

namespace cw {

// The name a damaged copy at `path` takes: "NAME.damaged", or with the copy's unique-name
// suffix before it ("NAME_00001.JPG.damaged") when that is taken; `n` picks the suffix.
std::string damaged_name(const std::string& path, int n);

// Copy `copy` of ledger entry `entry` failed its read-back: its file is renamed to a free
// damaged_name (never replacing anything) and the report names it on a line of its own; the
// ledger then records it there. A file that cannot be renamed stays, and the report says so.
void set_damaged_copy_aside(RunState& state, RunReporter& reporter, std::size_t entry,
                            std::size_t copy);

// True when copy `copy` of `entry`, made by an earlier run, may be the source of a missing
// copy: its bytes hash now to the hash the ledger recorded of it (a converter's DNG not hashed
// yet is taken as the converter left it). A copy without a recorded hash is not; one that
// hashes otherwise, or cannot be read, is marked bad and named in the report.
bool prove_restore_source(RunState& state, RunReporter& reporter, std::size_t entry,
                          std::size_t copy);

}  // namespace cw
