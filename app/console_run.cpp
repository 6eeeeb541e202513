// The monitor on the terminal.
#include "app/console_run.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>

#include "foundation/text.h"

namespace cw::app {

namespace {

std::atomic<bool> interrupted{false};

extern "C" void on_interrupt(int) { interrupted.store(true); }

constexpr int kStopSignals[3] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

StopSignals::StopSignals() {
  interrupted.store(false);
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  action.sa_flags = SA_RESETHAND;
  for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &action, &saved_[i]);
}

StopSignals::~StopSignals() {
  for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &saved_[i], nullptr);
}

bool StopSignals::take() { return interrupted.exchange(false); }

namespace {

constexpr auto kTick = std::chrono::milliseconds(500);
// Piped progress: one plain line this often.
constexpr auto kPlainLineInterval = std::chrono::seconds(10);

// Shows the running slots' progress, one line each: rewritten in place on a terminal, a plain
// copy now and then when standard error is piped.
class ProgressDisplay {
 public:
  ProgressDisplay(ConsoleUserInterface& ui, bool quiet)
      : ui_(ui), quiet_(quiet), tty_(isatty(STDERR_FILENO) != 0) {}
  ~ProgressDisplay() { clear(); }
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  void show(std::vector<std::string> lines) {
    if (quiet_ || lines.empty()) return;
    // A slot's line holds its card's volume label and file names: the escapes written here
    // are ours alone.
    for (std::string& line : lines) line = printable_text(line);
    if (tty_) {
      if (lines == shown_) return;
      ui_.locked([&] {
        std::fprintf(stderr, "\r%s", cursor_up().c_str());
        for (std::size_t i = 0; i < lines.size(); ++i)
          std::fprintf(stderr, "\033[K%.100s%s", lines[i].c_str(), i + 1 < lines.size() ? "\n" : "");
        std::fflush(stderr);
      });
      shown_ = lines;
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - last_plain_ < kPlainLineInterval) return;
    if (last_plain_ != std::chrono::steady_clock::time_point{})
      ui_.locked([&] {
        for (const std::string& line : lines) std::fprintf(stderr, "%s\n", line.c_str());
      });
    last_plain_ = now;
  }

  void clear() {
    if (!tty_ || shown_.empty()) return;
    ui_.locked([&] {
      std::fprintf(stderr, "\r%s\033[J", cursor_up().c_str());
      std::fflush(stderr);
    });
    shown_.clear();
  }

 private:
  std::string cursor_up() const {
    return shown_.size() > 1 ? "\033[" + std::to_string(shown_.size() - 1) + "A" : "";
  }
  ConsoleUserInterface& ui_;
  bool quiet_;
  bool tty_;
  std::vector<std::string> shown_;
  std::chrono::steady_clock::time_point last_plain_{};
};

// What a slot shows: its progress, or its status before the copies begin.
std::string slot_line(const SlotView& slot) {
  std::string line = format_progress(slot.progress, slot.phase_seconds);
  return line.empty() ? slot.status_line : line;
}

// Shows a look at the monitor: the running slots' lines, or nothing once the slots have
// ended, since the end of the run prints the reports and the progress lines go first.
void show_progress(ProgressDisplay& progress, const MonitorView& view,
                   const std::function<std::vector<std::string>(const MonitorView&)>& lines) {
  bool ended = true;
  for (const SlotView& slot : view.slots)
    if (slot.code == SlotCode::kStarting || slot.code == SlotCode::kRunning) ended = false;
  if (!view.running || ended)
    progress.clear();
  else
    progress.show(lines(view));
}

// Ticks the run until it has ended; `lines` says what to show of a snapshot.
void tick_to_end(IngestionRun& run, ConsoleUserInterface& ui, bool json,
                 const std::function<std::vector<std::string>(const MonitorView&)>& lines) {
  ProgressDisplay progress(ui, json);
  run.hooks().progress = [&](const MonitorView& view) { show_progress(progress, view, lines); };
  while (run.running()) {
    run.wait(kTick);
    if (StopSignals::take()) run.stop();
    run.tick();
  }
  run.hooks().progress = nullptr;
}

// The same for a monitor that runs a parameter list without a Start flow.
void tick_to_end(CardMonitor& monitor, ConsoleUserInterface& ui, bool json,
                 const std::function<std::vector<std::string>(const MonitorView&)>& lines) {
  ProgressDisplay progress(ui, json);
  while (monitor.running()) {
    monitor.wait_for_slot_end(kTick);
    if (StopSignals::take()) monitor.stop();
    show_progress(progress, monitor.snapshot(), lines);
    monitor.tick();
  }
}

std::vector<std::string> single_line(const MonitorView& v) { return {slot_line(v.slots[0])}; }

}  // namespace

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void run_on_console(IngestionRun& run, ConsoleUserInterface& ui, bool json) {
  StopSignals signals;
  run.start();
  tick_to_end(run, ui, json, single_line);
}

MonitorOutcome run_on_console(CardMonitor& monitor, ConsoleUserInterface& ui,
                              const std::string& source, bool json) {
  StopSignals signals;
  monitor.run_single(source);
  tick_to_end(monitor, ui, json, single_line);
  return monitor.outcome().value_or(MonitorOutcome{});
}

void run_cards_on_console(IngestionRun& run, ConsoleUserInterface& ui, bool json) {
  StopSignals signals;
  tick_to_end(run, ui, json, [](const MonitorView& v) {
    std::vector<std::string> lines;
    for (const SlotView& slot : v.slots)
      if (slot.filled && slot.ticked)
        lines.push_back(format_limited(120, "%-24.24s %s", slot.volume_name.c_str(),
                                       slot_line(slot).c_str()));
    return lines;
  });
}

std::string json_object(const EngineContext* ctx, bool success, const std::string& head,
                        const std::string& tail) {
  static const EngineContext empty(EngineJob{});
  const EngineContext& c = ctx ? *ctx : empty;
  const RunCounters& n = c.counts;
  // Room for two whole paths and the error texts: a cut object would not parse.
  return "{" + head + format_limited(
      20000,
      "\"success\": %s, \"error\": %s, \"files_found\": %d, \"first_copies\": %d, "
      "\"skipped_by_extension\": %d, \"duplicates\": %d, \"duplicates_on_card\": %d, "
      "\"raws_converted\": %d, "
      "\"copied_without_conversion\": %d, \"jpegs_extracted\": %d, \"raws_verified\": %d, "
      "\"raws_corrupt\": %d, \"jpegs_verified\": %d, \"jpegs_corrupt\": %d, "
      "\"damaged_jpegs\": %d, "
      "\"unverified\": %d, \"gps_tagged\": %d, \"gps_out_of_interval\": %d, "
      "\"gps_errors\": %d, \"already_archived\": %d, \"completed_from_earlier_run\": %d, "
      "\"files_verified\": %d, \"safe_to_format\": %s, \"verdict\": %s, "
      "\"first_error\": %s, \"destination_folder\": %s",
      success ? "true" : "false", json_string(c.error).c_str(), n.files_found, n.first_copies,
      n.skipped_by_extension, n.duplicates, n.duplicates_on_card(), n.raws_converted_shown(),
      n.copied_without_conversion, n.jpegs_extracted, n.raws_verified(), n.raws_corrupt,
      n.jpegs_verified, n.jpegs_corrupt, n.damaged_jpegs, n.unverified(), n.gps_tagged,
      n.gps_out_of_interval, n.gps_errors, n.already_archived, n.completed_earlier,
      n.files_verified, c.verdict.safe ? "true" : "false", json_string(c.verdict.line).c_str(),
      json_string(c.first_error).c_str(),
      c.destination_folder ? json_string(*c.destination_folder).c_str() : "null") + tail + "}";
}

void print_json(const EngineContext* ctx, bool success, const std::string& tail) {
  std::printf("%s\n", json_object(ctx, success, "", tail).c_str());
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
