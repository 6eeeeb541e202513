// Definition of the program-wide database lock (see locks.h for what it guards).
#include "foundation/locks.h"

namespace cw {

std::recursive_mutex databaseLock;

}  // namespace cw
