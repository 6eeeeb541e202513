// Write progress as a meter computes it and as the console shows it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "disc/burn_progress.h"

namespace cw {
namespace {

using ::testing::ElementsAre;

constexpr std::uint64_t kMB = 1'000'000;

TEST(WriteMeterTest, PercentRateAndTimeLeftFollowTheRecentReadings) {
  WriteMeter m;
  m.feed(0, 100 * kMB, 0.0);
  EXPECT_EQ(m.percent(), 0);
  EXPECT_EQ(m.rate_text(), "");  // one reading measures no rate
  EXPECT_EQ(m.eta_seconds(), -1);
  EXPECT_EQ(m.line(), "0%");

  m.feed(8 * kMB, 100 * kMB, 1.0);
  EXPECT_EQ(m.percent(), 8);
  EXPECT_DOUBLE_EQ(m.bytes_per_second(), 8e6);
  EXPECT_EQ(m.eta_seconds(), 12);  // 92 MB at 8 MB/s = 11.5 s, rounded up
  EXPECT_EQ(m.line(), "8%  8.0 MB/s  ETA 0:12");

  // The drive speeds up to 16 MB/s: once the old readings have left the five-second window,
  // rate and time left are those of the new speed, not the average since the start.
  for (int s = 2; s <= 8; ++s) m.feed(8 * kMB + (s - 1) * 16 * kMB, 200 * kMB, s);
  EXPECT_DOUBLE_EQ(m.bytes_per_second(), 16e6);
  EXPECT_EQ(m.percent(), 60);  // 120 MB of 200
  EXPECT_EQ(m.line(), "60%  16.0 MB/s  ETA 0:05");

  m.feed(200 * kMB, 200 * kMB, 13.0);
  EXPECT_EQ(m.percent(), 100);
  EXPECT_EQ(m.eta_text(), "0:00");
  const double at_end = m.bytes_per_second();
  m.feed(200 * kMB, 200 * kMB, 20.0);  // the drive closing the disc: the rate stays as it was
  EXPECT_DOUBLE_EQ(m.bytes_per_second(), at_end);

  // A long disc at a slow rate: the time left in hours.
  WriteMeter slow;
  slow.feed(0, 10'000 * kMB, 0.0);
  slow.feed(1 * kMB, 10'000 * kMB, 1.0);
  EXPECT_EQ(slow.eta_text(), "2:46:39");  // 9,999 s
  EXPECT_EQ(slow.rate_text(), "1.0 MB/s");

  // Without a total only the rate can be told; a count that goes back starts afresh.
  WriteMeter open_ended;
  open_ended.feed(0, 0, 0.0);
  open_ended.feed(3 * kMB, 0, 2.0);
  EXPECT_EQ(open_ended.percent(), -1);
  EXPECT_EQ(open_ended.line(), "1.5 MB/s");
  open_ended.feed(1 * kMB, 0, 3.0);
  EXPECT_EQ(open_ended.line(), "");
}

TEST(ConsoleProgressTest, RewritesOneLineOnATerminalAndWritesTenthsOtherwise) {
  std::vector<std::string> tty;
  ConsoleProgress terminal([&](const std::string& s) { tty.push_back(s); }, true);
  terminal.show("Disc_001", -1, "");  // nothing measured yet: nothing shown
  terminal.show("Disc_001", 5, "5%  12.0 MB/s  ETA 1:10");
  terminal.show("Disc_001", 6, "6%  9.5 MB/s  ETA 1:30");  // one shorter: one space over
  terminal.show("Disc_001", 7, "7%");  // shorter: the rest of the old line is blanked
  terminal.show("Disc_001", 7, "7%");  // the same again is not rewritten
  terminal.end();
  terminal.end();  // a second end adds nothing
  EXPECT_THAT(tty, ElementsAre("\rDisc_001: 5%  12.0 MB/s  ETA 1:10",
                               "\rDisc_001: 6%  9.5 MB/s  ETA 1:30 ",
                               "\rDisc_001: 7%" + std::string(20, ' '), "\n"));

  std::vector<std::string> log;
  ConsoleProgress piped([&](const std::string& s) { log.push_back(s); }, false);
  for (int p : {0, 3, 9, 10, 15, 27, 29, 100, 100})
    piped.show("Disc_001", p, std::to_string(p) + "%");
  piped.show("Disc_002", 4, "4%");  // the next disc counts its tenths anew
  piped.end();
  piped.show("Disc_002", 6, "6%");  // and so does a retry of it
  EXPECT_THAT(log, ElementsAre("Disc_001: 0%\n", "Disc_001: 10%\n", "Disc_001: 27%\n",
                               "Disc_001: 100%\n", "Disc_002: 4%\n", "Disc_002: 6%\n"));
}

}  // namespace
}  // namespace cw
