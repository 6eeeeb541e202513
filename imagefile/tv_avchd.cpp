// AVCHD transport streams (.MTS, .M2TS).
#include "imagefile/tv_reader.h"

namespace cw {

bool TV_Reader::read_avchd(bool, bool) { return fail("AVCHD streams are not read yet"); }

}  // namespace cw
