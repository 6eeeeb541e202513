// The Canon CRW heap: a directory block at the end of each heap, entries of 10 bytes whose
// values lie in the heap or in the entry, and nested heaps read to any depth (up to the
// reader's nesting cap).
#pragma once

#include "imagefile/tv_reader.h"

namespace cw {

class TV_IFD_CRW : public TV_IFD {
 public:
  // A heap block of `length` bytes; read_all takes its absolute start.
  TV_IFD_CRW(TV_Reader& reader, int depth, std::uint32_t length)
      : TV_IFD(reader, depth), length_(length) {}
  bool read(std::uint32_t offset) override;
  bool read_all(std::uint32_t offset, const char* kind, bool quick, bool macros) override;

 private:
  bool handle(std::uint16_t id, const std::vector<std::uint8_t>& value, std::uint32_t size,
              bool macros);
  std::uint32_t length_;
};

}  // namespace cw
