// Canon's CR3/CRM raws and HEIF-family still images.
#include "imagefile/bmff.h"
#include "imagefile/tv_reader.h"

namespace cw {

bool TV_Reader::read_cr3(BoxWalker&, bool, bool) { return fail("CR3 files are not read yet"); }
bool TV_Reader::read_heif(BoxWalker&, bool, bool) { return fail("HEIF files are not read yet"); }

}  // namespace cw
