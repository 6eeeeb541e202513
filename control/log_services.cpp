// The run log's services.
#include "control/log_services.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "foundation/log.h"
#include "foundation/runner.h"
#include "foundation/sysio.h"

namespace cw {

std::string log_editor() {
  for (const char* variable : {"VISUAL", "EDITOR"})
    if (const char* v = std::getenv(variable); v && *v) return v;
  return find_executable("xdg-open").empty() ? std::string() : std::string("xdg-open");
}

bool view_log(const std::string& log_path, const ProgramLauncher& launch) {
  const std::string editor = log_editor();
  if (editor.empty()) {
    alert_printf("No program to open the log with: set VISUAL or EDITOR. The log is %s",
                 log_path.c_str());
    return false;
  }
  if (launch(editor, {log_path})) return true;
  alert_printf("Could not execute %s", editor.c_str());
  return false;
}

bool clear_log(UserInterface& ui, const std::string& log_path) {
  if (!ui.ask_yes_no("Clear log file?")) return false;
  log_close();
  ::unlink(log_path.c_str());
  log_set_path(log_path);
  log_printf("Cleared by user");
  return true;
}

void switch_logging(bool on) {
  if (on == log_enabled()) return;
  if (on) {
    log_set_enabled(true);
    log_printf("Logging now on.");
  } else {
    log_printf("Logging now off.");
    log_set_enabled(false);
  }
}

LogFollower::LogFollower(std::string path, std::uint64_t first_limit)
    : path_(std::move(path)), first_limit_(first_limit) {}

LogFollower::Lines LogFollower::read() {
  Lines out;
  UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
    // Cleared and not written yet: what was shown is gone.
    if (started_ && offset_ > 0) out.restarted = true;
    offset_ = 0;
    return out;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  const bool same_file = started_ && st.st_dev == device_ && st.st_ino == inode_;
  if (started_ && (!same_file || size < offset_)) {
    out.restarted = true;
    offset_ = 0;
  }
  std::uint64_t from = offset_;
  std::uint64_t limit = kReadLimit;
  if (!started_ || out.restarted) {
    limit = first_limit_;
    if (size > first_limit_) {
      from = size - first_limit_;
      out.cut = true;
    }
  }
  started_ = true;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  if (size <= from) return out;
  std::string bytes(static_cast<std::size_t>(std::min(size - from, limit)), '\0');
  const ssize_t n = ::pread(fd.get(), bytes.data(), bytes.size(), static_cast<off_t>(from));
  if (n <= 0) return out;
  bytes.resize(static_cast<std::size_t>(n));
  // A cut log starts at its first whole line.
  std::size_t begin = 0;
  if (out.cut) {
    const std::size_t first_end = bytes.find('\n');
    begin = first_end == std::string::npos ? bytes.size() : first_end + 1;
  }
  std::size_t end = bytes.rfind('\n');
  end = end == std::string::npos || end < begin ? begin : end + 1;
  // A line longer than a whole read is given as it is, or the reads would never get past it.
  if (end == begin && bytes.size() == limit) end = bytes.size();
  out.text = bytes.substr(begin, end - begin);
  offset_ = from + end;
  return out;
}

}  // namespace cw
