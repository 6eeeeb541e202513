// Unique first-copy names and the duplicate check.
#include "ingest/unique_target.h"

#include <sys/stat.h>

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

// The position where a suffix goes: before an extension of exactly three characters, else
// the end.
std::size_t suffix_position(const std::string& target) {
  std::size_t dot = target.rfind('.');
  if (dot == std::string::npos || target.size() - dot - 1 != 3) return target.size();
  for (std::size_t i = dot + 1; i < target.size(); ++i)
    if (is_separator(target[i])) return target.size();
  return dot;
}

// A name is taken by anything, a link that leads nowhere included.
bool taken(const std::string& path) {
  struct stat st;
  return sysio().lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::string suffixed_name(const std::string& target, int n) {
  if (n == 0) return target;
  const std::size_t at = suffix_position(target);
  char digits[16];
  std::snprintf(digits, sizeof digits, "_%05d", n);
  return target.substr(0, at) + digits + target.substr(at);
}

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

TargetName find_target_name(const std::string& target, const std::string& source, int from,
                            std::string& source_identity) {
  TargetName name;
  for (int n = from; n <= kMaxUniqueSuffix; ++n) {
    std::string candidate = suffixed_name(target, n);
    if (!taken(candidate)) {
      name.path = std::move(candidate);
      name.suffix = n;
      return name;
    }
    // A source without an identity (unreadable, not an image) is never a duplicate.
    if (source_identity.empty() && !file_identity(source, source_identity))
      source_identity.assign(1, '-');
    std::string identity;
    if (source_identity != "-" && file_identity(candidate, identity) &&
        identity == source_identity) {
      name.duplicate = std::move(candidate);
      return name;
    }
  }
  name.exhausted = true;
  return name;
}

}  // namespace cw
