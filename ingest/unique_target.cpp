// Unique first-copy names and the duplicate check.
#include "ingest/unique_target.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "foundation/fs.h"
#include "foundation/sysio.h"
#include "imagefile/identity.h"
#include "imagefile/tv_reader.h"
#include "platform/camera_source.h"

namespace cw {

namespace {

int create_exclusive(const std::string& path) {
  return sysio().open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_TRUNC | O_CLOEXEC, 0666);
}

// The target split where the suffix goes: before an extension of exactly three characters,
// else at the end.
std::size_t suffix_position(const std::string& target) {
  std::size_t dot = target.rfind('.');
  if (dot == std::string::npos || target.size() - dot - 1 != 3) return target.size();
  for (std::size_t i = dot + 1; i < target.size(); ++i)
    if (is_separator(target[i])) return target.size();
  return dot;
}

}  // namespace

bool file_identity(const std::string& path, std::string& identity) {
  long long size = 0;
  std::time_t modified = 0;
  if (is_camera_path(path)) {
    CameraFileInfo info;
    if (!camera_source().stat(path, info)) return false;
    size = static_cast<long long>(info.size);
    modified = info.modified;
  } else {
    struct stat st;
    if (sysio().stat(path.c_str(), &st) != 0) return false;
    size = static_cast<long long>(st.st_size);
    modified = st.st_mtime;
  }
  std::tm local{};
  char when[32];
  if (!localtime_r(&modified, &local) ||
      std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local) == 0)
    return false;
  TV_Reader reader;
  if (!reader.open(path, true, false)) return false;
  std::string capture = reader.image() ? capture_identity_text(*reader.image()) : std::string();
  if (capture.empty()) capture = "[no exif time]";
  identity = std::to_string(size) + "/" + when + "/" + capture;
  return true;
}

bool same_image(const std::string& a, const std::string& b) {
  std::string ia, ib;
  return file_identity(a, ia) && file_identity(b, ib) && ia == ib;
}

int open_unique_target(std::string& target, EngineContext& ctx, bool& duplicate,
                       const std::string& source) {
  duplicate = false;
  const std::size_t at = suffix_position(target);
  const std::string head = target.substr(0, at), tail = target.substr(at);
  std::string candidate = target;
  for (int n = 1; n <= kMaxUniqueSuffix; ++n) {
    int fd = create_exclusive(candidate);
    if (fd >= 0) {
      target = candidate;
      return fd;
    }
    if (errno != EEXIST) return -1;
    if (n == 1 && same_image(source, candidate)) {
      duplicate = true;
      return -1;
    }
    char digits[16];
    std::snprintf(digits, sizeof digits, "_%05d", n);
    candidate = head + digits + tail;
  }
  ctx.report_append("\nERROR: Can't make unique name. Change file name preference.\n");
  errno = 0;
  return -1;
}

}  // namespace cw
