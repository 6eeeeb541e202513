// EXIF values for macros: the EXIF macro names, the lookup of one value of an image, the
// capture date/time, and the cache of the last image read behind them.
//
// The cache keeps the pairs of the last image the reader (imagefile/) read, so that the many
// EXIF macros of one image name parse the file once. Each macro environment keeps its own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "metadata/macro_environment.h"

namespace cw {

// One EXIF macro name and the TIFF tag whose value it carries.
struct ExifMacroTag {
  const char* name;
  std::uint16_t tag;
};
// The 42 EXIF macro names, in the order the reader's table lists them.
extern const ExifMacroTag kExifMacroTags[42];
// True when `name` is an EXIF macro name (compared without regard to case).
bool is_exif_macro_name(std::string_view name);

// Reads the image at `path` in the reader's quick mode and records its EXIF macro pairs;
// false with the reader's message when the image cannot be read. `video_times_local` is the
// reader's setting for movie times kept in UTC; "ptp/" paths are read on `cameras` (null: no
// camera).
bool read_image_macro_pairs(const std::string& path, ExifPairs& pairs, std::string& message,
                            bool video_times_local, CameraSource* cameras);

// True for the video and sound files cards hold beside the images that the reader does not
// read (AVI, MPG, WAV, ...; it reads the movies of today's cameras): the reader cannot read
// them by design, so they have no EXIF values and are dated by their file
// times without a word in the log for each.
bool has_no_exif_by_design(std::string_view path);

// The pairs of the image at `path`, read afresh with the given movie-time setting and camera
// (null: none). A failure logs "Failed to open image file: %s (%s)"; a file that has no EXIF
// by design gives false and logs nothing. (`cardwright exif` shows an image's pairs.)
bool read_image_exif_logged(const std::string& path, ExifPairs& pairs, bool video_times_local,
                            CameraSource* cameras);

// The value of the pair named `name` (compared without regard to case); empty when there is
// none.
std::optional<std::string> exif_pair_value(const ExifPairs& pairs, std::string_view name);

// The EXIF value named `name` of the image at `path` (none: no image; the lowered name in
// square brackets comes back). Names: the EXIF macro names, "datetime" for DateTimeOriginal,
// the Month and Weekday variants of the three dates, "MakeFirstWord" and "SerialNumber".
// Dates of the EXIF form come back as "YYYYMMDD_hhmmss", or as month or weekday names.
// An unknown name gives "[Unknown macro: NAME]"; an unreadable image an empty text.
std::string exif_macro_value(MacroEnvironment& env, std::string_view name,
                             const std::optional<std::string>& path);
std::string exif_macro_value(std::string_view name, const std::optional<std::string>& path);

// The capture date/time of an image as "YYYYMMDD_hhmmss": DateTimeOriginal, else
// DateTimeDigitized; nothing when the image has neither.
std::optional<std::string> exif_capture_datetime(MacroEnvironment& env, const std::string& path);
std::optional<std::string> exif_capture_datetime(const std::string& path);

}  // namespace cw
