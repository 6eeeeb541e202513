// The outside-program runner.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "foundation/log.h"
#include "foundation/runner.h"
#include "foundation/text.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using test::captured_ui;
using test::read_file;
using test::TempDir;
using test::write_file;

std::vector<std::string> sh(const std::string& script) { return {"sh", "-c", script}; }

// Whether a `sleep MARKER` process runs (not counting a zombie). The marker holds this
// process's id, so that concurrent test runs never see each other's.
bool sleep_running(const std::string& marker) {
  return std::system(("pgrep -f 'slee[p] " + marker + "' >/dev/null").c_str()) == 0;
}

// Whether it has ended within `rounds` looks 20 ms apart: a killed process ends when it is
// next scheduled, on a busy machine a moment later.
bool sleep_ends(const std::string& marker, int rounds) {
  for (int i = 0; i < rounds; ++i) {
    if (!sleep_running(marker)) return true;
    ::usleep(20000);
  }
  return false;
}

TEST(RunProgramTest, ErrorOutputIsCutWithoutBlockingAndExitStatusDecides) {
  std::string out;
  EXPECT_TRUE(run_program("/bin/sh", sh("echo fine >&2"), out, 2000, {}));
  EXPECT_EQ(out, "fine\n");
  // A megabyte of error output fills the pipe many times over; the runner must keep reading.
  const std::string loud = "head -c 1048576 /dev/zero | tr '\\0' x >&2; exit 0";
  EXPECT_TRUE(run_program("/bin/sh", sh(loud), out, 2000, {}));
  EXPECT_EQ(out, std::string(1024, 'x'));
  EXPECT_TRUE(run_program("/bin/sh", sh(loud), out, 200, {}));
  EXPECT_EQ(out, std::string(199, 'x'));

  EXPECT_FALSE(run_program("/bin/sh", sh("exit 1"), out, 2000, {}));
  EXPECT_EQ(out, "");
  EXPECT_FALSE(run_program("/bin/sh", sh("kill -9 $$"), out, 2000, {}));
  // A bare name is found on PATH; a missing program cannot execute.
  EXPECT_TRUE(run_program("sh", sh("exit 0"), out, 2000, {}));
  EXPECT_FALSE(run_program("/nonexistent/converter", {"converter"}, out, 2000, {}));
  EXPECT_EQ(out, "Can't execute: /nonexistent/converter (error code = 2)");
}

TEST(RunProgramTest, StopEndsTheProgramAndEverythingItStarted) {
  std::string out;
  auto start = std::chrono::steady_clock::now();
  StopSource stop = [start] {
    return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300);
  };
  // The shell waits for its own child, which holds the error pipe open too.
  const std::string seconds = "31." + std::to_string(getpid());
  EXPECT_FALSE(run_program("/bin/sh", sh("sleep " + seconds + "; echo late >&2"), out, 2000, stop));
  EXPECT_EQ(out, "Stopped");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(sleep_ends(seconds, 100)) << "child left running";
}

TEST(RunProgramBatchedTest, FiftyFilesPerCommandLineAfterTheFixedPart) {
  TempDir dir;
  const std::string script = dir / "record.sh";
  const std::string calls = dir / "calls.txt";
  write_file(script, "#!/bin/sh\necho \"$# $1 $4 $5\" >> '" + calls +
                         "'\n[ \"$5\" = \"$FAIL_AT\" ] && exit 1\nexit 0\n");
  chmod(script.c_str(), 0755);

  std::vector<std::string> args = {script, "-c", "-p1", "-d", "/out dir"};
  for (int i = 1000; i < 1120; ++i) args.push_back(format_limited(16, "f%d", i));
  std::string out;
  unsetenv("FAIL_AT");
  EXPECT_TRUE(run_program_batched(out, 2000, args, 5, {}));
  EXPECT_EQ(read_file(calls),
            "54 -c /out dir f1000\n54 -c /out dir f1050\n24 -c /out dir f1100\n");
  std::string line = quoted_command_line({script, "-c", "-p1", "-d", "/out dir", "f1100"});
  EXPECT_EQ(line.substr(line.size() - 24), "\"-d\" \"/out dir\" \"f1100\" ");
  EXPECT_THAT(read_file(log_path()), HasSubstr(line));

  // The first failing batch ends the run.
  write_file(calls, "");
  setenv("FAIL_AT", "f1050", 1);
  EXPECT_FALSE(run_program_batched(out, 2000, args, 5, {}));
  unsetenv("FAIL_AT");
  EXPECT_EQ(read_file(calls), "54 -c /out dir f1000\n54 -c /out dir f1050\n");

  // No files: nothing runs, and that is success.
  write_file(calls, "");
  EXPECT_TRUE(run_program_batched(out, 2000, {script, "-c"}, 2, {}));
  EXPECT_EQ(read_file(calls), "");
}

TEST(RunShellCommandTest, FailureIsShownInThePane) {
  captured_ui().clear();
  EXPECT_TRUE(run_shell_command("exit 0"));
  EXPECT_EQ(captured_ui().pane, "");
  EXPECT_THAT(read_file(log_path()), HasSubstr("Command line: (/bin/sh) sh -c exit 0"));

  EXPECT_FALSE(run_shell_command("echo 'no such track' >&2; exit 3"));
  EXPECT_EQ(captured_ui().pane,
            "\nERROR: Failed to execute external command.\nno such track\n\n");

  captured_ui().clear();
  EXPECT_FALSE(run_shell_command("echo 'A required privilege is not held' >&2; exit 1"));
  EXPECT_THAT(captured_ui().pane, HasSubstr("you must run CardwrightPro as an Administrator"));
  EXPECT_THAT(captured_ui().pane, Not(HasSubstr("A required privilege")));
}

TEST(SpawnBoundToUsTest, TheProgramServesItsOwnerAndEndsWhenTheOwnerIsKilled) {
  // In use: the program reads and writes through the descriptors it was given, and its end
  // ends its watcher with its status.
  int in[2], out[2];
  ASSERT_EQ(::pipe(in), 0);
  ASSERT_EQ(::pipe(out), 0);
  pid_t pid = -1;
  int lifeline = -1;
  ASSERT_EQ(spawn_bound_to_us("cat", {"cat"}, {{in[0], 0}, {out[1], 1}}, pid, lifeline), 0);
  ::close(in[0]);
  ::close(out[1]);
  ASSERT_EQ(::write(in[1], "card\n", 5), 5);
  ::close(in[1]);
  char echoed[16] = {};
  EXPECT_EQ(::read(out[0], echoed, sizeof echoed), 5);
  EXPECT_STREQ(echoed, "card\n");
  ::close(out[0]);
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ::close(lifeline);
  EXPECT_EQ(spawn_bound_to_us("cardwright-no-such-program", {"x"}, {}, pid, lifeline), ENOENT);

  // Its owner killed: the program goes too, though it would have slept for minutes.
  const std::string marker = "97." + std::to_string(::getpid());
  const pid_t owner = ::fork();
  ASSERT_GE(owner, 0);
  if (owner == 0) {
    pid_t watcher = -1;
    int line = -1;
    if (spawn_bound_to_us("sleep", {"sleep", marker}, {}, watcher, line) != 0) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  for (int i = 0; i < 100 && !sleep_running(marker); ++i) ::usleep(20000);
  ASSERT_TRUE(sleep_running(marker));
  ::kill(owner, SIGKILL);
  ASSERT_EQ(::waitpid(owner, &status, 0), owner);
  const bool ended = sleep_ends(marker, 150);
  EXPECT_TRUE(ended);
  if (!ended) std::system(("pkill -f 'slee[p] " + marker + "'").c_str());
}

}  // namespace
}  // namespace cw
