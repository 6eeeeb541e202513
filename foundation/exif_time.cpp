// EXIF date/time conversion shared by the reader and the macro language.
#include "foundation/exif_time.h"

#include <cstdio>
#include <cstdlib>

namespace cw {

ExifTime exif_time_fields(const std::string& value, std::tm& fields, std::size_t* length) {
  int y, mo, d, h, mi, s, used = 0;
  if (std::sscanf(value.c_str(), "%d:%d:%d %d:%d:%d%n", &y, &mo, &d, &h, &mi, &s, &used) != 6)
    return ExifTime::kNotADate;
  if (length) *length = static_cast<std::size_t>(used);
  // A camera whose clock was never set writes "0000:00:00 00:00:00", and junk such as
  // "-2147483648:..." occurs too: the system's conversion would roll such fields into some
  // other date (year 0 becomes 30 November of year -1), so they name no time at all.
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || h < 0 || h > 23 ||
      mi < 0 || mi > 59 || s < 0 || s > 59)
    return ExifTime::kInvalid;
  if (mo == 2 && d == 29 && (y % 4 != 0 || (y % 100 == 0 && y % 400 != 0)))
    return ExifTime::kInvalid;
  fields = std::tm{};
  fields.tm_year = y - 1900;
  fields.tm_mon = mo - 1;
  fields.tm_mday = d;
  fields.tm_hour = h;
  fields.tm_min = mi;
  fields.tm_sec = s;
  return ExifTime::kValid;
}

ExifTime exif_time_local(const std::string& value, std::tm& local) {
  std::tm tm{};
  if (const ExifTime read = exif_time_fields(value, tm); read != ExifTime::kValid) return read;
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

bool exif_date_absent(const std::string& value) {
  if (value.find_first_not_of(std::string("0 :_\0", 5)) == std::string::npos) return true;
  std::tm local{};
  return exif_time_local(value, local) == ExifTime::kInvalid;
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

void keep_system_zone() {
  if (std::getenv("TZ") == nullptr) ::setenv("TZ", ":/etc/localtime", 0);
  ::tzset();
}

}  // namespace cw
