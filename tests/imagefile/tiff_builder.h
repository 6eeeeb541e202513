// Synthetic camera files for the reader's tests: TIFF directories in either byte order placed
// at chosen offsets, wrapped as JPEG (EXIF or JFIF + EXIF), RAF or MRW when asked.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace cw::test {

struct TiffEntry {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  std::string data;  // values in file byte order; more than 4 bytes go out of line
};

class TiffBuilder {
 public:
  explicit TiffBuilder(bool big, std::uint16_t magic = 42, std::uint32_t first = 8) : big_(big) {
    bytes_ = big ? "MM" : "II";
    bytes_ += u16(magic) + u32(first);
  }
  std::string u16(std::uint32_t v) const {
    std::string s(2, '\0');
    s[big_ ? 0 : 1] = static_cast<char>(v >> 8);
    s[big_ ? 1 : 0] = static_cast<char>(v);
    return s;
  }
  std::string u32(std::uint32_t v) const {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[big_ ? 3 - i : i] = static_cast<char>(v >> (8 * i));
    return s;
  }
  TiffEntry ascii(std::uint16_t tag, const std::string& text) const {
    return {tag, 2, static_cast<std::uint32_t>(text.size() + 1), text + '\0'};
  }
  TiffEntry shorts(std::uint16_t tag, std::initializer_list<std::uint32_t> v) const {
    std::string d;
    for (auto x : v) d += u16(x);
    return {tag, 3, static_cast<std::uint32_t>(v.size()), d};
  }
  TiffEntry longs(std::uint16_t tag, std::vector<std::uint32_t> v) const {
    std::string d;
    for (auto x : v) d += u32(x);
    return {tag, 4, static_cast<std::uint32_t>(v.size()), d};
  }
  TiffEntry rational(std::uint16_t tag, std::uint32_t n, std::uint32_t d) const {
    return {tag, 5, 1, u32(n) + u32(d)};
  }
  // Writes a directory at `at`; out-of-line values go from `data_at` on.
  void ifd(std::uint32_t at, const std::vector<TiffEntry>& entries, std::uint32_t next,
           std::uint32_t data_at) {
    std::string d = u16(static_cast<std::uint32_t>(entries.size()));
    for (const TiffEntry& e : entries) {
      d += u16(e.tag) + u16(e.type) + u32(e.count);
      if (e.data.size() <= 4) {
        d += e.data + std::string(4 - e.data.size(), '\0');
      } else {
        d += u32(data_at);
        put(data_at, e.data);
        data_at += static_cast<std::uint32_t>(e.data.size() + (e.data.size() & 1));
      }
    }
    d += u32(next);
    put(at, d);
  }
  void put(std::uint32_t at, const std::string& d) {
    if (bytes_.size() < at + d.size()) bytes_.resize(at + d.size(), '\0');
    bytes_.replace(at, d.size(), d);
  }
  const std::string& bytes() const { return bytes_; }

 private:
  bool big_;
  std::string bytes_;
};

inline std::string be16(std::uint32_t v) {
  return std::string{static_cast<char>(v >> 8), static_cast<char>(v)};
}

// JPEG: SOI, optional JFIF APP0, APP1 "Exif" holding the TIFF bytes, EOI.
inline std::string jpeg_with_exif(const std::string& tiff, bool jfif_first) {
  std::string j = "\xFF\xD8";
  if (jfif_first)
    j += std::string("\xFF\xE0") + be16(16) + std::string("JFIF\0\x01\x02\x01\0\x48\0\x48\0\0", 14);
  j += std::string("\xFF\xE1") + be16(static_cast<std::uint32_t>(tiff.size() + 8)) +
       std::string("Exif\0\0", 6) + tiff;
  return j + "\xFF\xD9";
}

}  // namespace cw::test
