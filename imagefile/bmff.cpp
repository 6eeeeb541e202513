// Box headers of ISO base media files, read with every size checked.
#include "imagefile/bmff.h"

#include <cstring>

namespace cw {

namespace {
constexpr std::uint64_t kSmallHeader = 8;
constexpr std::uint64_t kLargeHeader = 16;
constexpr std::uint64_t kUuidLength = 16;
// Seconds from 1904-01-01 to 1970-01-01 (66 years, 17 of them leap years).
constexpr std::uint64_t kSeconds1904To1970 = 2082844800ull;
// The brands of a file type box are read up to this many.
constexpr std::uint64_t kMaxBrands = 64;
}  // namespace

std::string fourcc_text(const FourCC& type) {
  std::string text;
  for (char c : type) {
    const auto u = static_cast<unsigned char>(c);
    text += (u >= 0x20 && u < 0x7f) ? c : '?';
  }
  return text;
}

bool movie_time_to_unix(std::uint64_t seconds_since_1904, std::int64_t& unix_seconds) {
  if (seconds_since_1904 == 0 || seconds_since_1904 < kSeconds1904To1970) return false;
  const std::uint64_t since_1970 = seconds_since_1904 - kSeconds1904To1970;
  if (since_1970 > static_cast<std::uint64_t>(INT64_MAX)) return false;
  unix_seconds = static_cast<std::int64_t>(since_1970);
  return true;
}

bool BoxWalker::read_at(std::uint64_t position, void* out, std::size_t n) {
  if (position > size() || n > size() - position)
    return fail("box data beyond the end of the file");
  if (!source_.seek(position)) return fail("seek error");
  if (source_.read(out, n) != n) return fail("read error - file may be short");
  return true;
}

bool BoxWalker::read_at(std::uint64_t position, std::uint64_t n, std::string& out) {
  if (n > kMaxBoxPayloadRead) return fail("box data too large to read");
  out.resize(static_cast<std::size_t>(n));
  if (n == 0) return true;
  return read_at(position, out.data(), out.size());
}

bool BoxWalker::u8(std::uint64_t position, std::uint8_t& v) { return read_at(position, &v, 1); }

bool BoxWalker::u16(std::uint64_t position, std::uint16_t& v) {
  std::uint8_t b[2];
  if (!read_at(position, b, 2)) return false;
  v = static_cast<std::uint16_t>(b[0] << 8 | b[1]);
  return true;
}

bool BoxWalker::u32(std::uint64_t position, std::uint32_t& v) {
  std::uint8_t b[4];
  if (!read_at(position, b, 4)) return false;
  v = std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
  return true;
}

bool BoxWalker::u64(std::uint64_t position, std::uint64_t& v) {
  std::uint8_t b[8];
  if (!read_at(position, b, 8)) return false;
  v = 0;
  for (std::uint8_t x : b) v = v << 8 | x;
  return true;
}

bool BoxWalker::uint_of_size(std::uint64_t position, int bytes, std::uint64_t& v) {
  switch (bytes) {
    case 0: v = 0; return true;
    case 1: { std::uint8_t x; if (!u8(position, x)) return false; v = x; return true; }
    case 2: { std::uint16_t x; if (!u16(position, x)) return false; v = x; return true; }
    case 4: { std::uint32_t x; if (!u32(position, x)) return false; v = x; return true; }
    case 8: return u64(position, v);
    default: return fail("invalid field size in box");
  }
}

bool BoxWalker::read_header(std::uint64_t position, std::uint64_t parent_end, Box& box) {
  if (++headers_read_ > kMaxBoxHeaders) return fail("too many boxes");
  if (parent_end > size()) parent_end = size();
  if (position >= parent_end || parent_end - position < kSmallHeader)
    return fail("box header beyond its parent");
  std::uint8_t h[kSmallHeader];
  if (!read_at(position, h, sizeof h)) return false;
  const std::uint64_t size32 =
      std::uint64_t{h[0]} << 24 | std::uint64_t{h[1]} << 16 | std::uint64_t{h[2]} << 8 | h[3];
  box = Box{};
  std::memcpy(box.type.data(), h + 4, 4);
  box.start = position;
  std::uint64_t header = kSmallHeader;
  std::uint64_t length = 0;
  if (size32 == 0) {
    length = parent_end - position;
  } else if (size32 == 1) {
    if (parent_end - position < kLargeHeader) return fail("box header beyond its parent");
    if (!u64(position + kSmallHeader, length)) return false;
    header = kLargeHeader;
  } else {
    length = size32;
  }
  if (length < header) return fail("box smaller than its header");
  if (length > parent_end - position) return fail("box extends beyond its parent");
  if (box.is("uuid")) {
    if (length - header < kUuidLength) return fail("uuid box too short");
    if (!read_at(position + header, box.uuid.data(), kUuidLength)) return false;
    header += kUuidLength;
  }
  box.payload = position + header;
  box.end = position + length;
  return true;
}

bool BoxWalker::find(std::uint64_t begin, std::uint64_t end, const char (&type)[5], Box& found) {
  bool have = false;
  const bool ok = for_each(begin, end, [&](const Box& box) {
    if (!box.is(type)) return true;
    found = box;
    have = true;
    return false;
  });
  return ok && have;
}

bool BoxWalker::file_type(std::string& major_brand, std::string& compatible_brands) {
  Box box;
  if (!read_header(0, size(), box) || !box.is("ftyp")) return fail("not an ISO base media file");
  if (box.payload_size() < 8) return fail("file type box too short");
  std::string data;
  const std::uint64_t wanted =
      box.payload_size() < 8 + 4 * kMaxBrands ? box.payload_size() : 8 + 4 * kMaxBrands;
  if (!read_at(box.payload, wanted, data)) return false;
  major_brand = data.substr(0, 4);
  compatible_brands.clear();
  for (std::size_t i = 8; i + 4 <= data.size(); i += 4) {
    if (!compatible_brands.empty()) compatible_brands += ' ';
    compatible_brands += data.substr(i, 4);
  }
  return true;
}

}  // namespace cw
