// Run log line format, capture for disc, alerts/pane routing and the error trace.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "foundation/log.h"
#include "foundation/text.h"
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
  // A session that logs nothing leaves nothing, not even the "opened" line.
  EXPECT_EQ(log(), "");
  log_printf("hello %d", 42);
  log_printf("two\nlines");
  std::string text = log();
  // The session's first line comes after an empty line and the "opened" line, written once.
  EXPECT_THAT(text, StartsWith("\n"));
  const std::string stamp = "[0-9]{4}-[A-Z][a-z]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}: ";
  EXPECT_THAT(text, ContainsRegex(stamp + "Log file [^\n]*cw_log\\.txt opened\n" + stamp +
                                  "hello 42\n"));
  EXPECT_EQ(text.find("opened", text.find("hello")), std::string::npos) << text;
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

TEST(PrintableText, KeepsUtf8AndLineBreaksAndEscapesEveryOtherControl) {
  // Text that needs nothing comes back unchanged: UTF-8 of two, three and four bytes.
  const std::string plain = "Caf\xc3\xa9 \xe2\x80\x93 \xf0\x9f\x93\xb7\ta\\b\r\n";
  EXPECT_EQ(printable_text(plain), plain);
  // C0 controls, DEL and C1 controls (as UTF-8) are shown escaped, in place.
  EXPECT_EQ(printable_text("EOS\x1b]0;owned\x07 R5\x7f\x01"), "EOS\\x1b]0;owned\\x07 R5\\x7f\\x01");
  EXPECT_EQ(printable_text("a\xc2\x9b" "31mb\xc2\xa0"), "a\\u009b" "31mb\xc2\xa0");
  // Bytes outside valid UTF-8: a lone C1 byte, a cut sequence, an overlong ESC, a surrogate.
  EXPECT_EQ(printable_text("\x9b" "1m"), "\\x9b" "1m");
  EXPECT_EQ(printable_text("x\xe2\x80"), "x\\xe2\\x80");
  EXPECT_EQ(printable_text("\xc0\x9b"), "\\xc0\\x9b");
  EXPECT_EQ(printable_text("\xed\xa0\x80"), "\\xed\\xa0\\x80");
  // Applying it again changes nothing, so every sink may apply it.
  const std::string once = printable_text("\x1b[2J\xff");
  EXPECT_EQ(printable_text(once), once);
  EXPECT_EQ(printable_text(std::string("nul\0in", 6)), "nul\\x00in");
}

TEST_F(LogTest, ControlCharactersReachNeitherTheLogNorTheFrontEnd) {
  const std::string model = "Canon\x1b[31m EOS\x1b]2;title\x07";
  log_printf("Model = %s", model.c_str());
  ui_print("\nCopying: IMG\x1b[2J_0001.JPG\n");
  alert_printf("Can't read \"%s\"\r\r(skipped)", "\x9b" "6n.CR2");
  const std::string text = log();
  EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
  EXPECT_EQ(text.find('\x07'), std::string::npos) << text;
  EXPECT_THAT(text, HasSubstr(": Model = Canon\\x1b[31m EOS\\x1b]2;title\\x07\n"));
  EXPECT_THAT(text, HasSubstr(": Copying: IMG\\x1b[2J_0001.JPG\n"));
  // Every front end gets the escaped text, its own line breaks kept.
  EXPECT_EQ(captured_ui().pane, "\nCopying: IMG\\x1b[2J_0001.JPG\n");
  EXPECT_EQ(captured_ui().alerts.back(), "Can't read \"\\x9b" "6n.CR2\"\r\r(skipped)");
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
