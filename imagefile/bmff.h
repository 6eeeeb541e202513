// The box structure of ISO base media files (CR3 and CRM raws, HEIF/HEIC/AVIF images, MP4,
// MOV, 3GP movies): reading one box header at a time inside its parent, with every size
// checked against the parent and the file, and a budget that bounds the work any input can
// cause. The readers of each family walk the boxes they need with it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "imagefile/byte_source.h"

namespace cw {

// Boxes nested deeper than this are not entered.
inline constexpr int kMaxBoxDepth = 16;
// At most this many box headers are read from one file, whatever its structure.
inline constexpr int kMaxBoxHeaders = 20000;
// Payloads read whole into memory (item data, XML, key tables) are at most this long.
inline constexpr std::uint64_t kMaxBoxPayloadRead = 64ull << 20;

// A box type as its four characters ("moov", "uuid", "\xa9mak").
using FourCC = std::array<char, 4>;
constexpr FourCC fourcc(const char (&s)[5]) { return {s[0], s[1], s[2], s[3]}; }

struct Box {
  FourCC type{};
  std::uint64_t start = 0;    // first byte of the header
  std::uint64_t payload = 0;  // first byte after the header (and after a uuid's 16 bytes)
  std::uint64_t end = 0;      // one past the last byte
  std::array<std::uint8_t, 16> uuid{};  // for "uuid" boxes

  std::uint64_t payload_size() const { return end - payload; }
  bool is(const char (&s)[5]) const { return type == fourcc(s); }
};

// Reads boxes from one source. Not thread-safe; one walker per open file.
class BoxWalker {
 public:
  explicit BoxWalker(ByteSource& source) : source_(source) {}

  // Reads the box header at `position`, which must lie inside [position, parent_end). A size
  // of 0 means "to the end of the parent"; a size of 1 means a 64-bit size follows. False,
  // with error() set, when the header is short, the size is smaller than the header, the box
  // overruns its parent or the header budget is spent.
  bool read_header(std::uint64_t position, std::uint64_t parent_end, Box& box);

  // Finds the first child of [begin, end) with the given type. False when there is none or
  // the children are malformed (error() tells which).
  bool find(std::uint64_t begin, std::uint64_t end, const char (&type)[5], Box& found);

  // Calls visit(box) for each child of [begin, end) in order; visit returns false to stop.
  // False when a child header is malformed (the children before it were visited).
  template <typename Visit>
  bool for_each(std::uint64_t begin, std::uint64_t end, Visit&& visit) {
    std::uint64_t position = begin;
    while (position < end) {
      Box box;
      if (!read_header(position, end, box)) return false;
      if (!visit(box)) return true;
      position = box.end;
    }
    return true;
  }

  // Reads `n` bytes at `position` into `out`; false when they are not all in the source or n
  // exceeds kMaxBoxPayloadRead.
  bool read_at(std::uint64_t position, std::uint64_t n, std::string& out);
  bool read_at(std::uint64_t position, void* out, std::size_t n);
  // Big-endian integers at a position; false when short.
  bool u8(std::uint64_t position, std::uint8_t& v);
  bool u16(std::uint64_t position, std::uint16_t& v);
  bool u32(std::uint64_t position, std::uint32_t& v);
  bool u64(std::uint64_t position, std::uint64_t& v);
  // An unsigned big-endian integer of 0, 1, 2, 4 or 8 bytes (as item locations give them).
  bool uint_of_size(std::uint64_t position, int bytes, std::uint64_t& v);

  // The first box of the file when it is "ftyp": its major brand and compatible brands as
  // text (four characters each). False for files that do not start with "ftyp".
  bool file_type(std::string& major_brand, std::string& compatible_brands);

  ByteSource& source() { return source_; }
  std::uint64_t size() const { return source_.size(); }
  const char* error() const { return error_; }
  bool fail(const char* message) {
    error_ = message;
    return false;
  }

 private:
  ByteSource& source_;
  int headers_read_ = 0;
  const char* error_ = "";
};

// The type as printable text (other bytes as '?').
std::string fourcc_text(const FourCC& type);

// Seconds since 1904-01-01 00:00 UTC (movie times) as seconds since 1970; false for 0 (the
// "not set" value) or times before 1970.
bool movie_time_to_unix(std::uint64_t seconds_since_1904, std::int64_t& unix_seconds);

}  // namespace cw
