// How far a disc write has come, in the figures a person reads: the share written, the rate
// and the time left, and the console's way of showing them (one line rewritten in place on a
// terminal, a line per tenth of the disc in a log).
//
// The meter is fed byte counts with the time they were read, so its figures depend on nothing
// but what it is given. The rate is taken over the last few seconds rather than the whole
// write: a drive writes faster towards the outer edge, and the time left should follow it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace cw {

class WriteMeter {
 public:
  // One reading: `done` of `total` bytes written, `seconds` after the write began (any fixed
  // origin will do; readings come in time order). A total of 0 is unknown.
  void feed(std::uint64_t done, std::uint64_t total, double seconds);

  // 0 to 100, -1 while the total is unknown.
  int percent() const;
  // Bytes per second over the recent readings; 0 while fewer than two readings span time.
  double bytes_per_second() const;
  // Whole seconds until the rest is written at the current rate (rounded up); -1 when unknown.
  int eta_seconds() const;

  // "12.3 MB/s" (decimal megabytes, as disc capacities are counted); empty while unknown.
  std::string rate_text() const;
  // "1:23" or, from an hour on, "1:02:03"; empty while unknown.
  std::string eta_text() const;
  // "45%  12.3 MB/s  ETA 1:23", each part left off while unknown.
  std::string line() const;

 private:
  struct Reading {
    std::uint64_t done;
    double seconds;
  };
  std::deque<Reading> recent_;  // the readings of the rate window, oldest first
  std::uint64_t done_ = 0;
  std::uint64_t total_ = 0;
};

// Shows write progress on a console through `out`. On a terminal every update rewrites one
// line ('\r', padded over what was there); otherwise a line is written only when the write
// reaches another tenth (0%, 10%, … 100%), so that a log of a long burn stays short.
class ConsoleProgress {
 public:
  ConsoleProgress(std::function<void(const std::string&)> out, bool terminal);

  // The progress of the write named `name` (a disc label): `percent` (-1 unknown) and the
  // meter's `line`. A new name starts a new line and a new count of tenths.
  void show(const std::string& name, int percent, const std::string& line);
  // The write has ended: a terminal's line is finished so that what follows starts afresh,
  // and the next write, even of the same disc, is shown from its start.
  void end();

 private:
  std::function<void(const std::string&)> out_;
  bool terminal_;
  std::string name_;
  int tenths_shown_ = -1;  // the last tenth written (not on a terminal)
  std::size_t width_ = 0;  // length of the line on the terminal, 0 when none is open
  std::string shown_;      // the text of that line
};

}  // namespace cw
