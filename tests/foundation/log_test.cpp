// Run log line format, capture for disc, alerts/pane routing and the error trace.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "foundation/log.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using test::captured_ui;
using test::read_file;
using test::TempDir;

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    captured_ui().clear();
    log_set_enabled(true);
    log_set_path(dir.str() + "/cw_log.txt");
  }
  void TearDown() override {
    log_set_enabled(true);
    log_set_path((test::test_root() / "cw_log.txt").string());
  }
  std::string log() { return read_file(dir.str() + "/cw_log.txt"); }
  TempDir dir;
};

TEST_F(LogTest, LinesCarryTimestampAndAnUnopenableLogRetriesLater) {
  log_printf("hello %d", 42);
  log_printf("two\nlines");
  std::string text = log();
  // Opening: an empty line, then the "opened" line.
  EXPECT_THAT(text, StartsWith("\n"));
  const std::string stamp = "[0-9]{4}-[A-Z][a-z]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}: ";
  EXPECT_THAT(text, ContainsRegex(stamp + "Log file [^\n]*cw_log\\.txt opened\n"));
  EXPECT_THAT(text, ContainsRegex(stamp + "hello 42\n"));
  // Embedded newlines are written unchanged inside one line.
  EXPECT_THAT(text, HasSubstr(": two\nlines\n"));

  log_set_path(dir.str() + "/missing/cw_log.txt");
  log_printf("lost");
  std::filesystem::create_directories(dir.path() / "missing");
  log_printf("kept");
  text = read_file(dir.str() + "/missing/cw_log.txt");
  EXPECT_THAT(text, Not(HasSubstr("lost")));
  EXPECT_THAT(text, HasSubstr("kept"));
}

TEST_F(LogTest, PaneTextIsLoggedTrimmedAlertsAreCutAndBothShowWithTheLogOff) {
  ui_print("\n\nSummary line\n");
  ui_print("\n");  // nothing left to log
  std::string text = log();
  EXPECT_THAT(text, HasSubstr(": Summary line\n"));
  EXPECT_THAT(text, Not(HasSubstr(": \n")));
  EXPECT_EQ(captured_ui().pane, "\n\nSummary line\n\n");
  alert_printf("%s", std::string(1500, 'x').c_str());
  EXPECT_EQ(captured_ui().alerts.back(), std::string(999, 'x'));

  text = log();
  captured_ui().clear();
  log_set_enabled(false);
  log_printf("invisible");
  alert_printf("Alert %s", "text");
  ui_print("pane text\n");
  EXPECT_EQ(log(), text);
  EXPECT_EQ(captured_ui().alerts, std::vector<std::string>{"Alert text"});
  EXPECT_EQ(captured_ui().pane, "pane text\n");
}

TEST_F(LogTest, CapturePathAndCopy) {
  EXPECT_EQ(derive_last_path("/a/b/cw_log.txt"), "/a/b/cw_logLast.txt");
  // No "." in the file part: the last "." anywhere in the path is used.
  EXPECT_EQ(derive_last_path("/a.d/b/log"), "/aLast.txt");
  EXPECT_EQ(derive_last_path("/a/b/log"), "/a/b/logLast.txt");
  EXPECT_EQ(log_last_path(), dir.str() + "/cw_logLast.txt");

  log_printf("before capture");
  auto captured = log_capture_for_disc();
  ASSERT_TRUE(captured);
  EXPECT_EQ(*captured, dir.str() + "/cw_logLast.txt");
  std::string copy = read_file(*captured);
  EXPECT_THAT(copy, HasSubstr("before capture"));
  EXPECT_THAT(copy, HasSubstr("Capturing log for writing to disc."));
  log_printf("after capture");
  std::string text = log();
  EXPECT_LT(text.find("Capturing log"), text.find("after capture"));

  log_close();
  EXPECT_FALSE(log_capture_for_disc());
}

TEST(ErrnoText, FormatsNameNumberAndDescription) {
  EXPECT_EQ(errno_text(0, "plain"), "plain");
  EXPECT_EQ(errno_text(0, nullptr), "???");
  EXPECT_EQ(errno_text(ENOENT, "msg"),
            "msg\n\t\t*** ENOENT (" + std::to_string(ENOENT) + ": \"No such file or directory\") ***");
  EXPECT_EQ(errno_text(kInternalErrorNumber, "m"),
            "m\n\t\t*** ? (2147483647: \"Internal error (nonstandard)\") ***");
  std::string unknown = errno_text(9999, "m");
  EXPECT_THAT(unknown, HasSubstr("*** ? (9999: \"no message string\")"));
  EXPECT_EQ(errno_text(EIO, std::string(400, 'a').c_str()).size(), 199u);
  EXPECT_STREQ(symbol_name("errno", EACCES), "EACCES");
  EXPECT_STREQ(symbol_name("errno", -77), "?");
  EXPECT_STREQ(symbol_name("other", EACCES), "?");
}

TEST(ErrorTrace, PrintsNewestFirstWithErrorNumberOnlyOnTheOldest) {
  // Run in a child process: the trace lives until exit and is printed by the exit handler.
  TempDir dir;
  const std::string err_file = dir / "stderr";
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(open(err_file.c_str(), O_WRONLY | O_CREAT, 0600), 2);
    errstack_push("[fcn???]", "scan.cpp", 10, "fatal(\"Permission denied\")", ENOENT, 7);
    errstack_push("[fcn???]", "scan.cpp", 20, "scanDir(x, 1)", EIO, 0);
    errstack_push("[fcn???]", "drv.cpp", 30, nullptr, EIO, 0);
    std::exit(errstack_depth() == 3 ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read_file(err_file),
            "ERROR:\t0: [fcn???] [drv.cpp:30] \n"
            "\t1: [fcn???] [scan.cpp:20] scanDir(x, 1)\n"
            "\t2: [fcn???] [scan.cpp:10] fatal(\"Permission denied\")\n\t\t*** ENOENT (" +
                std::to_string(ENOENT) + ": \"No such file or directory\") ***\n");
}

}  // namespace
}  // namespace cw
