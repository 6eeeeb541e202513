// Synthetic camera files for the reader's tests: TIFF directories in either byte order placed
// at chosen offsets (so fault cases can point anywhere), JPEG wrappers, and a reader that
// keeps its dump.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "imagefile/tv_reader.h"

namespace cw::test {

inline std::string be16(std::uint32_t v) {
  return std::string{static_cast<char>(v >> 8), static_cast<char>(v)};
}
inline std::string le16(std::uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8)};
}
inline std::string le32(std::uint32_t v) { return le16(v & 0xffff) + le16(v >> 16); }

struct TiffEntry {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  std::string data;  // values in file byte order; more than 4 bytes go out of line
};

class TiffBuilder {
 public:
  explicit TiffBuilder(bool big, std::uint16_t magic = 42, std::uint32_t first = 8) : big_(big) {
    bytes_ = std::string(big ? "MM" : "II") + u16(magic) + u32(first);
  }
  std::string u16(std::uint32_t v) const { return big_ ? be16(v) : le16(v); }
  std::string u32(std::uint32_t v) const {
    return big_ ? be16(v >> 16) + be16(v & 0xffff) : le32(v);
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
    put(at, d + u32(next));
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

// JPEG: SOI, optional JFIF APP0, APP1 "Exif" holding the TIFF bytes, EOI.
inline std::string jpeg_with_exif(const std::string& tiff, bool jfif_first) {
  std::string j = "\xFF\xD8";
  if (jfif_first)
    j += std::string("\xFF\xE0") + be16(16) + std::string("JFIF\0\x01\x02\x01\0\x48\0\x48\0\0", 14);
  j += std::string("\xFF\xE1") + be16(static_cast<std::uint32_t>(tiff.size() + 8)) +
       std::string("Exif\0\0", 6) + tiff;
  return j + "\xFF\xD9";
}

// A reader that keeps what it prints; each open starts a fresh dump.
struct DumpReader {
  TV_Reader r;
  std::string dump;
  explicit DumpReader(bool prefer_largest = false) : r(prefer_largest) {
    r.set_print(string_sink(dump));
  }
  bool open(const std::string& bytes, const char* name, bool quick = false, bool macros = false) {
    dump.clear();
    return r.open_bytes(bytes, name, quick, macros);
  }
  // Why the read failed; "<read>" when it did not.
  std::string error(const std::string& bytes, const char* name, bool quick = false,
                    bool macros = false) {
    return open(bytes, name, quick, macros) ? "<read>" : r.message();
  }
  // The first macro value of each name, joined by "|"; "<none>" for a missing one.
  std::string values(std::initializer_list<const char*> names) const {
    std::string out;
    for (const char* name : names) {
      const MacroPair* p = r.image() ? r.image()->find_pair(name) : nullptr;
      out += (out.empty() ? "" : "|") + (p ? p->value : "<none>");
    }
    return out;
  }
};

}  // namespace cw::test
