// An ingestion on the terminal: the monitor's single source runs while this thread ticks it,
// shows its progress (one line on a terminal, a plain line now and then when standard error
// is piped, nothing with --json) and turns Ctrl-C, SIGTERM and SIGHUP into a stop request.
#pragma once

#include <string>

#include "app/console_ui.h"
#include "control/card_monitor.h"

namespace cw::app {

// Runs `source` through `monitor` to its end and returns the outcome.
MonitorOutcome run_on_console(CardMonitor& monitor, ConsoleUserInterface& ui,
                              const std::string& source, bool json);

// A JSON string literal of `s`.
std::string json_string(const std::string& s);

// The run's counters and verdict as one JSON object on standard output.
void print_json(const EngineContext* ctx, bool success);

// Reads a picked-files list: one path per line, empty lines ignored. False when the file
// cannot be read.
bool read_path_list(const std::string& file, std::vector<std::string>& paths);

}  // namespace cw::app
