// EXIF date/time conversion shared by the reader and the macro language.
#include "foundation/exif_time.h"

#include <cstdio>

namespace cw {

ExifTime exif_time_local(const std::string& value, std::tm& local) {
  int y, mo, d, h, mi, s;
  if (std::sscanf(value.c_str(), "%d:%d:%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6)
    return ExifTime::kNotADate;
  // Camera junk such as "-2147483648:..." must not overflow the arithmetic below.
  constexpr int kLimit = 100000;
  for (int v : {y, mo, d, h, mi, s})
    if (v < -kLimit || v > kLimit) return ExifTime::kInvalid;
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = 0;
  std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1) || !localtime_r(&t, &local)) return ExifTime::kInvalid;
  // Taken as standard time above; during daylight saving the wall clock is an hour behind.
  if (local.tm_isdst > 0) {
    t -= 3600;
    if (!localtime_r(&t, &local)) return ExifTime::kInvalid;
  }
  return ExifTime::kValid;
}

std::string exif_time_stamp(const std::string& value) {
  std::tm local{};
  switch (exif_time_local(value, local)) {
    case ExifTime::kNotADate: return value;
    case ExifTime::kInvalid: return "00000000_000000";
    case ExifTime::kValid: break;
  }
  char out[32];
  if (std::strftime(out, sizeof out, "%Y%m%d_%H%M%S", &local) == 0) return "00000000_000000";
  return out;
}

}  // namespace cw
