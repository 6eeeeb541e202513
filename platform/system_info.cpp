// The running system's name and release, from uname(2).
#include "platform/system_info.h"

#include <sys/utsname.h>

namespace cw {

std::string os_version_text() {
  struct utsname u {};
  if (uname(&u) != 0 || u.sysname[0] == '\0') return "[Unknown OS Version]";
  std::string text = u.sysname;
  if (u.release[0]) text.append(" ").append(u.release);
  if (u.machine[0]) text.append(" ").append(u.machine);
  return text;
}

}  // namespace cw
