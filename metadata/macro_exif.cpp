// EXIF values for macros and the cache of the last image read.
#include "metadata/macro_exif.h"

#include <strings.h>

#include <cstdio>
#include <ctime>
#include <mutex>

#include "foundation/exif_time.h"
#include "foundation/log.h"
#include "imagefile/tv_reader.h"
#include "metadata/macro_text.h"

namespace cw {

const ExifMacroTag kExifMacroTags[42] = {
    {"Actuations", 0xa7},
    {"ApertureValue", 0x9202},
    {"Artist", 0x13b},
    {"CameraSerialNumber", 0xc62f},
    {"Contrast", 0xa408},
    {"Copyright", 0x8298},
    {"CustomRendered", 0xa401},
    {"DateTimeChanged", 0x132},
    {"DateTimeOriginal", 0x9003},
    {"DateTimeDigitized", 0x9004},
    {"DigitalZoomRatio", 0xa404},
    {"ExposureBiasValue", 0x9204},
    {"ExposureMode", 0xa402},
    {"ExposureProgram", 0x8822},
    {"ExposureTime", 0x829a},
    {"Flash", 0x9209},
    {"FNumber", 0x829d},
    {"FocalLength", 0x920a},
    {"FocalLengthIn35mmFilm", 0xa405},
    {"GainControl", 0xa407},
    {"ImageUniqueID", 0xa420},
    {"ISOSpeedRatings", 0x8827},
    {"LightSource", 0x9208},
    {"Make", 0x10f},
    {"MeteringMode", 0x9207},
    {"Model", 0x110},
    {"MaxApertureValue", 0x9205},
    {"Orientation", 0x112},
    {"PhotometricInterpretation", 0x106},
    {"Saturation", 0xa409},
    {"SceneCaptureType", 0xa406},
    {"SceneType", 0xa301},
    {"SensingMethod", 0xa217},
    {"Sharpness", 0xa40a},
    {"ShutterSpeedValue", 0x9201},
    {"Software", 0x131},
    {"SubjectDistanceRange", 0xa40c},
    {"SubSecTime", 0x9290},
    {"SubSecTimeOriginal", 0x9291},
    {"SubSecTimeDigitized", 0x9292},
    {"WhiteBalance", 0xa403},
    {"MakerNote", 0x927c},
};

bool is_exif_macro_name(std::string_view name) {
  for (const ExifMacroTag& t : kExifMacroTags)
    if (equals_ignoring_case(name, t.name)) return true;
  return false;
}

// ---- the cached reader ----

namespace {

// Video and sound formats of cameras and recorders the reader does not read (it reads MOV,
// MP4, M4V, 3GP, INSV and AVCHD's MTS and M2TS).
const char* const kNoExifExtensions[] = {"AVI", "MPG", "MPEG", "WMV", "MKV", "WAV", "MP3",
                                         "M4A", "AAC", "WMA", "OGG", "FLAC", "AIF", "AIFF"};

}  // namespace

bool read_image_macro_pairs(const std::string& path, ExifPairs& pairs, std::string& message,
                            bool video_times_local, CameraSource* cameras) {
  TV_Reader reader;
  reader.set_video_times_local(video_times_local);
  reader.set_cameras(cameras);
  pairs.clear();
  if (!reader.open(path, true, true)) {
    message = reader.message();
    return false;
  }
  if (const TV_Image* image = reader.image())
    for (const MacroPair& p : image->macro_pairs) pairs.emplace_back(p.name, p.value);
  return true;
}


bool has_no_exif_by_design(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return false;
  const std::string_view ext = path.substr(dot + 1);
  for (const char* e : kNoExifExtensions)
    if (equals_ignoring_case(ext, e)) return true;
  return false;
}

bool read_image_exif_logged(const std::string& path, ExifPairs& pairs, bool video_times_local,
                            CameraSource* cameras) {
  pairs.clear();
  if (has_no_exif_by_design(path)) return false;
  std::string message;
  if (read_image_macro_pairs(path, pairs, message, video_times_local, cameras)) return true;
  pairs.clear();
  log_printf("Failed to open image file: %s (%s)", message.c_str(), path.c_str());
  return false;
}

bool LastImageExif::pairs_of(const std::string& path, bool video_times_local, ExifPairs& pairs,
                             const Reader& read) {
  if (has_no_exif_by_design(path)) return false;
  std::lock_guard<std::mutex> hold(mutex_);
  if (!valid_ || path_ != path || video_times_local_ != video_times_local) {
    valid_ = true;
    path_ = path;
    video_times_local_ = video_times_local;
    readable_ = read(path, pairs_);
    if (!readable_) pairs_.clear();
  }
  pairs = pairs_;
  return readable_;
}


bool MacroEnvironment::read_image_exif(const std::string& path, ExifPairs& pairs) {
  return read_image_exif_logged(path, pairs, video_times_local, cameras);
}

bool MacroEnvironment::image_exif(const std::string& path, ExifPairs& pairs) {
  return last_image_.pairs_of(path, video_times_local, pairs,
                              [this](const std::string& p, ExifPairs& out) {
                                return read_image_exif(p, out);
                              });
}

std::optional<std::string> exif_pair_value(const ExifPairs& pairs, std::string_view name) {
  for (const auto& [pair_name, pair_value] : pairs)
    if (equals_ignoring_case(pair_name, name)) return pair_value;
  return std::string();
}

std::optional<std::string> MacroEnvironment::image_exif_value(const std::string& path,
                                                              std::string_view name) {
  ExifPairs pairs;
  if (!image_exif(path, pairs)) return std::nullopt;
  return exif_pair_value(pairs, name);
}

// ---- values ----

namespace {

// An EXIF date "YYYY:MM:DD hh:mm:ss" as "YYYYMMDD_hhmmss", or as the month or weekday name.
// The date is taken as local wall-clock time whatever the daylight-saving rule says.
bool convert_exif_date(const std::string& value, bool month, bool weekday, std::string& out) {
  std::tm local{};
  switch (exif_time_local(value, local)) {
    case ExifTime::kNotADate: return false;
    case ExifTime::kInvalid: out = "00000000_000000"; return true;
    case ExifTime::kValid: break;
  }
  out = format_time(month ? "%B" : weekday ? "%A" : "%Y%m%d_%H%M%S", local);
  return true;
}

}  // namespace

std::string exif_macro_value(MacroEnvironment& env, std::string_view name,
                             const std::optional<std::string>& path) {
  const std::string lowered = to_lower(name);
  std::string mapped = lowered;
  bool month = false, weekday = false, first_word = false;
  if (mapped == "datetime") {
    mapped = "datetimeoriginal";
  } else if (mapped == "datetimeoriginalmonth" || mapped == "datetimedigitizedmonth" ||
             mapped == "datetimechangedmonth") {
    mapped.resize(mapped.size() - 5);
    month = true;
  } else if (mapped == "datetimeoriginalweekday" || mapped == "datetimedigitizedweekday" ||
             mapped == "datetimechangedweekday") {
    mapped.resize(mapped.size() - 7);
    weekday = true;
  } else if (mapped == "makefirstword") {
    mapped = "make";
    first_word = true;
  } else if (mapped == "serialnumber") {
    mapped = "cameraserialnumber";
  }
  if (!is_exif_macro_name(mapped)) return "[Unknown macro: " + mapped + "]";
  if (!path) return "[" + lowered + "]";

  std::optional<std::string> found = env.image_exif_value(*path, mapped);
  if (!found) return {};
  std::string value = std::move(*found);
  if (first_word) {
    std::size_t space = value.find(' ');
    if (space != std::string::npos) value.resize(space);
  }
  if (mapped.rfind("datetime", 0) == 0) {
    std::string converted;
    if (convert_exif_date(value, month, weekday, converted)) value = converted;
  }
  return value;
}

std::string exif_macro_value(std::string_view name, const std::optional<std::string>& path) {
  MacroEnvironment env;
  return exif_macro_value(env, name, path);
}

std::optional<std::string> exif_capture_datetime(MacroEnvironment& env, const std::string& path) {
  std::string value = exif_macro_value(env, "datetimeoriginal", path);
  if (exif_date_absent(value)) value = exif_macro_value(env, "datetimedigitized", path);
  if (exif_date_absent(value)) return std::nullopt;
  return value;
}

std::optional<std::string> exif_capture_datetime(const std::string& path) {
  MacroEnvironment env;
  return exif_capture_datetime(env, path);
}

}  // namespace cw
