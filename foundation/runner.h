// Runs outside programs (the DNG converter, shell commands) and waits for them, polling a stop
// request every 250 milliseconds. The program's standard error is collected while it runs (so
// it can never block on a full pipe); the caller gets the first bytes of it and the verdict.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace cw {

// Returns true when the user asked the current operation to stop. Empty: never.
using StopSource = std::function<bool()>;

// Runs `program` with `args` (args[0] is the program's own name, as in argv).
// `output` receives at most the first 1024 bytes of the error output, cut to
// output_size - 1. Returns true when the program started, ran to its end, was not stopped and
// exited with status 0.
bool run_program(const std::string& program, const std::vector<std::string>& args,
                 std::string& output, std::size_t output_size, const StopSource& stop);

// Runs args[0] once per batch of 50 file arguments; args[1 .. fixed_count-1] are options that
// start every command line. Each command line is logged. Stops at the first failing batch.
bool run_program_batched(std::string& output, std::size_t output_size,
                         const std::vector<std::string>& args, std::size_t fixed_count,
                         const StopSource& stop);

// One descriptor of ours given to the program as one of its own (e.g. a pipe's end as its
// standard error).
struct DescriptorMap {
  int ours;
  int theirs;
};

// Starts `program` (a bare name is looked up on PATH) with `args` (args[0] is its own name) in
// a process group of its own, with no signal blocked and the stop and pipe signals at their
// defaults, and the descriptors `map` gives it. The program does not outlive this process,
// however this process ends (killed, crashed): `pid` is a small watcher of ours, the leader of
// the group it shares with the program, which waits for the program and ends with it (with
// its exit status), and ends it once `lifeline` closes. The caller holds `lifeline` while the
// program runs and closes it once the program has ended; should this process end first, the
// system closes it. A signal to the group reaches both. 0, or an error number (ENOENT: no such
// program); a program that cannot be executed ends its watcher with status 127.
int spawn_bound_to_us(const std::string& program, std::vector<std::string> args,
                      const std::vector<DescriptorMap>& map, pid_t& pid, int& lifeline);

// Runs a command text through /bin/sh -c, reporting a failure in the text pane.
bool run_shell_command(const std::string& command);
bool run_shell_command(const std::string& command, const StopSource& stop);

// The executable file `name` names: itself when it contains a "/", else the first executable
// file of that name in the folders of PATH. Empty when there is none.
std::string find_executable(const std::string& name);

// Starts `program` (a path, or a name found on PATH) with `args` (without argv[0]) detached
// from this process: no waiting, standard streams on /dev/null, nothing left to reap. False
// when the program cannot be found or started.
bool spawn_detached(const std::string& program, const std::vector<std::string>& args);

// Logged form of a command line: every argument in double quotes followed by a space.
std::string quoted_command_line(const std::vector<std::string>& args);

}  // namespace cw
