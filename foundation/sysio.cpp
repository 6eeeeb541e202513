// The system-call table: the direct implementation, the installed table and the write/read
// loops built on it.
#include "foundation/sysio.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace cw {

namespace {

int sys_open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int sys_fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int sys_stat(const char* path, struct stat* st) { return ::stat(path, st); }
int sys_lstat(const char* path, struct stat* st) { return ::lstat(path, st); }
int sys_utimens(const char* path, const struct timespec times[2]) {
  return ::utimensat(AT_FDCWD, path, times, 0);
}
int sys_lutimens(const char* path, const struct timespec times[2]) {
  return ::utimensat(AT_FDCWD, path, times, AT_SYMLINK_NOFOLLOW);
}

// A rename never replaces: an image that is already there must not vanish under another's
// name. File systems without the no-replace flag (EINVAL) get a check before the rename,
// which leaves only the short window between the check and the rename.
int rename_no_replace(int folder, const char* from, const char* to) {
  if (::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  struct stat st;
  if (::fstatat(folder, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return -1;
  }
  return ::renameat(folder, from, folder, to);
}

int sys_rename(const char* from, const char* to) { return rename_no_replace(AT_FDCWD, from, to); }

ssize_t sys_copy_range(int in, int out, std::size_t count) {
  return ::copy_file_range(in, nullptr, out, nullptr, count, 0);
}

const Sysio kSystemSysio = {
    sys_open,   ::read,      ::write,    ::close, sys_fstat, sys_stat, sys_lstat, ::fsync,
    ::futimens, sys_utimens, sys_lutimens, sys_rename, ::mkdir, ::unlink, ::rmdir, ::opendir,
    sys_copy_range, ::syncfs,
};

Sysio current = kSystemSysio;

}  // namespace

const Sysio& sysio() { return current; }
const Sysio& system_sysio() { return kSystemSysio; }
void set_sysio(const Sysio& table) { current = table; }

ScopedSysio::ScopedSysio(const Sysio& table) : saved_(current) { current = table; }
ScopedSysio::~ScopedSysio() { current = saved_; }

UniqueFd::~UniqueFd() { close(); }

int UniqueFd::close() {
  if (fd_ < 0) return 0;
  int rc = current.close(fd_);
  fd_ = -1;
  return rc;
}

bool copy_range_usable() {
  return current.copy_range != nullptr && current.read == kSystemSysio.read &&
         current.write == kSystemSysio.write;
}

IoStatus write_all(int fd, const void* data, std::size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t n = current.write(fd, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == ENOSPC || errno == EDQUOT ? IoStatus::kDiskFull : IoStatus::kError;
    }
    if (n == 0) {  // no progress: the device has no room left
      errno = ENOSPC;
      return IoStatus::kDiskFull;
    }
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return IoStatus::kOk;
}

bool folder_calls_usable() {
  return current.open == kSystemSysio.open && current.rename == kSystemSysio.rename &&
         current.unlink == kSystemSysio.unlink;
}

int open_in(int folder, const char* name, int flags, mode_t mode) {
  return ::openat(folder, name, flags, mode);
}

int rename_in(int folder, const char* from, const char* to) {
  return rename_no_replace(folder, from, to);
}

int unlink_in(int folder, const char* name) { return ::unlinkat(folder, name, 0); }

int open_unnamed_at(int at, const char* folder, int flags, mode_t mode) {
  // An unnamed file is named through its entry in /proc where linking by descriptor alone
  // takes a privilege a photographer's account lacks (kernels before 6.10).
  static const bool nameable = ::access("/proc/self/fd", X_OK) == 0;
  if (!nameable) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return ::openat(at, folder, O_TMPFILE | flags, mode);
}

int link_in(int fd, int folder, const char* name) {
  // By its descriptor alone where the system lets this process (a kernel from 6.10 on lets
  // the opener of the file), which spares a walk through /proc; else through its entry
  // there. A kernel that refuses says ENOENT, as it does for a folder that is gone: the walk
  // through /proc then tells them apart.
  if (::linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0) return 0;
  if (errno != ENOENT) return -1;
  char entry[32];
  std::snprintf(entry, sizeof entry, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, entry, folder, name, AT_SYMLINK_FOLLOW);
}

ssize_t read_some(int fd, void* buf, std::size_t count) {
  for (;;) {
    ssize_t n = current.read(fd, buf, count);
    if (n >= 0 || errno != EINTR) return n;
  }
}

}  // namespace cw
