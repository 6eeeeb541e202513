// One ingestion through the sequence both front ends drive: prepare, start, tick, finish, with
// the session's drives and eject replaced by fakes and the hooks recording what reached them.
#include "control/ingestion_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

#include "control/app_session.h"
#include "database/database.h"
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
  std::string newest(const std::string& column) {
    auto r = session->database()->query("select ifnull(" + column +
                                        ", '') from ingestion order by ingestion_sk desc limit 1");
    return r && !r->rows.empty() ? r->rows[0][0] : "";
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
  EXPECT_EQ(newest("result"), "SUCCESS");
  EXPECT_EQ(starting_number(), "4");
  EXPECT_THAT(captured_ui().pane, HasSubstr("\nFinished\n"));
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
  EXPECT_THAT(newest("result"), HasSubstr("SUCCESS"));
  EXPECT_TRUE(ejected.empty());  // cards are ejected from the monitor, never automatically
}

}  // namespace
}  // namespace cw
