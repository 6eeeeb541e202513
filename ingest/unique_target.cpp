// Unique first-copy names and the duplicate check.
#include "ingest/unique_target.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>

#include "foundation/fs.h"
#include "foundation/sysio.h"

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

bool same_image(const std::string& a, const std::string& b) {
  // The image's capture time joins this identity once the image reader is available; until
  // then size and modification time decide.
  struct stat sa, sb;
  if (sysio().stat(a.c_str(), &sa) != 0 || sysio().stat(b.c_str(), &sb) != 0) return false;
  return sa.st_size == sb.st_size && sa.st_mtime == sb.st_mtime;
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
