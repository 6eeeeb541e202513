// The run log, alerts, the text pane and the error trace.
//
// One process-wide log file receives timestamped lines ("%Y-%b-%d %X: text"). Alerts and the
// text pane are shown by the installed front end (user_interface.h) and also logged. The error
// trace is a stack of context entries that failing low-level code pushes; it is printed to
// standard error (and the log), newest first, when the process exits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cw {

// Path used until log_set_path is called.
inline constexpr const char* kFallbackLogPath = "/tmp/runlog.tmp";
// The value that marks an internal (non-system) error in the trace.
inline constexpr std::int32_t kInternalErrorNumber = 2147483647;

// Makes `path` the log file, derives the capture path from it and opens the log.
void log_set_path(const std::string& path);
// Current log path and capture ("…Last.txt") path (empty when it could not be derived).
std::string log_path();
std::string log_last_path();
// Opens the log when it is not open yet. Nothing is written until the first line: that one
// comes after an empty line and "Log file %s opened", once per opening.
void log_open();
// Closes the log file (the user's Clear Log command closes, deletes, then sets the path again).
void log_close();
// Lines that could not be written to the log (it could not be opened, a write failed), counted
// since the process started: a run compares the count at its end with the one at its start.
int log_write_failures();
// Logging switch (the LogV3 preference). While off, log_printf writes nothing.
void log_set_enabled(bool enabled);
bool log_enabled();

// Writes one log line: local time, ": ", the formatted text, "\n".
void log_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Formats into at most 1000 bytes, logs it and shows it as a modal message.
void alert_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Appends text to the main window's text pane and logs it (one trailing newline dropped,
// leading newlines skipped, nothing logged when empty).
void ui_print(const std::string& text);
void ui_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Copies the whole log into the capture file (for disc burns); returns its path, or nothing
// when the log is not open or the capture file cannot be created.
std::optional<std::string> log_capture_for_disc();

// Capture path for a log path: the path cut at its last "." followed by "Last.txt".
std::string derive_last_path(const std::string& path);

// Pushes one trace entry: function, " [", source, ":", line, "] ", message.
void errstack_push(const char* function, const char* source, int line, const char* message,
                   int error_number, int kind);
// Prints the whole trace (runs by itself once at process exit after the first push).
void errstack_print();
// Number of entries on the trace (for tests and diagnostics).
int errstack_depth();

// The message alone (n == 0) or "%s\n\t\t*** %s (%d: \"%s\") ***", cut to 199 characters.
std::string errno_text(int n, const char* message);
// Symbolic name of the first row of the category with the value, else "?".
const char* symbol_name(const char* category, long value);

// Shows "ERROR: %s failed with error %d: %s" for the last system error in the text pane and
// logs it.
void report_system_error(const char* operation);

}  // namespace cw

// Pushes a trace entry naming this source file and line.
#define CW_TRACE(message, error_number) \
  ::cw::errstack_push("[fcn???]", __FILE__, __LINE__, (message), (error_number), 0)
