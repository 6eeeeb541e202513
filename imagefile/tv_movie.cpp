// Movies in ISO base media files (MP4, MOV, M4V, 3GP).
#include "imagefile/bmff.h"
#include "imagefile/tv_reader.h"

namespace cw {

bool TV_Reader::read_movie(BoxWalker&, bool, bool) { return fail("movie files are not read yet"); }

}  // namespace cw
