// ISO base media files: the brands of the file type box tell a CR3/CRM raw, a HEIF-family
// still image and a movie apart; each family has its own reader.
#include <string>
#include <string_view>

#include "imagefile/bmff.h"
#include "imagefile/tv_reader.h"

namespace cw {

namespace {

bool has_brand(const std::string& brands, std::string_view brand) {
  for (std::size_t i = 0; i + 4 <= brands.size(); i += 5)
    if (std::string_view(brands).substr(i, 4) == brand) return true;
  return false;
}

// Brands of still images stored as HEIF items (HEVC, AVC, AV1 and the structural brands).
bool is_heif_brand(std::string_view brand) {
  static constexpr std::string_view kBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx",
                                                 "heif", "mif1", "mif2", "msf1", "avif", "avis",
                                                 "avci", "avcs", "jpeg", "jpgs"};
  for (std::string_view b : kBrands)
    if (b == brand) return true;
  return false;
}

}  // namespace

bool TV_Reader::read_bmff(bool quick, bool macros) {
  BoxWalker walker(*source_);
  std::string major, compatible;
  if (!walker.file_type(major, compatible)) return fail(walker.error());
  print("ISO base media file\n\tMajor brand: %s\n\tCompatible brands: %s\n", major.c_str(),
        compatible.c_str());
  if (major == "crx ") return read_cr3(walker, quick, macros);
  // A HEIF image names its structural brand (mif1) among the compatible ones; an image
  // sequence (msf1) or a movie that also carries one is still read as a movie when its major
  // brand is a movie's.
  if (is_heif_brand(major) ||
      (has_brand(compatible, "mif1") && major != "qt  " && !has_brand(compatible, "isom")))
    return read_heif(walker, quick, macros);
  return read_movie(walker, quick, macros);
}

}  // namespace cw
