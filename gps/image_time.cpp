// Capture times of images for GPS matching.
#include "gps/image_time.h"

#include <cstdio>

#include "foundation/exif_time.h"
#include "gps/track_text.h"
#include "imagefile/tv_reader.h"

namespace cw {

std::optional<std::int64_t> exif_text_seconds(const std::string& value) {
  int y, mo, d, h, mi, s;
  char tail;
  if (std::sscanf(value.c_str(), "%4d:%2d:%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) !=
      6)
    return std::nullopt;
  std::int64_t out = 0;
  if (!gps_text::utc_seconds(y, mo, d, h, mi, s, out)) return std::nullopt;
  return out;
}

std::optional<std::int64_t> image_camera_time(const std::string& path, bool video_times_local) {
  // A reader of our own: runs on several slots look up their images at the same time.
  TV_Reader reader;
  reader.set_video_times_local(video_times_local);
  reader.open(path, true, true);  // what was read before a failure still counts
  const TV_Image* image = reader.image();
  if (!image) return std::nullopt;
  for (const char* name : {"DateTimeOriginal", "DateTimeDigitized"}) {
    const MacroPair* pair = image->find_pair(name);
    if (!pair || exif_date_absent(pair->value)) continue;
    if (std::optional<std::int64_t> seconds = exif_text_seconds(pair->value)) return seconds;
  }
  return std::nullopt;
}

}  // namespace cw
