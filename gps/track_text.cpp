// Text helpers of the track readers.
#include "gps/track_text.h"

#include <charconv>
#include <cmath>
#include <ctime>

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
