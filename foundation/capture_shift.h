// Corrections of capture times for images whose camera clock was wrong.
//
// A camera whose clock was off writes the wrong time in two places: into the file (EXIF dates,
// a movie's header time) and, through the card's file system, into the file's modification
// time. Putting several cameras on one clock may already have moved the modification times
// (the multi-camera sync writes them), while the times inside the file stay as the camera wrote
// them, since the source is never modified. So each image carries two corrections, one per
// clock, and a run adds them to whatever it dates the image by for its name and folder.
//
// Images are known by their file (device and inode), whatever path reaches them: a list of
// chosen images is resolved and named below its root before it is named.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace cw {

struct CaptureShift {
  // Seconds added to the times the camera wrote into the file.
  std::int64_t recorded = 0;
  // Seconds added to the file's modification time where the image is dated by it; 0 when a
  // sync has already moved that time.
  std::int64_t file_time = 0;

  bool operator==(const CaptureShift&) const = default;
};

class CaptureShifts {
 public:
  void set(dev_t device, ino_t inode, CaptureShift shift);
  // The correction of the file at `path` (links followed); none when it has none or the file
  // cannot be examined.
  std::optional<CaptureShift> find(const std::string& path) const;
  bool empty() const { return by_file_.empty(); }
  std::size_t size() const { return by_file_.size(); }

 private:
  std::map<std::pair<dev_t, ino_t>, CaptureShift> by_file_;
};

// An EXIF date "YYYY:MM:DD hh:mm:ss" moved by `seconds` on the calendar (the camera's wall
// clock knows no zone, so no summer-time rule applies). Anything after the seconds is kept.
// A text that names no valid date, or a result outside the years 1 to 9999, stays unchanged.
std::string shift_exif_date(const std::string& value, std::int64_t seconds);

}  // namespace cw
