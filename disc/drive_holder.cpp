// Busy recorders and the processes that hold them.
#include "disc/drive_holder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <fstream>
#include <memory>

#include "foundation/sysio.h"

namespace cw {

namespace {

struct DirClose {
  void operator()(DIR* d) const { closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirClose>;

bool all_digits(const char* s) {
  if (!*s) return false;
  for (; *s; ++s)
    if (!std::isdigit(static_cast<unsigned char>(*s))) return false;
  return true;
}

std::string link_target(const std::string& link) {
  char buf[4096];
  const ssize_t n = readlink(link.c_str(), buf, sizeof buf);
  return n > 0 && static_cast<std::size_t>(n) < sizeof buf ? std::string(buf, n) : std::string();
}

}  // namespace

bool device_held_exclusively(const std::string& path) {
  struct stat st;
  if (sysio().stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return false;
  // The same kind of open that taking the recorder makes; it only asks, so it is let go at once.
  const int fd = sysio().open(path.c_str(), O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC, 0);
  if (fd >= 0) {
    sysio().close(fd);
    return false;
  }
  return errno == EBUSY;
}

std::string device_holder(const std::string& path, const std::string& proc) {
  DirPtr processes(opendir(proc.c_str()));
  if (!processes) return std::string();
  while (const dirent* p = readdir(processes.get())) {
    if (!all_digits(p->d_name)) continue;
    const std::string dir = proc + "/" + p->d_name;
    DirPtr fds(opendir((dir + "/fd").c_str()));
    if (!fds) continue;  // gone, or another user's
    bool holds = false;
    while (const dirent* f = readdir(fds.get()))
      if (all_digits(f->d_name) && link_target(dir + "/fd/" + f->d_name) == path) {
        holds = true;
        break;
      }
    if (!holds) continue;
    std::string name;
    std::ifstream comm(dir + "/comm");
    if (!std::getline(comm, name) || name.empty()) name = "process";
    return name + " (process " + p->d_name + ")";
  }
  return std::string();
}

}  // namespace cw
