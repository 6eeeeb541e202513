// MD5 after RFC 1321: 64-byte blocks, four rounds of sixteen steps, little-endian words.
#include "foundation/md5.h"

#include <cstring>

namespace cw {

namespace {

// Per-step left rotations, four per round.
constexpr std::uint32_t kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23},
                                        {6, 10, 15, 21}};

// floor(abs(sin(i + 1)) * 2^32), as the RFC tabulates them.
constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};

std::uint32_t rotate_left(std::uint32_t x, std::uint32_t n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void Md5::block(const std::uint8_t* p) {
  std::uint32_t w[16];
  for (int i = 0; i < 16; ++i)
    w[i] = static_cast<std::uint32_t>(p[4 * i]) | static_cast<std::uint32_t>(p[4 * i + 1]) << 8 |
           static_cast<std::uint32_t>(p[4 * i + 2]) << 16 |
           static_cast<std::uint32_t>(p[4 * i + 3]) << 24;
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t f;
    int g;
    switch (i / 16) {
      case 0: f = (b & c) | (~b & d); g = i; break;
      case 1: f = (d & b) | (~d & c); g = (5 * i + 1) % 16; break;
      case 2: f = b ^ c ^ d; g = (3 * i + 5) % 16; break;
      default: f = c ^ (b | ~d); g = (7 * i) % 16; break;
    }
    const std::uint32_t next = b + rotate_left(a + f + kSine[i] + w[g], kShift[i / 16][i % 4]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Md5::update(const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::size_t used = static_cast<std::size_t>(length_ % 64);
  length_ += n;
  if (used > 0) {
    const std::size_t take = n < 64 - used ? n : 64 - used;
    std::memcpy(buffer_.data() + used, p, take);
    p += take;
    n -= take;
    used += take;
    if (used < 64) return;
    block(buffer_.data());
  }
  for (; n >= 64; p += 64, n -= 64) block(p);
  if (n > 0) std::memcpy(buffer_.data(), p, n);
}

std::array<std::uint8_t, 16> Md5::finish() {
  const std::uint64_t bits = length_ * 8;
  // A one bit, zeros up to 56 bytes into a block, then the length in bits.
  static constexpr std::uint8_t kPadding[64] = {0x80};
  const std::size_t used = static_cast<std::size_t>(length_ % 64);
  update(kPadding, used < 56 ? 56 - used : 120 - used);
  std::uint8_t tail[8];
  for (int i = 0; i < 8; ++i) tail[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  update(tail, 8);
  std::array<std::uint8_t, 16> out;
  for (int i = 0; i < 16; ++i) out[i] = static_cast<std::uint8_t>(state_[i / 4] >> (8 * (i % 4)));
  return out;
}

std::string md5_hex_upper(std::string_view data) {
  Md5 md5;
  md5.update(data.data(), data.size());
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (std::uint8_t byte : md5.finish()) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

}  // namespace cw
