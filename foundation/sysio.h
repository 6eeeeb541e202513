// The system calls of the file paths that move image bytes (copies, folder creation, renames,
// folder listings), gathered in one replaceable table.
//
// Production code calls sysio().write(...) and so on; tests install a table whose entries fail
// with EIO or ENOSPC, or write short, without needing a broken or full disk. The table holds
// plain function pointers so that a copy loop pays one indirect call per system call and
// nothing else.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

namespace cw {

struct Sysio {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*read)(int fd, void* buf, std::size_t count);
  ssize_t (*write)(int fd, const void* buf, std::size_t count);
  int (*close)(int fd);
  int (*fstat)(int fd, struct stat* st);
  int (*stat)(const char* path, struct stat* st);
  int (*lstat)(const char* path, struct stat* st);
  int (*fsync)(int fd);
  int (*futimens)(int fd, const struct timespec times[2]);
  // Sets a path's access and modification times (follows symbolic links).
  int (*utimens)(const char* path, const struct timespec times[2]);
  // The same for the path itself: a symbolic link's own times, never its target's.
  int (*lutimens)(const char* path, const struct timespec times[2]);
  // Renames without ever replacing an existing target: fails with EEXIST instead.
  int (*rename)(const char* from, const char* to);
  int (*mkdir)(const char* path, mode_t mode);
  int (*unlink)(const char* path);
  int (*rmdir)(const char* path);
  DIR* (*opendir)(const char* path);
  // Copies up to `count` bytes from `in` to `out` inside the kernel, from and to their
  // current positions (which advance): the count, 0 at the end of `in`, -1 on error. Null
  // when the system has no such call.
  ssize_t (*copy_range)(int in, int out, std::size_t count);
  // Writes every dirty page of the file system holding `fd` to the disk; reports the write
  // errors met since the last call.
  int (*syncfs)(int fd);
};

// The table in effect.
const Sysio& sysio();
// The table that calls the system directly.
const Sysio& system_sysio();
// Installs a table (tests only; not to be changed while other threads do I/O).
void set_sysio(const Sysio& table);

// Installs a table for the life of the object, then restores the previous one.
class ScopedSysio {
 public:
  explicit ScopedSysio(const Sysio& table);
  ~ScopedSysio();
  ScopedSysio(const ScopedSysio&) = delete;
  ScopedSysio& operator=(const ScopedSysio&) = delete;

 private:
  Sysio saved_;
};

// Owns one open descriptor, closed through the table; close() reports the result of closing.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  // Takes ownership of `fd`, closing the one held before.
  void reset(int fd) {
    close();
    fd_ = fd;
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now: 0, or -1 with errno set.
  int close();
  // Gives up ownership without closing.
  void release() { fd_ = -1; }

 private:
  int fd_;
};

enum class IoStatus { kOk, kDiskFull, kError };

// Writes all `count` bytes through the table. A short write that made progress goes on with
// the rest; a write that makes no progress, or fails with ENOSPC or EDQUOT, is kDiskFull;
// any other failure is kError. errno holds the system's reason on failure.
IoStatus write_all(int fd, const void* data, std::size_t count);

// True when copy loops may move bytes with `copy_range`: the table has it and its read and
// write are the system's own, so a table that replaces read or write (to inject faults) sees
// every byte pass through them.
bool copy_range_usable();

// Folder-relative forms of open, rename and unlink, for the copy paths that keep a target
// folder open for the run (no path walk per file, and the names stay in the folder that was
// checked even if a link is put in its way). They call the system directly, so they are usable
// only while the table's open, rename and unlink are the system's own: a table that replaces
// one of them (to inject faults) must see every path, and callers then use the path forms.
bool folder_calls_usable();
int open_in(int folder, const char* name, int flags, mode_t mode);
// Never replaces an existing `to` (EEXIST), as the table's rename.
int rename_in(int folder, const char* from, const char* to);
int unlink_in(int folder, const char* name);
// A file without a name in the folder `folder` (a path relative to the folder descriptor `at`:
// "." for that folder itself; or AT_FDCWD), named later with link_in (O_TMPFILE): it never
// shows under a temporary name, and a process killed before naming it leaves nothing behind.
// -1 with errno set where the file system (or the system) cannot make one, or could not name
// it later.
int open_unnamed_at(int at, const char* folder, int flags, mode_t mode);
// Names the file `fd` made by open_unnamed_at: `name` in `folder` (or a path, with AT_FDCWD).
// Never replaces an existing file (EEXIST).
int link_in(int fd, int folder, const char* name);

// Reads up to `count` bytes through the table, repeating on EINTR: the byte count, 0 at the
// end of the file, -1 on error (errno set).
ssize_t read_some(int fd, void* buf, std::size_t count);

}  // namespace cw
