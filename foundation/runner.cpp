// Outside programs: start them, collect the error output through a pipe while the program
// runs, poll the stop request every 250 milliseconds, and hand back the verdict.
//
// The program gets a process group of its own, so that a stop ends everything it started (a
// converter run through a wrapper script is several processes) and not only the first one.
// A program this process waits for, or keeps open, is started under a watcher that ends it
// should this process end first (spawn_bound_to_us).
#include "foundation/runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "foundation/log.h"
#include "foundation/text.h"

extern char** environ;

namespace cw {

namespace {

constexpr std::size_t kErrorOutputKept = 1024;  // the caller never sees more than this
constexpr int kPollMilliseconds = 250;
constexpr auto kTerminateGrace = std::chrono::milliseconds(1000);
constexpr std::size_t kFilesPerCommand = 50;
constexpr std::size_t kShellOutputSize = 200;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

void set_output(std::string& output, std::size_t output_size, const std::string& text) {
  output = text;
  truncate_to(output, output_size == 0 ? 0 : output_size - 1);
}

// Reads whatever the pipe holds now. Keeps the first kErrorOutputKept bytes and throws the
// rest away, so the program never blocks on a full pipe.
struct ErrorPipe {
  explicit ErrorPipe(int read_fd) : fd(read_fd) {}
  int fd;
  bool open = true;
  bool failed = false;
  std::string kept;

  void drain() {
    char piece[4096];
    while (open) {
      ssize_t n = ::read(fd, piece, sizeof piece);
      if (n > 0) {
        std::size_t room = kErrorOutputKept - kept.size();
        kept.append(piece, std::min(room, static_cast<std::size_t>(n)));
      } else if (n == 0) {
        open = false;
      } else if (errno == EINTR) {
        continue;
      } else {
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
          failed = errno != EPIPE;
          open = false;
        }
        return;
      }
    }
  }
};

// A descriptor that becomes readable when the process ends, so a finished program is noticed
// at once instead of at the next poll; -1 where the kernel has none.
int open_process_fd(pid_t pid) {
#ifdef SYS_pidfd_open
  long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#else
  (void)pid;
#endif
  return -1;
}

// Waits for the process without blocking longer than a poll; true once it has ended.
bool reap(pid_t pid, int& status) {
  for (;;) {
    pid_t w = ::waitpid(pid, &status, WNOHANG);
    if (w == pid) return true;
    if (w == 0) return false;
    if (errno == EINTR) continue;
    status = -1;  // already reaped elsewhere: the status is lost, count it as a failure
    return true;
  }
}

// True once the process has ended; it stays a zombie (not reaped), so its number cannot be
// given to another process while its group is still being signalled.
bool has_ended(pid_t pid) {
  for (;;) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
      return info.si_pid == pid;
    if (errno != EINTR) return true;  // nothing left to wait for
  }
}

// Asks the program's whole process group to end, then forces it (also what the first
// process left behind), then collects the exit status.
void terminate_group(pid_t pid, ErrorPipe& pipe, int& status) {
  ::kill(-pid, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + kTerminateGrace;
  while (!has_ended(pid) && std::chrono::steady_clock::now() < deadline) {
    pipe.drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(-pid, SIGKILL);
  for (;;) {
    if (::waitpid(pid, &status, 0) == pid) return;
    if (errno != EINTR) {
      status = -1;
      return;
    }
  }
}

// The watcher's descriptor of the lifeline's reading end.
constexpr int kLifelineFd = 3;
// How often the watcher looks whether the program has ended, and how long the program has to
// end on SIGTERM before SIGKILL once this process is gone.
constexpr int kWatchMilliseconds = 100;
constexpr int kWatchGraceRounds = 20;

// The watcher, in the forked copy of this process: only calls a signal handler may make (the
// other threads of this process do not exist here, and whatever lock they held stays held).
[[noreturn]] void watch(const char* path, char* const argv[], const std::vector<DescriptorMap>& map,
                        int lifeline) {
  ::setpgid(0, 0);
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD})
    ::sigaction(sig, &default_action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  // Out of the way of the descriptors the program gets.
  lifeline = ::fcntl(lifeline, F_DUPFD, kLifelineFd + 1);
  if (lifeline < 0) ::_exit(127);
  for (const DescriptorMap& m : map) ::dup2(m.ours, m.theirs);
  if (::dup2(lifeline, kLifelineFd) < 0) ::_exit(127);
  // Nothing else of this process stays open here: not a copy's file (which would keep its
  // disk from being unmounted), nor another helper's pipe (which would never see its end).
  if (::syscall(SYS_close_range, kLifelineFd + 1, ~0U, 0) != 0)
    for (int fd = kLifelineFd + 1; fd < 4096; ++fd) ::close(fd);  // a kernel without the call
  const pid_t child = ::fork();
  if (child < 0) ::_exit(127);
  if (child == 0) {
    ::close(kLifelineFd);
    ::execve(path, argv, environ);
    ::_exit(127);
  }
  // The program's descriptors are its own now: its ends are seen where they were given.
  for (int fd = 0; fd < kLifelineFd; ++fd) ::close(fd);
  // A SIGTERM to the group ends the program; the watcher stays to reap it, and ends with it.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGTERM, &ignore, nullptr);
  int status = 0;
  int rounds_left = -1;  // counting down once the program was asked to end
  for (;;) {
    // Until this process is gone, the wait is for the lifeline; after, for the program only.
    struct pollfd life = {rounds_left < 0 ? kLifelineFd : -1, POLLIN, 0};
    const int ready = ::poll(&life, 1, kWatchMilliseconds);
    if (::waitpid(child, &status, WNOHANG) == child)
      ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    if (rounds_left < 0 && ready > 0) {
      ::kill(child, SIGTERM);  // this process is gone: its end of the lifeline was closed
      rounds_left = kWatchGraceRounds;
    } else if (rounds_left == 0) {
      ::kill(child, SIGKILL);
    } else if (rounds_left > 0) {
      --rounds_left;
    }
  }
}

}  // namespace

int spawn_bound_to_us(const std::string& program, std::vector<std::string> args,
                      const std::vector<DescriptorMap>& map, pid_t& pid, int& lifeline) {
  // Everything the watcher uses is made before the fork: it may not allocate.
  const std::string path = find_executable(program);
  if (path.empty()) return ENOENT;
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return errno;
  const pid_t watcher = ::fork();
  if (watcher < 0) {
    const int error = errno;
    ::close(ends[0]);
    ::close(ends[1]);
    return error;
  }
  if (watcher == 0) {
    ::close(ends[1]);
    watch(path.c_str(), argv.data(), map, ends[0]);
  }
  // Set here too: whichever of the two comes first, the group exists before it is signalled.
  ::setpgid(watcher, watcher);
  ::close(ends[0]);
  pid = watcher;
  lifeline = ends[1];
  return 0;
}

bool run_program(const std::string& program, const std::vector<std::string>& args,
                 std::string& output, std::size_t output_size, const StopSource& stop) {
  output.clear();
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    set_output(output, output_size,
               format_limited(1000, "Can't create pipe (error code = %ld)",
                              static_cast<long>(errno)));
    return false;
  }
  Fd read_end(ends[0]);
  Fd write_end(ends[1]);

  // Bound to this process: a converter whose run was killed does not go on writing into the
  // archive behind the next run's back.
  pid_t pid = -1;
  int lifeline_end = -1;
  const int rc = spawn_bound_to_us(program, args.empty() ? std::vector<std::string>{program} : args,
                                   {{write_end.get(), STDERR_FILENO}}, pid, lifeline_end);
  Fd lifeline(lifeline_end);  // closed once the program has ended and been reaped
  write_end.reset();  // only the program writes now: its end means end of file here
  if (rc != 0) {
    set_output(output, output_size,
               format_limited(1000, "Can't execute: %s (error code = %ld)", program.c_str(),
                              static_cast<long>(rc)));
    return false;
  }

  ::fcntl(read_end.get(), F_SETFL, ::fcntl(read_end.get(), F_GETFL) | O_NONBLOCK);
  Fd process(open_process_fd(pid));
  ErrorPipe pipe(read_end.get());
  int status = 0;
  bool stopped = false;
  for (;;) {
    struct pollfd fds[2] = {{pipe.open ? pipe.fd : -1, POLLIN, 0}, {process.get(), POLLIN, 0}};
    ::poll(fds, 2, kPollMilliseconds);
    pipe.drain();
    if (reap(pid, status)) break;
    if (stop && stop()) {
      stopped = true;
      terminate_group(pid, pipe, status);
      break;
    }
  }
  // What the program wrote just before it ended; a process it left behind may still hold
  // the pipe, so this takes what is there and does not wait for more.
  pipe.drain();

  if (pipe.failed) {
    set_output(output, output_size, "execute_converter: readfile");
    return false;
  }
  if (stopped || (stop && stop())) {
    set_output(output, output_size, "Stopped");
    return false;
  }
  set_output(output, output_size, pipe.kept);
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string quoted_command_line(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& a : args) {
    line += '"';
    line += a;
    line += "\" ";
  }
  return line;
}

bool run_program_batched(std::string& output, std::size_t output_size,
                         const std::vector<std::string>& args, std::size_t fixed_count,
                         const StopSource& stop) {
  output.clear();
  if (args.empty()) return true;
  std::size_t fixed = std::min(std::max<std::size_t>(fixed_count, 1), args.size());
  for (std::size_t first = fixed; first < args.size(); first += kFilesPerCommand) {
    std::size_t last = std::min(first + kFilesPerCommand, args.size());
    std::vector<std::string> line(args.begin(), args.begin() + static_cast<long>(fixed));
    line.insert(line.end(), args.begin() + static_cast<long>(first),
                args.begin() + static_cast<long>(last));
    log_printf("%s", quoted_command_line(line).c_str());
    if (!run_program(args[0], line, output, output_size, stop)) return false;
  }
  return true;
}

std::string find_executable(const std::string& name) {
  auto executable = [](const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
  };
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return executable(name) ? name : std::string();
  const char* path = std::getenv("PATH");
  const std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  for (std::size_t from = 0; from <= dirs.size();) {
    std::size_t colon = dirs.find(':', from);
    if (colon == std::string::npos) colon = dirs.size();
    const std::string dir = colon == from ? "." : dirs.substr(from, colon - from);
    if (executable(dir + "/" + name)) return dir + "/" + name;
    from = colon + 1;
  }
  return {};
}

bool spawn_detached(const std::string& program, const std::vector<std::string>& args) {
  const std::string found = find_executable(program);
  if (found.empty()) return false;
  // A shell puts the program in the background and ends at once: the program is then a
  // child of init, so this process never has to reap it. The program and its arguments are
  // the shell's positional parameters, never parsed by it.
  std::vector<std::string> argv_text = {"sh", "-c", "exec \"$0\" \"$@\" </dev/null >/dev/null 2>&1 &",
                                        found};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool run_shell_command(const std::string& command) { return run_shell_command(command, {}); }

bool run_shell_command(const std::string& command, const StopSource& stop) {
  const std::string program = "/bin/sh";
  std::vector<std::string> args = {"sh", "-c", command};
  log_printf("Command line: (%s) sh -c %s", program.c_str(), command.c_str());
  std::string output;
  bool ok = run_program(program, args, output, kShellOutputSize, stop);
  if (!ok) {
    ui_print("\nERROR: Failed to execute external command.\n");
    if (output.find("required privilege is not held") != std::string::npos)
      ui_print(
          "For this beta release, you must run CardwrightPro as an Administrator. "
          "See README.md for instructions.");
    else
      ui_print(output);
    ui_print("\n");
  }
  return ok;
}

}  // namespace cw
