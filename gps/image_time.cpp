// Capture times of images for GPS matching.
#include "gps/image_time.h"

#include <ctime>

#include "foundation/exif_time.h"
#include "imagefile/tv_reader.h"

namespace cw {

std::optional<std::int64_t> exif_text_seconds(const std::string& value) {
  std::tm fields{};
  if (exif_time_fields(value, fields) != ExifTime::kValid) return std::nullopt;
  return static_cast<std::int64_t>(timegm(&fields));
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
