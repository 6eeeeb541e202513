// Run log, alerts, text pane and the exit-time error trace.
//
// Sections: log state and line writing; alerts and the pane; capture for disc; the error
// trace with its static reserves; the errno name table.
#include "foundation/log.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "foundation/text.h"
#include "foundation/user_interface.h"

namespace cw {

// ---------------------------------------------------------------- log state

namespace {

struct LogState {
  std::mutex mutex;  // one line at a time, so lines of concurrent runs never interleave
  std::string path = kFallbackLogPath;
  std::string last_path = derive_last_path(kFallbackLogPath);
  std::FILE* file = nullptr;
  bool enabled = true;
  int failures = 0;  // lines that could not be written, since the process started
  // Whether the "opened" line was written since the file was opened. It is written before the
  // first line of the session, so that a command that logs nothing (a preference read, a
  // listing) leaves the log as it was, and each session that does log starts with it.
  bool announced = false;
};

LogState& state() {
  static LogState s;
  return s;
}

// Writes one timestamped line; the caller holds the log mutex and the file is open.
void write_line_locked(LogState& s, const std::string& text) {
  char stamp[30];
  std::time_t now = std::time(nullptr);
  std::tm tmv{};
  localtime_r(&now, &tmv);
  if (std::strftime(stamp, sizeof stamp, "%Y-%b-%d %X", &tmv) == 0) stamp[0] = '\0';
  // One write per line (the file is unbuffered). A full disk or a vanished drive must not go
  // unnoticed: a run whose log is incomplete does not count as a success.
  // Names and tag values from a card reach the log inside these texts: their control
  // characters are written as visible escapes, never as themselves.
  std::string line = stamp;
  line += ": ";
  line += printable_text(text);
  line += '\n';
  if (std::fwrite(line.data(), 1, line.size(), s.file) != line.size()) ++s.failures;
}

void open_locked(LogState& s) {
  if (s.file) return;
  s.file = std::fopen(s.path.c_str(), "a+e");  // not inherited by programs we start
  if (!s.file) {
    ++s.failures;
    std::fprintf(stderr, "Can't open logfile \"%s\"\n", s.path.c_str());
    return;
  }
  std::setvbuf(s.file, nullptr, _IONBF, 0);
  s.announced = false;
}

// Writes one line of the session: the first one after an empty line and the "opened" line.
// The caller holds the log mutex and the file is open.
void write_entry_locked(LogState& s, const std::string& text) {
  if (!s.announced) {
    if (std::fputs("\n", s.file) == EOF) ++s.failures;
    write_line_locked(s, format_limited(4096, "Log file %s opened", s.path.c_str()));
    s.announced = true;
  }
  write_line_locked(s, text);
}

void log_text(const std::string& text) {
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.enabled) return;
  open_locked(s);
  if (s.file) write_entry_locked(s, text);
}

}  // namespace

std::string derive_last_path(const std::string& path) {
  std::size_t dot = path.rfind('.');
  std::string base = dot == std::string::npos ? path : path.substr(0, dot);
  return base + "Last.txt";
}

void log_set_path(const std::string& path) {
  LogState& s = state();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.file) {
      std::fclose(s.file);
      s.file = nullptr;
    }
    s.path = path;
    s.last_path = derive_last_path(path);
  }
  log_open();
}

std::string log_path() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().path;
}

std::string log_last_path() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().last_path;
}

void log_open() {
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  open_locked(s);
}

void log_close() {
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.file) {
    std::fclose(s.file);
    s.file = nullptr;
  }
}

int log_write_failures() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().failures;
}

void log_set_enabled(bool enabled) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().enabled = enabled;
}

bool log_enabled() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().enabled;
}

void log_printf(const char* fmt, ...) {
  if (!log_enabled()) return;
  va_list ap;
  va_start(ap, fmt);
  // The text is not cut: size it first.
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap2);
  va_end(ap2);
  std::string text;
  if (n > 0) text = vformat_limited(static_cast<std::size_t>(n) + 1, fmt, ap);
  va_end(ap);
  log_text(text);
}

// ---------------------------------------------------------------- alerts and the pane

namespace {

std::atomic<UserInterface*> installed_front_end{nullptr};

UserInterface& front_end() {
  static HeadlessUserInterface headless;
  UserInterface* ui = installed_front_end.load();
  return ui ? *ui : headless;
}

}  // namespace

UserInterface* set_log_front_end(UserInterface* ui) { return installed_front_end.exchange(ui); }

void alert_printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = printable_text(vformat_limited(1000, fmt, ap));
  va_end(ap);
  log_text(text);
  front_end().alert(text);
}

void ui_print(const std::string& raw) {
  // Every front end shows the text as it is: escape what came from cards here, once.
  const std::string text = printable_text(raw);
  std::string line = text;
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty()) {
    std::size_t first = line.find_first_not_of('\n');
    log_text(first == std::string::npos ? std::string() : line.substr(first));
  }
  front_end().pane_append(text);
}

void ui_printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = vformat_limited(1000, fmt, ap);
  va_end(ap);
  ui_print(text);
}

void report_system_error(const char* operation) {
  int err = errno;
  const char* msg = std::strerror(err);
  ui_printf("ERROR: %s failed with error %d: %s", operation, err, msg);
  log_printf("\n\nERROR: %s failed with error %d: %s\n", operation, err, msg);
}

// ---------------------------------------------------------------- capture for disc

std::optional<std::string> log_capture_for_disc() {
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.file || s.last_path.empty()) return std::nullopt;
  std::FILE* out = std::fopen(s.last_path.c_str(), "w");
  if (!out) return std::nullopt;
  if (s.enabled) write_entry_locked(s, "Capturing log for writing to disc.");
  std::fflush(s.file);
  std::rewind(s.file);
  char piece[2000];
  while (std::fgets(piece, sizeof piece, s.file)) std::fputs(piece, out);
  std::fclose(out);
  // "a+" appends every write at the end, whatever the read position.
  std::fseek(s.file, 0, SEEK_END);
  return s.last_path;
}

// ---------------------------------------------------------------- error trace

namespace {

struct TraceEntry {
  TraceEntry* next = nullptr;  // entry pushed before this one (not owned here: see TraceStack)
  std::int32_t error_number = 0;
  std::int32_t kind = 0;
  std::string text;
};

// The stack owns its dynamic entries through `owned`; `top` links them newest first, and may
// also link the static spare entry used when an entry cannot be allocated.
struct TraceStack {
  std::mutex mutex;
  TraceEntry* top = nullptr;
  std::vector<std::unique_ptr<TraceEntry>> owned;
  TraceEntry spare;
  bool spare_used = false;
  char reserve_text[100] = {};
  bool reserve_used = false;
  bool printer_registered = false;
};

TraceStack& trace() {
  // Constructed before the exit printer is registered, so it is destroyed after it runs.
  static TraceStack t;
  return t;
}

void print_at_exit() { errstack_print(); }

}  // namespace

void errstack_push(const char* function, const char* source, int line, const char* message,
                   int error_number, int /*kind: not kept*/) {
  if (!message) message = "";
  if (!function) function = "";
  if (!source) source = "";
  TraceStack& t = trace();
  bool register_printer = false;
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    std::string text;
    bool have_text = false;
    try {
      text = std::string(function) + " [" + source + ":" + std::to_string(line) + "] " + message;
      have_text = true;
    } catch (const std::bad_alloc&) {
    }
    if (!have_text) {
      if (!t.reserve_used) {
        std::snprintf(t.reserve_text, sizeof t.reserve_text, "%s [%s:%d] %s", function, source,
                      line, message);
        t.reserve_used = true;
        text.assign(t.reserve_text);  // may itself fail; the fixed "?" below is the last resort
      }
      if (text.empty()) text = "?";
    }
    TraceEntry* entry = nullptr;
    try {
      t.owned.push_back(std::make_unique<TraceEntry>());
      entry = t.owned.back().get();
    } catch (const std::bad_alloc&) {
      if (!t.spare_used) {
        t.spare_used = true;
        entry = &t.spare;
      }
    }
    if (entry) {
      entry->next = t.top;
      entry->error_number = error_number;
      entry->kind = 0;
      entry->text = std::move(text);
      t.top = entry;
    }
    if (!t.printer_registered) {
      t.printer_registered = true;
      register_printer = true;
    }
  }
  if (register_printer && std::atexit(print_at_exit) != 0) {
    errstack_push("[fcn???]", __FILE__, __LINE__, "atexit failed", errno, 0);
    errstack_print();
  }
}

int errstack_depth() {
  TraceStack& t = trace();
  std::lock_guard<std::mutex> lock(t.mutex);
  int n = 0;
  for (TraceEntry* e = t.top; e; e = e->next) ++n;
  return n;
}

void errstack_print() {
  TraceStack& t = trace();
  std::vector<std::string> lines;
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    int index = 0;
    for (TraceEntry* e = t.top; e; e = e->next, ++index) {
      if (e == &t.spare) lines.push_back("\t*** Trace may be incomplete ***\n");
      int n = e->next ? 0 : e->error_number;
      std::string text = errno_text(n, e->text.c_str());
      std::string line = format_limited(225, "%s\t%d: %s", index == 0 ? "ERROR:" : "", index,
                                        text.c_str());
      lines.push_back(line + "\n");
    }
  }
  for (std::string& line : lines) {
    line = printable_text(line);
    std::fputs(line.c_str(), stderr);
    if (line.rfind("\t*** Trace", 0) != 0) log_text(line.substr(0, line.size() - 1));
  }
}

// ---------------------------------------------------------------- errno names

namespace {

struct ErrorName {
  const char* category;
  long value;
  const char* name;
};

#define CW_ERRNO_ROW(e) {"errno", e, #e},
const ErrorName kErrorNames[] = {
#ifdef EPERM
    CW_ERRNO_ROW(EPERM)
#endif
#ifdef ENOENT
    CW_ERRNO_ROW(ENOENT)
#endif
#ifdef ESRCH
    CW_ERRNO_ROW(ESRCH)
#endif
#ifdef EINTR
    CW_ERRNO_ROW(EINTR)
#endif
#ifdef EIO
    CW_ERRNO_ROW(EIO)
#endif
#ifdef ENXIO
    CW_ERRNO_ROW(ENXIO)
#endif
#ifdef E2BIG
    CW_ERRNO_ROW(E2BIG)
#endif
#ifdef ENOEXEC
    CW_ERRNO_ROW(ENOEXEC)
#endif
#ifdef EBADF
    CW_ERRNO_ROW(EBADF)
#endif
#ifdef ECHILD
    CW_ERRNO_ROW(ECHILD)
#endif
#ifdef EAGAIN
    CW_ERRNO_ROW(EAGAIN)
#endif
#ifdef ENOMEM
    CW_ERRNO_ROW(ENOMEM)
#endif
#ifdef EACCES
    CW_ERRNO_ROW(EACCES)
#endif
#ifdef EFAULT
    CW_ERRNO_ROW(EFAULT)
#endif
#ifdef EBUSY
    CW_ERRNO_ROW(EBUSY)
#endif
#ifdef EEXIST
    CW_ERRNO_ROW(EEXIST)
#endif
#ifdef EXDEV
    CW_ERRNO_ROW(EXDEV)
#endif
#ifdef ENODEV
    CW_ERRNO_ROW(ENODEV)
#endif
#ifdef ENOTDIR
    CW_ERRNO_ROW(ENOTDIR)
#endif
#ifdef EISDIR
    CW_ERRNO_ROW(EISDIR)
#endif
#ifdef EINVAL
    CW_ERRNO_ROW(EINVAL)
#endif
#ifdef ENFILE
    CW_ERRNO_ROW(ENFILE)
#endif
#ifdef EMFILE
    CW_ERRNO_ROW(EMFILE)
#endif
#ifdef ENOTTY
    CW_ERRNO_ROW(ENOTTY)
#endif
#ifdef EFBIG
    CW_ERRNO_ROW(EFBIG)
#endif
#ifdef ENOSPC
    CW_ERRNO_ROW(ENOSPC)
#endif
#ifdef ESPIPE
    CW_ERRNO_ROW(ESPIPE)
#endif
#ifdef EROFS
    CW_ERRNO_ROW(EROFS)
#endif
#ifdef EMLINK
    CW_ERRNO_ROW(EMLINK)
#endif
#ifdef EPIPE
    CW_ERRNO_ROW(EPIPE)
#endif
#ifdef EDOM
    CW_ERRNO_ROW(EDOM)
#endif
#ifdef ERANGE
    CW_ERRNO_ROW(ERANGE)
#endif
#ifdef EDEADLK
    CW_ERRNO_ROW(EDEADLK)
#endif
#ifdef ENAMETOOLONG
    CW_ERRNO_ROW(ENAMETOOLONG)
#endif
#ifdef ENOLCK
    CW_ERRNO_ROW(ENOLCK)
#endif
#ifdef ENOSYS
    CW_ERRNO_ROW(ENOSYS)
#endif
#ifdef ENOTEMPTY
    CW_ERRNO_ROW(ENOTEMPTY)
#endif
#ifdef ENOTBLK
    CW_ERRNO_ROW(ENOTBLK)
#endif
#ifdef ETXTBSY
    CW_ERRNO_ROW(ETXTBSY)
#endif
#ifdef ENOTSOCK
    CW_ERRNO_ROW(ENOTSOCK)
#endif
#ifdef EDESTADDRREQ
    CW_ERRNO_ROW(EDESTADDRREQ)
#endif
#ifdef EMSGSIZE
    CW_ERRNO_ROW(EMSGSIZE)
#endif
#ifdef EPROTOTYPE
    CW_ERRNO_ROW(EPROTOTYPE)
#endif
#ifdef ENOPROTOOPT
    CW_ERRNO_ROW(ENOPROTOOPT)
#endif
#ifdef EPROTONOSUPPORT
    CW_ERRNO_ROW(EPROTONOSUPPORT)
#endif
#ifdef ESOCKTNOSUPPORT
    CW_ERRNO_ROW(ESOCKTNOSUPPORT)
#endif
#ifdef EOPNOTSUPP
    CW_ERRNO_ROW(EOPNOTSUPP)
#endif
#ifdef EPFNOSUPPORT
    CW_ERRNO_ROW(EPFNOSUPPORT)
#endif
#ifdef EAFNOSUPPORT
    CW_ERRNO_ROW(EAFNOSUPPORT)
#endif
#ifdef EADDRINUSE
    CW_ERRNO_ROW(EADDRINUSE)
#endif
#ifdef EADDRNOTAVAIL
    CW_ERRNO_ROW(EADDRNOTAVAIL)
#endif
#ifdef ENETDOWN
    CW_ERRNO_ROW(ENETDOWN)
#endif
#ifdef ENETUNREACH
    CW_ERRNO_ROW(ENETUNREACH)
#endif
#ifdef ENETRESET
    CW_ERRNO_ROW(ENETRESET)
#endif
#ifdef ECONNABORTED
    CW_ERRNO_ROW(ECONNABORTED)
#endif
#ifdef ECONNRESET
    CW_ERRNO_ROW(ECONNRESET)
#endif
#ifdef ENOBUFS
    CW_ERRNO_ROW(ENOBUFS)
#endif
#ifdef EISCONN
    CW_ERRNO_ROW(EISCONN)
#endif
#ifdef ENOTCONN
    CW_ERRNO_ROW(ENOTCONN)
#endif
#ifdef ESHUTDOWN
    CW_ERRNO_ROW(ESHUTDOWN)
#endif
#ifdef ETOOMANYREFS
    CW_ERRNO_ROW(ETOOMANYREFS)
#endif
#ifdef ETIMEDOUT
    CW_ERRNO_ROW(ETIMEDOUT)
#endif
#ifdef ECONNREFUSED
    CW_ERRNO_ROW(ECONNREFUSED)
#endif
#ifdef ELOOP
    CW_ERRNO_ROW(ELOOP)
#endif
#ifdef EWOULDBLOCK
    CW_ERRNO_ROW(EWOULDBLOCK)
#endif
#ifdef EALREADY
    CW_ERRNO_ROW(EALREADY)
#endif
#ifdef EINPROGRESS
    CW_ERRNO_ROW(EINPROGRESS)
#endif
#ifdef EHOSTDOWN
    CW_ERRNO_ROW(EHOSTDOWN)
#endif
#ifdef EHOSTUNREACH
    CW_ERRNO_ROW(EHOSTUNREACH)
#endif
#ifdef ESTALE
    CW_ERRNO_ROW(ESTALE)
#endif
#ifdef EUSERS
    CW_ERRNO_ROW(EUSERS)
#endif
#ifdef EC_EINTERNAL
    CW_ERRNO_ROW(EC_EINTERNAL)
#endif
};
#undef CW_ERRNO_ROW

}  // namespace

const char* symbol_name(const char* category, long value) {
  if (!category) return "?";
  for (const ErrorName& row : kErrorNames)
    if (row.value == value && std::strcmp(row.category, category) == 0) return row.name;
  return "?";
}

std::string errno_text(int n, const char* message) {
  if (!message) message = "???";
  if (n == 0) {
    std::string s = message;
    truncate_to(s, 199);
    return s;
  }
  const char* name;
  const char* description;
  char buf[256];
  if (n == kInternalErrorNumber) {
    name = "?";
    description = "Internal error (nonstandard)";
  } else {
    name = symbol_name("errno", n);
    // GNU strerror_r returns the text (possibly its own static one); "Unknown error" means none.
    const char* d = strerror_r(n, buf, sizeof buf);
    description = (d && std::strncmp(d, "Unknown error", 13) != 0) ? d : "no message string";
  }
  return format_limited(200, "%s\n\t\t*** %s (%d: \"%s\") ***", message, name, n, description);
}

}  // namespace cw
