// The run log: what the Log menu and `cardwright log` do with it (read it as it grows, open it
// in the user's editor, clear it), and logging switched on or off after the preferences
// changed.
#pragma once

#include <cstdint>
#include <string>

#include "control/viewer.h"
#include "foundation/user_interface.h"

namespace cw {

// The program that opens the log in an editor: $VISUAL, else $EDITOR, else the desktop's
// handler xdg-open when it is installed; empty when there is none (a machine without a
// desktop opener).
std::string log_editor();

// Opens the log with log_editor() without waiting; shows "Could not execute " + the program
// when it cannot be started, and says where the log is when there is no program to open it.
bool view_log(const std::string& log_path, const ProgramLauncher& launch);

// Asks "Clear log file?" through `ui`; on Yes closes the log, deletes it, opens it again and
// writes "Cleared by user". True when cleared.
bool clear_log(UserInterface& ui, const std::string& log_path);

// Applies a changed "LogV3": switches logging and says so in the log.
void switch_logging(bool on);

// Reads a log as it grows, for a window that shows it. The first read gives the end of the
// log (a log of years is not loaded whole), each later one the lines written since. Only
// whole lines are given: a line being written is taken once its end is there. A log that was
// cleared or replaced (shorter than what was read, or another file under the name) is read
// again from its start.
class LogFollower {
 public:
  // What the first read gives at most.
  static constexpr std::uint64_t kFirstReadLimit = 4 * 1024 * 1024;
  // What one later read gives at most; the rest comes with the next reads.
  static constexpr std::uint64_t kReadLimit = 1024 * 1024;

  explicit LogFollower(std::string path, std::uint64_t first_limit = kFirstReadLimit);

  struct Lines {
    std::string text;         // whole lines, each ending in "\n"
    bool restarted = false;   // the log was read from its start again: drop what was shown
    bool cut = false;         // the log's beginning was left out (it is longer than the limit)
  };
  // The lines written since the last read (none when the log does not exist).
  Lines read();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::uint64_t first_limit_;
  std::uint64_t offset_ = 0;  // bytes of the file already given (up to a line end)
  std::uint64_t device_ = 0, inode_ = 0;
  bool started_ = false;
};

}  // namespace cw
