// Write progress figures and their console line.
#include "disc/burn_progress.h"

#include <algorithm>
#include <cmath>

#include "foundation/text.h"

namespace cw {

namespace {

// The rate is measured over about this many seconds of readings.
constexpr double kRateWindowSeconds = 5.0;
// Times left beyond this are not worth a figure (a stalled drive).
constexpr double kLongestEta = 100.0 * 3600.0 - 1.0;

}  // namespace

void WriteMeter::feed(std::uint64_t done, std::uint64_t total, double seconds) {
  // Once everything is written, the drive's last moments (flushing, closing) are no part of
  // the rate it wrote at.
  if (total > 0 && total == total_ && done >= total && done_ >= total_ && !recent_.empty())
    return;
  // A count that goes back is another write: what was measured before says nothing of it.
  if (done < done_ || (!recent_.empty() && seconds < recent_.back().seconds)) recent_.clear();
  done_ = done;
  total_ = total;
  recent_.push_back(Reading{done, seconds});
  // Keep one reading at or beyond the window's start, so that the span covers the window.
  while (recent_.size() > 2 && seconds - recent_[1].seconds >= kRateWindowSeconds)
    recent_.pop_front();
}

int WriteMeter::percent() const {
  if (total_ == 0) return -1;
  if (done_ >= total_) return 100;
  return static_cast<int>(done_ * 100 / total_);
}

double WriteMeter::bytes_per_second() const {
  if (recent_.size() < 2) return 0;
  const double span = recent_.back().seconds - recent_.front().seconds;
  if (span <= 0) return 0;
  return static_cast<double>(recent_.back().done - recent_.front().done) / span;
}

int WriteMeter::eta_seconds() const {
  if (total_ == 0) return -1;
  if (done_ >= total_) return 0;
  const double rate = bytes_per_second();
  if (rate <= 0) return -1;
  const double left = std::ceil(static_cast<double>(total_ - done_) / rate);
  return static_cast<int>(std::min(left, kLongestEta));
}

std::string WriteMeter::rate_text() const {
  // Nothing measured yet and a drive that has stopped look alike; only a rate is shown.
  const double rate = bytes_per_second();
  if (rate <= 0) return std::string();
  return format_limited(32, "%.1f MB/s", rate / 1e6);
}

std::string WriteMeter::eta_text() const {
  const int s = eta_seconds();
  if (s < 0) return std::string();
  if (s >= 3600) return format_limited(32, "%d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
  return format_limited(32, "%d:%02d", s / 60, s % 60);
}

std::string WriteMeter::line() const {
  std::string text;
  auto add = [&text](const std::string& part) {
    if (part.empty()) return;
    if (!text.empty()) text += "  ";
    text += part;
  };
  const int p = percent();
  if (p >= 0) add(format_limited(8, "%d%%", p));
  add(rate_text());
  const std::string eta = eta_text();
  if (!eta.empty()) add("ETA " + eta);
  return text;
}

ConsoleProgress::ConsoleProgress(std::function<void(const std::string&)> out, bool terminal)
    : out_(std::move(out)), terminal_(terminal) {}

void ConsoleProgress::show(const std::string& name, int percent, const std::string& line) {
  if (name != name_) {
    end();
    name_ = name;
    tenths_shown_ = -1;
  }
  if (line.empty()) return;
  const std::string text = name + ": " + line;
  if (terminal_) {
    if (width_ > 0 && text == shown_) return;
    shown_ = text;
    // Spaces cover the end of a longer line written before.
    std::string shown = "\r" + text;
    if (text.size() < width_) shown.append(width_ - text.size(), ' ');
    width_ = text.size();
    out_(shown);
    return;
  }
  if (percent < 0) return;
  const int tenths = std::min(percent, 100) / 10;
  if (tenths <= tenths_shown_) return;
  tenths_shown_ = tenths;
  out_(text + "\n");
}

void ConsoleProgress::end() {
  if (terminal_ && width_ > 0) out_("\n");
  width_ = 0;
  name_.clear();  // a retry of the same disc counts its tenths again
  tenths_shown_ = -1;
}

}  // namespace cw
