// MD5 (RFC 1321), for the one place a file format asks for it: the identifier that ties the
// parts of an XMP packet too large for one JPEG segment together is the MD5 of the extended
// part. It is no content hash of ours (those are XXH3, content_hash.h) and no protection
// against anyone: only a digest the format defines.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cw {

class Md5 {
 public:
  Md5();
  void update(const void* data, std::size_t n);
  // The 16-byte digest; the object is spent afterwards.
  std::array<std::uint8_t, 16> finish();

 private:
  void block(const std::uint8_t* p);

  std::array<std::uint32_t, 4> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::uint64_t length_ = 0;  // bytes fed so far
};

// The digest of `data` as 32 upper-case hexadecimal digits.
std::string md5_hex_upper(std::string_view data);

}  // namespace cw
