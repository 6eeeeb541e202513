// The program-wide database lock.
//
// databaseLock: database writes and every use of the shared macro, reader and writer state
//   (name expansion, unique-name creation, sidecars, XMP merge, JPEG verification, GPS).
//   Recursive, like the critical section it stands for: an engine step that holds it may call
//   a helper that takes it again for its own part.
//
// Slot records, the order gate and number ranges carry their own locks
// (ingest/slot_control.h, ingest/order_gate.h, ingest/number_range.h).
#pragma once

#include <mutex>

namespace cw {

extern std::recursive_mutex databaseLock;

}  // namespace cw
