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
  std::tm fields{};
  std::size_t used = 0;
  if (seconds == 0 || exif_time_fields(value, fields, &used) != ExifTime::kValid) return value;
  // Calendar arithmetic: the clock time read as UTC, moved, and written back as UTC.
  constexpr std::int64_t kLimit = 400LL * 366 * 86400 * 25;  // far beyond years 1 to 9999
  if (seconds <= -kLimit || seconds >= kLimit) return value;
  const std::time_t moved = timegm(&fields) + static_cast<std::time_t>(seconds);
  std::tm out{};
  if (!gmtime_r(&moved, &out) || out.tm_year + 1900 < 1 || out.tm_year + 1900 > 9999) return value;
  char text[32];
  std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", out.tm_year + 1900,
                out.tm_mon + 1, out.tm_mday, out.tm_hour, out.tm_min, out.tm_sec);
  return text + value.substr(used);
}

}  // namespace cw
