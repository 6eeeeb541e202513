// The Sigma X3F file: its header, the section directory found through the file's last four
// bytes, and the property section whose named values become macro pairs.
#pragma once

#include "imagefile/tv_reader.h"

namespace cw {

class TV_IFD_X3F : public TV_IFD {
 public:
  TV_IFD_X3F(TV_Reader& reader, int depth) : TV_IFD(reader, depth) {}
  // Reads and prints the header and the directory offset from the end of the file.
  bool read_header(std::uint32_t& directory_offset);
  bool read(std::uint32_t offset) override;
  bool read_all(std::uint32_t offset, const char* kind, bool quick, bool macros) override;

 private:
  bool read_properties(std::uint32_t offset, std::uint32_t length, bool macros);
};

}  // namespace cw
