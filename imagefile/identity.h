// The texts that identify an image to the rest of the program: the capture identity (the
// digitized time with sub-seconds and the change time), the image identity used by naming
// (size, modification time, capture identity), and the capture date/time "YYYYMMDD_hhmmss".
#pragma once

#include <string>

#include "imagefile/tv_reader.h"

namespace cw {

inline constexpr std::size_t kCaptureIdentityLimit = 99;
inline constexpr std::size_t kImageIdentityLimit = 299;

// DateTimeDigitized + "." + SubSecTimeDigitized + "/" + DateTime (the parts that apply) of a
// parsed image, at most 99 characters.
std::string capture_identity_text(const TV_Image& image);
// Opens `path` in quick mode and gives its capture identity ("" when it cannot be read).
std::string capture_identity(TV_Reader& reader, const std::string& path);
// "/size/modification time/capture identity", at most 299 characters; a camera path is
// examined and read on the reader's camera, and its stream closed afterwards.
std::string image_identity_text(TV_Reader& reader, const std::string& path);

// An EXIF date/time ("YYYY:MM:DD hh:mm:ss") as "YYYYMMDD_hhmmss", read as local time;
// "00000000_000000" when the calendar conversion fails; any other text is returned unchanged.
std::string exif_datetime_stamp(const std::string& value);
// The capture date/time of a parsed image from its macro pairs: DateTimeOriginal, else
// DateTimeDigitized, else DateTimeChanged; "" when none is there.
std::string capture_datetime(const TV_Image& image);

}  // namespace cw
