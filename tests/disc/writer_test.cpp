// The disc writer's flow on a fake recorder, the name rules of a disc's layout, and write
// progress as a meter computes it and as the console shows it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>

#include "disc/burn.h"
#include "disc/burn_progress.h"
#include "disc/disc_writer.h"
#include "disc/drive_holder.h"
#include "foundation/log.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

using ::testing::ElementsAre;

// One recorder whose medium each bind takes from a queue (the last one stays); `until_cancel`
// makes a write run until it is cancelled, `fail_code` fail with a code and no text.
struct FakeSystem : DiscSystem {
  std::deque<MediaInfo> media{{MediaInfo::kReady, kMediaDvdDashR, true, ""}};
  bool until_cancel = false;
  std::string holder;
  unsigned fail_code = 0;
  std::vector<std::string> written;  // volume ids
  int ejects = 0;
  std::atomic<int> progress_events{0};

  struct Fake : Recorder {
    FakeSystem& s;
    explicit Fake(FakeSystem& sys) : s(sys) {}
    std::vector<int> supported_media() override { return {kMediaCdR, kMediaDvdDashR}; }
    MediaInfo media() override {
      MediaInfo m = s.media.front();
      if (s.media.size() > 1) s.media.pop_front();
      return m;
    }
    bool write(const DiscImage& image, const WriteEvents& events, WriteError& error) override {
      WriteProgress p;
      p.progress_percent = 50;
      // One report, or reports until cancelled: ten seconds at most, however slowly the test's
      // thread gets to press Burn again on a busy machine.
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      do {
        if (events.progress(p)) {
          error.message = user_canceled_text();
          return false;
        }
        ++s.progress_events;
      } while (s.until_cancel && std::chrono::steady_clock::now() < give_up);
      if (s.fail_code != 0) {
        error.code = s.fail_code;
        return false;
      }
      s.written.push_back(image.volume_id);
      return true;
    }
    void eject() override { ++s.ejects; }
  };
  bool recorders(std::vector<RecorderInfo>& list, std::string&) override {
    list = {{"/dev/sr0", "/dev/sr0 [FAKE DVD]"}};
    return true;
  }
  std::unique_ptr<Recorder> open(const std::string&, OpenFailure& failure) override {
    if (!holder.empty()) {
      failure.exclusive_owner = holder;
      return nullptr;
    }
    return std::make_unique<Fake>(*this);
  }
};

DiscSet set_of(std::vector<std::uint64_t> sizes) {
  DiscSet set;
  set.title = "Primary Folders";
  set.label = "1234A";
  for (std::uint64_t size : sizes)
    set.discs.push_back(Disc{{DiscFolder{"f", {}, size}}, size, size});
  return set;
}

TEST(WriterTest, MediaChecks) {
  const MediaInfo none{MediaInfo::kNoMedium, 0, false, ""};
  const MediaInfo cd{MediaInfo::kReady, kMediaCdR, true, ""};
  const MediaInfo dvd{MediaInfo::kReady, kMediaDvdDashR, true, ""};
  const MediaInfo dvd_rom{MediaInfo::kReady, kMediaDvdRom, false, ""};
  const MediaInfo used{MediaInfo::kReady, kMediaDvdPlusR, false, ""};
  EXPECT_EQ(media_refusal(none, true), "No writable media in burner. Insert disc and press Burn.");
  EXPECT_EQ(media_refusal(cd, true), "");
  EXPECT_EQ(media_refusal(cd, false),
            "Writable DVD (not CD) is required. Insert disc and press Burn.");
  EXPECT_EQ(media_refusal(dvd, false), "");
  EXPECT_EQ(media_refusal(dvd_rom, true),
            "Writable CD or DVD is required. Insert disc and press Burn.");
  EXPECT_EQ(media_refusal(dvd_rom, false), "Writable DVD is required. Insert disc and press Burn.");
  EXPECT_NE(media_refusal(used, false), "");
  EXPECT_TRUE(cd_allowed(set_of({500'000'000})));
  EXPECT_FALSE(cd_allowed(set_of({600'000'001})));
}

TEST(WriterTest, FailedDiscIsRetriedAndTheSetEnds) {
  FakeSystem fake;
  fake.media = {{MediaInfo::kNoMedium, 0, false, ""},
                {MediaInfo::kReady, kMediaCdR, true, ""},
                {MediaInfo::kReady, kMediaDvdDashR, true, ""}};
  test::captured_ui().clear();
  DiscWriter writer(set_of({100, 100, 100}), fake);
  ASSERT_TRUE(writer.open());
  EXPECT_EQ(writer.supported_disc_types(), (std::vector<std::string>{"CD-R", "DVD-R"}));
  writer.burn();
  EXPECT_FALSE(writer.wait());
  EXPECT_EQ(writer.view().status, "No writable media in burner. Insert disc and press Burn.");
  writer.burn();
  EXPECT_FALSE(writer.wait());  // a CD for a set of three discs
  EXPECT_EQ(writer.view().retry_prompt,
            "Press Burn again to retry burning disc 1234A_001 (after inserting a fresh disc if "
            "needed). Or press Close to stop burning.");
  EXPECT_EQ(fake.ejects, 2);
  EXPECT_TRUE(fake.written.empty());
  for (int i = 0; i < 3; ++i) {
    writer.burn();
    EXPECT_TRUE(writer.wait());
  }
  EXPECT_EQ(fake.written, (std::vector<std::string>{"1234A_001", "1234A_002", "1234A_003"}));
  EXPECT_EQ(writer.view().status, "Burned disc 1234A_003 successfully. Panel can now be closed.");
  EXPECT_FALSE(writer.view().burn_enabled);
  EXPECT_EQ(writer.close(), 3);
  EXPECT_NE(test::captured_ui().pane.find("Burned disc 1234A_002 successfully.\n"),
            std::string::npos);
  EXPECT_NE(test::captured_ui().pane.find("Successful burn -- 3 disc(s) were burned."),
            std::string::npos);
}

TEST(WriterTest, CancelStopsTheWriteAndKeepsTheDisc) {
  FakeSystem fake;
  fake.until_cancel = true;
  DiscWriter writer(set_of({100, 100}), fake);
  ASSERT_TRUE(writer.open());
  writer.burn();
  while (fake.progress_events == 0) std::this_thread::yield();
  writer.burn();  // pressed again while writing: cancel
  EXPECT_FALSE(writer.wait());
  EXPECT_EQ(writer.view().status, "User Canceled!");
  EXPECT_EQ(writer.view().next_disc, 0u);
  EXPECT_TRUE(fake.written.empty());

  // Through the command-line flow: the user agrees to the first disc, stops at the second.
  fake.until_cancel = false;
  test::captured_ui().clear();
  test::captured_ui().yes_no_answers = {true, false};
  BurnOutcome outcome = burn_discs(set_of({100, 100}), fake, "", [](const std::string& question) {
    return test::captured_ui().ask_yes_no(question);
  });
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.discs_burned, 1);
  EXPECT_EQ(test::captured_ui().questions.size(), 2u);
}

TEST(WriterTest, BusyRecorderAndAFailureWithOnlyACodeAreShownAndLogged) {
  FakeSystem fake;
  fake.holder = "k3b (process 4242)";
  DiscWriter writer(set_of({100}), fake);
  ASSERT_TRUE(writer.open());
  writer.burn();
  EXPECT_FALSE(writer.wait());
  EXPECT_EQ(writer.view().status, "Failed: k3b (process 4242) is exclusive owner");
  EXPECT_FALSE(writer.view().retry_prompt.empty());

  fake.holder.clear();
  fake.fail_code = 0x0002014a;
  writer.burn();
  EXPECT_FALSE(writer.wait());
  EXPECT_EQ(writer.view().status, "Burn failed! Error: 0x0002014a");
  EXPECT_EQ(writer.view().next_disc, 0u);
  EXPECT_TRUE(fake.written.empty());

  const std::string log = test::read_file(log_path());
  EXPECT_NE(log.find(": Failed: k3b (process 4242) is exclusive owner\n"), std::string::npos);
  EXPECT_NE(log.find(": Burn failed! Error: 0x0002014a\n"), std::string::npos);
}

TEST(WriterTest, NamesTakenInAFolderGetNumbered) {
  DiscSet set = set_of({});
  set.root = "/r";
  set.discs.push_back(
      Disc{{DiscFolder{"a", {"x", "z", "z"}, 3}, DiscFolder{"a/x", {"y"}, 1}}, 4, 4});
  DiscImage image;
  std::string message;
  ASSERT_TRUE(lay_out_disc(set, 0, image, message));
  EXPECT_EQ(image.folders, (std::vector<std::string>{"a", "a/x"}));
  ASSERT_EQ(image.files.size(), 4u);
  EXPECT_EQ(image.files[0].path, "a/x_001");
  EXPECT_EQ(image.files[0].source, "/r/a/x");
  EXPECT_EQ(image.files[2].path, "a/z_001");
  EXPECT_EQ(image.files[3].path, "a/x/y");
  EXPECT_FALSE(lay_out_disc(set, 1, image, message));
  EXPECT_EQ(message, "Disc number error");
}

TEST(DriveHolderTest, NamesTheProcessThatHasTheDeviceOpen) {
  test::TempDir dir;
  const std::string device = dir / "sr0";
  test::write_file(device, "");
  EXPECT_EQ(device_holder(device), "");
  EXPECT_FALSE(device_held_exclusively(device));  // a file is never held exclusively
  const int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(device_holder(device), "disc_tests (process " + std::to_string(getpid()) + ")");
  close(fd);
  EXPECT_EQ(device_holder(device), "");
}

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
