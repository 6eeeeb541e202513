// Capture-time corrections by file, and EXIF dates moved on the calendar.
#include "foundation/capture_shift.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "foundation/exif_time.h"
#include "foundation/sysio.h"

namespace cw {

void CaptureShifts::set(dev_t device, ino_t inode, CaptureShift shift) {
  if (shift == CaptureShift{})
    by_file_.erase({device, inode});
  else
    by_file_[{device, inode}] = shift;
}

std::optional<CaptureShift> CaptureShifts::find(const std::string& path) const {
  if (by_file_.empty()) return std::nullopt;
  struct stat st;
  if (sysio().stat(path.c_str(), &st) != 0) return std::nullopt;
  const auto it = by_file_.find({st.st_dev, st.st_ino});
  if (it == by_file_.end()) return std::nullopt;
  return it->second;
}

std::string shift_exif_date(const std::string& value, std::int64_t seconds) {
  int y, mo, d, h, mi, s, used = 0;
  if (seconds == 0 || exif_date_absent(value) ||
      std::sscanf(value.c_str(), "%4d:%2d:%2d %2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &used) !=
          6)
    return value;
  std::tm fields{};
  fields.tm_year = y - 1900;
  fields.tm_mon = mo - 1;
  fields.tm_mday = d;
  fields.tm_hour = h;
  fields.tm_min = mi;
  fields.tm_sec = s;
  // Calendar arithmetic: the clock time read as UTC, moved, and written back as UTC.
  constexpr std::int64_t kLimit = 400LL * 366 * 86400 * 25;  // far beyond years 1 to 9999
  if (seconds <= -kLimit || seconds >= kLimit) return value;
  const std::time_t moved = timegm(&fields) + static_cast<std::time_t>(seconds);
  std::tm out{};
  if (!gmtime_r(&moved, &out) || out.tm_year + 1900 < 1 || out.tm_year + 1900 > 9999) return value;
  char text[32];
  std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", out.tm_year + 1900,
                out.tm_mon + 1, out.tm_mday, out.tm_hour, out.tm_min, out.tm_sec);
  return text + value.substr(static_cast<std::size_t>(used));
}

}  // namespace cw
