// The capture time of an image for GPS matching: its EXIF DateTimeOriginal (else
// DateTimeDigitized), read straight from the file and taken as if the camera's clock showed
// UTC. The store's offset then turns it into real UTC, so no daylight-saving rule of the
// machine's time zone ever shifts it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cw {

// Seconds of the camera's clock read as UTC; nothing when the image has no readable date.
// video_times_local: a movie header's UTC time is taken as the camera's local time (otherwise
// it is shown in the computer's zone, as everywhere else).
std::optional<std::int64_t> image_camera_time(const std::string& path, bool video_times_local);

// "YYYY:MM:DD hh:mm:ss" as seconds, read as UTC; nothing when it is not such a date.
std::optional<std::int64_t> exif_text_seconds(const std::string& value);

}  // namespace cw
