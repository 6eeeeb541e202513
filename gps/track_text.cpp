// Text helpers of the track readers.
#include "gps/track_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>

#include "foundation/text.h"

namespace cw::gps_text {

std::string_view trim(std::string_view s) {
  constexpr std::string_view kSpace = " \t\r\n\f\v";
  std::size_t first = s.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kSpace) - first + 1);
}

bool parse_double(std::string_view s, double& out) {
  s = trim(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty() || s.front() == '+') return false;
  double value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) return false;
  out = value;
  return true;
}

bool parse_digits(std::string_view s, int& out) {
  constexpr std::size_t kMaxDigits = 9;  // fits an int
  std::size_t n = 0;
  int value = 0;
  while (n < s.size() && n < kMaxDigits && s[n] >= '0' && s[n] <= '9')
    value = value * 10 + (s[n++] - '0');
  if (n == 0) return false;
  out = value;
  return true;
}

namespace {

enum class Utf16 { kNo, kLittle, kBig };

// Byte order of UTF-16 text without a byte-order mark: in ASCII text every character has a zero
// high byte, so one half of the byte positions is (almost) all zeros and the other has none.
Utf16 guess_utf16(std::string_view bytes) {
  constexpr std::size_t kLookedAt = 512;
  const std::size_t pairs = std::min(bytes.size(), kLookedAt) / 2;
  if (pairs == 0) return Utf16::kNo;
  std::size_t even_zeros = 0, odd_zeros = 0;
  for (std::size_t i = 0; i < pairs; ++i) {
    even_zeros += bytes[2 * i] == 0;
    odd_zeros += bytes[2 * i + 1] == 0;
  }
  if (odd_zeros * 2 >= pairs && even_zeros * 8 < pairs) return Utf16::kLittle;
  if (even_zeros * 2 >= pairs && odd_zeros * 8 < pairs) return Utf16::kBig;
  return Utf16::kNo;
}

// Unpaired surrogates become U+FFFD; an odd last byte is dropped.
std::string utf16_to_utf8(std::string_view bytes, bool little) {
  auto unit = [&](std::size_t i) -> char32_t {
    const auto lo = static_cast<unsigned char>(bytes[i + (little ? 0 : 1)]);
    const auto hi = static_cast<unsigned char>(bytes[i + (little ? 1 : 0)]);
    return static_cast<char32_t>(hi << 8 | lo);
  };
  constexpr char32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 &&
        unit(i + 2) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = kReplacement;
    }
    append_utf8(out, c);
  }
  return out;
}

}  // namespace

std::string utf8_track_text(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
  if (bytes.starts_with("\xFF\xFE")) return utf16_to_utf8(bytes.substr(2), true);
  if (bytes.starts_with("\xFE\xFF")) return utf16_to_utf8(bytes.substr(2), false);
  switch (guess_utf16(bytes)) {
    case Utf16::kLittle: return utf16_to_utf8(bytes, true);
    case Utf16::kBig: return utf16_to_utf8(bytes, false);
    case Utf16::kNo: break;
  }
  return std::string(bytes);
}

bool utc_seconds(int year, int month, int day, int hour, int minute, int second,
                 std::int64_t& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
    return false;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  out = static_cast<std::int64_t>(timegm(&tm));
  return true;
}

}  // namespace cw::gps_text
