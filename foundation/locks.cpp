// Definitions of the program-wide locks (see locks.h for what each guards).
#include "foundation/locks.h"

namespace cw {

std::recursive_mutex ingestionLock;
std::recursive_mutex copyOrderLock;
std::recursive_mutex databaseLock;

}  // namespace cw
