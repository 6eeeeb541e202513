// The expander's image reader.
#include "imagefile/macro_reader.h"

#include "imagefile/tv_reader.h"
#include "metadata/macro_exif.h"

namespace cw {

bool read_image_macro_pairs(const std::string& path, ExifPairs& pairs, std::string& message) {
  TV_Reader reader;
  pairs.clear();
  if (!reader.open(path, true, true)) {
    message = reader.message();
    return false;
  }
  if (const TV_Image* image = reader.image())
    for (const MacroPair& p : image->macro_pairs) pairs.emplace_back(p.name, p.value);
  return true;
}

void connect_image_macro_reader() { install_image_macro_reader(&read_image_macro_pairs); }

}  // namespace cw
