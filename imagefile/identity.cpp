// Capture and image identity texts, and capture date/time stamps.
#include "imagefile/identity.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "foundation/exif_time.h"
#include "platform/camera_source.h"

namespace cw {

std::string capture_identity_text(const TV_Image& im) {
  std::string s = im.date_time_digitized;
  if (!im.subsec_time_digitized.empty()) s += "." + im.subsec_time_digitized;
  if (!im.date_time.empty() && im.date_time != im.date_time_digitized) s += "/" + im.date_time;
  if (s.size() > kCaptureIdentityLimit) s.resize(kCaptureIdentityLimit);
  return s;
}

std::string capture_identity(TV_Reader& reader, const std::string& path) {
  // A failed read still leaves what was read before the failure, which identifies the capture.
  reader.open(path, true, false);
  const TV_Image* im = reader.image();
  return im ? capture_identity_text(*im) : std::string();
}

std::string image_identity_text(TV_Reader& reader, const std::string& path) {
  long long size = 0;
  std::time_t modified = 0;
  bool have_time = false;
  if (is_camera_path(path)) {
    CameraFileInfo info;
    if (stat_camera_path(reader.cameras(), path, info)) {
      size = static_cast<long long>(info.size);
      modified = info.modified;
      have_time = true;
    }
  } else {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
      size = static_cast<long long>(st.st_size);
      modified = st.st_mtime;
      have_time = true;
    }
  }
  char when[64] = "[no modtime]";
  std::tm tm{};
  if (have_time && localtime_r(&modified, &tm)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
  std::string capture = capture_identity(reader, path);
  if (is_camera_path(path)) reader.close_source();
  if (capture.empty() || capture == "/") capture = "[no exif time]";
  char buf[kImageIdentityLimit + 1];
  std::snprintf(buf, sizeof buf, "%s/%lld/%s/%s", "", size, when, capture.c_str());
  return buf;
}

std::string exif_datetime_stamp(const std::string& value) { return exif_time_stamp(value); }

std::string capture_datetime(const TV_Image& im) {
  for (const char* name : {"DateTimeOriginal", "DateTimeDigitized", "DateTimeChanged"}) {
    const MacroPair* p = im.find_pair(name);
    if (p && !exif_date_absent(p->value)) return exif_datetime_stamp(p->value);
  }
  return {};
}

}  // namespace cw
