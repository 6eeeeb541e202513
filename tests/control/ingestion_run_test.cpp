// One ingestion through the sequence both front ends drive, on fake drives and eject.
#include "control/ingestion_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

#include "control/app_session.h"
#include "control/image_choice.h"
#include "platform/fake_drive_source.h"
#include "settings/param.h"
#include "settings/preferences.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/sample_card.h"

namespace cw {
namespace {

namespace fs = std::filesystem;
using test::captured_ui;
using test::images_below;
using test::TempDir;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

struct Run : ::testing::Test {
  TempDir dir;
  std::string archive = dir / "archive";
  FakeDriveSource drives;
  std::mutex ejected_mutex;
  std::vector<std::string> ejected;
  std::unique_ptr<AppSession> session;

  void SetUp() override { captured_ui().clear(); }
  void TearDown() override {
    session.reset();
    captured_ui().clear();
  }

  // A mounted card of `count` images; its root.
  std::string card(const std::string& name, int count) {
    fixtures::CardSpec spec;
    spec.count = count;
    spec.raw_every = 0;
    spec.jpeg_width = spec.jpeg_height = 16;
    spec.prefix = name.substr(0, 3) + "_";
    EXPECT_EQ(fixtures::write_sample_card(dir / name, spec).size(),
              static_cast<std::size_t>(count));
    drives.add_card(dir / name, name, "Reader", "SD");
    return dir / name;
  }
  void open_session() {
    SessionServices services;
    services.drives = [this] { return std::make_unique<FakeDriveSource>(drives); };
    services.eject = [this](const std::string& root, std::FILE*) {
      std::lock_guard<std::mutex> hold(ejected_mutex);
      ejected.push_back(root);
      return true;
    };
    session = std::make_unique<AppSession>(captured_ui(), kSessionIngest, std::move(services));
    ASSERT_TRUE(session->ok());
    session->settings().master().put_int("AutoEject", 1);
  }
  StartRequest request() {
    StartRequest r;
    r.given.values[kParamPrimaryFolder] = archive;
    r.given.values[kParamWantBackup] = "0";
    r.given.values[kParamWantJpegVerify] = "0";
    r.given.values[kParamStartingNumber] = "1";
    return r;
  }
  // Runs `r` from Start to its end; whether it succeeded.
  bool run_to_end(const StartRequest& r) {
    IngestionRun run(*session);
    if (run.prepare(r).stop != StartStop::kNone || !run.start()) return false;
    while (run.tick()) run.wait(std::chrono::milliseconds(50));
    return run.finish().success;
  }
};

TEST_F(Run, ASingleSourceGoesFromTheStartToTheEjectOfItsCard) {
  const std::string root = card("card", 3);
  open_session();
  int looks = 0;
  bool seen_running = false;
  RunHooks hooks;
  hooks.progress = [&](const MonitorView& view) {
    ++looks;
    seen_running = seen_running || view.running;
  };
  IngestionRun run(*session, std::move(hooks));
  StartRequest r = request();
  r.source = root + "/DCIM";
  ASSERT_EQ(run.prepare(r).stop, StartStop::kNone) << captured_ui().pane;
  ASSERT_TRUE(run.start());
  while (run.running()) {
    run.wait(std::chrono::milliseconds(50));
    run.tick();
  }
  const RunFinish finish = run.finish();

  EXPECT_TRUE(finish.success);
  EXPECT_TRUE(finish.burned);
  EXPECT_GT(looks, 0);
  EXPECT_TRUE(seen_running);
  EXPECT_EQ(images_below(archive), 3u);
  // "AutoEject": the mounted card holding the source, through the session's eject.
  EXPECT_THAT(ejected, ElementsAre(root));
}

TEST_F(Run, CardsModeTakesTheTickedCardsAndAnUnrunMonitorKeepsTheNumber) {
  card("one", 2);
  const std::string left_out = card("two", 3);
  open_session();
  ASSERT_TRUE(set_starting_number("40"));
  {
    // Closed without a run (a window's monitor closed before Start).
    IngestionRun unrun(*session);
    StartRequest r = request();
    r.cards_mode = true;
    r.given.values[kParamStartingNumber] = kUnsetParam;
    ASSERT_EQ(unrun.prepare(r).stop, StartStop::kNone) << captured_ui().pane;
    EXPECT_FALSE(unrun.finish().success);
    EXPECT_EQ(starting_number(), "40");
  }
  IngestionRun run(*session);
  StartRequest r = request();
  r.cards_mode = true;
  ASSERT_EQ(run.prepare(r).stop, StartStop::kNone) << captured_ui().pane;
  ASSERT_TRUE(run.start({left_out}));
  while (run.tick()) run.wait(std::chrono::milliseconds(50));
  const RunFinish finish = run.finish();

  EXPECT_TRUE(finish.success);
  EXPECT_EQ(images_below(archive), 2u);
  EXPECT_TRUE(ejected.empty());  // cards are ejected from the monitor, never automatically
}

// The image chooser greys out what the next run would skip: an image whose archived copy has
// since changed (same size, same place) is copied again, so it is not shown as archived.
TEST_F(Run, TheChooserMarksArchivedExactlyWhatTheNextRunSkips) {
  const std::string root = card("card", 2);
  open_session();
  StartRequest r = request();
  r.source = root + "/DCIM";
  ASSERT_TRUE(run_to_end(r)) << captured_ui().pane;
  const std::vector<ChoiceImage> images = list_choice_images(*session, root + "/DCIM");
  ASSERT_EQ(images.size(), 2u);
  EXPECT_THAT(archived_images(*session, images), ElementsAre(true, true));

  // The second image's copy is rewritten with other bytes of the same size.
  std::string bytes = test::read_file(images[1].path);
  std::string copy;
  for (const auto& e : fs::recursive_directory_iterator(archive))
    if (e.is_regular_file() && test::read_file(e.path()) == bytes) copy = e.path();
  ASSERT_FALSE(copy.empty());
  bytes[bytes.size() / 2] ^= 0x55;
  test::write_file(copy, bytes);
  EXPECT_THAT(archived_images(*session, images), ElementsAre(true, false));

  // And the run agrees: only that image is copied again, beside the changed copy.
  ASSERT_TRUE(run_to_end(r)) << captured_ui().pane;
  EXPECT_EQ(images_below(archive), 3u);
}

// A camera named "Test Camera" that holds no images.
struct EmptyCamera : NoCameraSource {
  bool open_device(const std::string& name, std::string& message) override {
    return name == kName || NoCameraSource::open_device(name, message);
  }
  bool images_for_device(const std::string& name, std::vector<std::string>&,
                         std::string& message) override {
    return open_device(name, message);
  }
  static constexpr const char* kName = "Test Camera";
};

TEST_F(Run, ACameraGivenToTheSessionIsCheckedAndListed) {
  SessionServices services;
  services.cameras = std::make_unique<EmptyCamera>();
  session = std::make_unique<AppSession>(captured_ui(), kSessionIngest, std::move(services));
  ASSERT_TRUE(session->ok());

  IngestionRun absent(*session);
  StartRequest r = request();
  r.source = "ptp/Another Camera";
  EXPECT_EQ(absent.prepare(r).stop, StartStop::kNoCamera);
  EXPECT_THAT(captured_ui().pane, HasSubstr("No camera named Another Camera is connected."));

  captured_ui().clear();
  r.source = std::string("ptp/") + EmptyCamera::kName;
  EXPECT_TRUE(run_to_end(r)) << captured_ui().pane;
  EXPECT_THAT(captured_ui().pane, Not(HasSubstr("No camera named")));
}

}  // namespace
}  // namespace cw
