// The monitor on the terminal.
#include "app/console_run.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>

namespace cw::app {

namespace {

std::atomic<bool> interrupted{false};

extern "C" void on_interrupt(int) { interrupted.store(true); }

// The first Ctrl-C (or SIGTERM, SIGHUP) asks the run to stop cleanly; a second one ends the
// program at once.
class StopSignals {
 public:
  StopSignals() {
    interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    action.sa_flags = SA_RESETHAND;
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &saved_[i]);
  }
  ~StopSignals() {
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &saved_[i], nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction saved_[3] {};
};

constexpr auto kTick = std::chrono::milliseconds(500);
// Piped progress: one plain line this often.
constexpr auto kPlainLineInterval = std::chrono::seconds(10);

// Shows the slot's progress: the line is rewritten in place on a terminal.
class ProgressDisplay {
 public:
  ProgressDisplay(ConsoleUserInterface& ui, bool quiet)
      : ui_(ui), quiet_(quiet), tty_(isatty(STDERR_FILENO) != 0) {}
  ~ProgressDisplay() { clear(); }
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  void show(const SlotView& slot) {
    if (quiet_) return;
    std::string line = format_progress(slot.progress, slot.phase_seconds);
    if (line.empty()) line = slot.status_line;
    if (tty_) {
      line = line.substr(0, 100);
      if (line == shown_) return;
      ui_.locked([&] {
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
      });
      shown_ = line;
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (line.empty() || now - last_plain_ < kPlainLineInterval) return;
    if (last_plain_ != std::chrono::steady_clock::time_point{})
      ui_.locked([&] { std::fprintf(stderr, "%s\n", line.c_str()); });
    last_plain_ = now;
  }

  void clear() {
    if (!tty_ || shown_.empty()) return;
    ui_.locked([] {
      std::fprintf(stderr, "\r\033[K");
      std::fflush(stderr);
    });
    shown_.clear();
  }

 private:
  ConsoleUserInterface& ui_;
  bool quiet_;
  bool tty_;
  std::string shown_;
  std::chrono::steady_clock::time_point last_plain_{};
};

}  // namespace

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

MonitorOutcome run_on_console(CardMonitor& monitor, ConsoleUserInterface& ui,
                              const std::string& source, bool json) {
  StopSignals signals;
  {
    ProgressDisplay progress(ui, json);
    monitor.run_single(source);
    while (monitor.running()) {
      monitor.wait_for_slot_end(kTick);
      if (interrupted.exchange(false)) monitor.stop();
      const MonitorView view = monitor.snapshot();
      if (view.running) progress.show(view.slots[0]);
      // The end of the run prints the report: the progress line goes first.
      if (!view.running || view.slots[0].code == SlotCode::kFinished) progress.clear();
      monitor.tick();
    }
  }
  return monitor.outcome().value_or(MonitorOutcome{});
}

void print_json(const EngineContext* ctx, bool success) {
  static const EngineContext empty(EngineJob{});
  const EngineContext& c = ctx ? *ctx : empty;
  const RunCounters& n = c.counts;
  std::printf(
      "{\"success\": %s, \"error\": %s, \"files_found\": %d, \"first_copies\": %d, "
      "\"skipped_by_extension\": %d, \"duplicates\": %d, \"raws_converted\": %d, "
      "\"copied_without_conversion\": %d, \"jpegs_extracted\": %d, \"raws_verified\": %d, "
      "\"raws_corrupt\": %d, \"jpegs_verified\": %d, \"jpegs_corrupt\": %d, "
      "\"unverified\": %d, \"gps_tagged\": %d, \"gps_out_of_interval\": %d, "
      "\"gps_errors\": %d, \"destination_folder\": %s}\n",
      success ? "true" : "false", json_string(c.error).c_str(), n.files_found, n.first_copies,
      n.skipped_by_extension, n.duplicates, n.raws_converted_shown(),
      n.copied_without_conversion, n.jpegs_extracted, n.raws_converted, n.raws_corrupt,
      n.jpegs_verified, n.jpegs_corrupt, n.unverified(), n.gps_tagged, n.gps_out_of_interval,
      n.gps_errors,
      c.destination_folder ? json_string(*c.destination_folder).c_str() : "null");
  std::fflush(stdout);
}

bool read_path_list(const std::string& file, std::vector<std::string>& paths) {
  std::ifstream in(file);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) paths.push_back(line);
  }
  return true;
}

}  // namespace cw::app
