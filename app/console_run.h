// An ingestion on the terminal: the run's single source runs while this thread ticks it,
// shows its progress (one line on a terminal, a plain line now and then when standard error
// is piped, nothing with --json) and turns Ctrl-C, SIGTERM and SIGHUP into a stop request.
#pragma once

#include <csignal>
#include <string>

#include "app/console_ui.h"
#include "control/ingestion_run.h"

namespace cw::app {

// While it lives, the first Ctrl-C, SIGTERM or SIGHUP is a request to stop (take() tells);
// a second one ends the program at once.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  // True once after a stop signal came.
  static bool take();

 private:
  struct sigaction saved_[3] {};
};

// Starts the prepared single-source run and ticks it to its end.
void run_on_console(IngestionRun& run, ConsoleUserInterface& ui, bool json);

// Runs `source` through a monitor made for a bare parameter list (no Start flow, no record) to
// its end and returns the outcome.
MonitorOutcome run_on_console(CardMonitor& monitor, ConsoleUserInterface& ui,
                              const std::string& source, bool json);

// Ticks the started cards run to its end, one progress line per card.
void run_cards_on_console(IngestionRun& run, ConsoleUserInterface& ui, bool json);

// A JSON string literal of `s`.
std::string json_string(const std::string& s);

// A run's counters and verdict as one JSON object; `head` holds fields that come first
// ("\"name\": value, " each), `tail` fields that come last (", \"name\": value" each).
std::string json_object(const EngineContext* ctx, bool success, const std::string& head = "",
                        const std::string& tail = "");
// The run's counters and verdict as one JSON object on standard output.
void print_json(const EngineContext* ctx, bool success, const std::string& tail = "");

// Reads a picked-files list: one path per line, empty lines ignored. False when the file
// cannot be read.
bool read_path_list(const std::string& file, std::vector<std::string>& paths);

}  // namespace cw::app
