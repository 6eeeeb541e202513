// The three program-wide locks that coordinate concurrent ingestion runs.
//
// ingestionLock: slot status and texts, stop requests, error flags, image counts, the sequence
//   counter and number-range data, and folder creation. Held for one access at a time.
// copyOrderLock: the order gate; held by one run from its grant to the end of its naming phase.
// databaseLock: database writes and every use of the shared macro, reader and writer state
//   (name expansion, unique-name creation, sidecars, XMP merge, JPEG verification, GPS).
#pragma once

#include <mutex>

namespace cw {

// All three are recursive, like the critical sections they stand for: an engine step that holds
// one may call a helper that takes it again for its own part.
extern std::recursive_mutex ingestionLock;
extern std::recursive_mutex copyOrderLock;
extern std::recursive_mutex databaseLock;

}  // namespace cw
