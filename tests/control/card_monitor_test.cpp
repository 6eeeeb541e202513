// The ingestion monitor in cards mode, its slots running at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "control/card_monitor.h"
#include "database/database.h"
#include "foundation/log.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/sample_card.h"

namespace cw {
namespace {

namespace fs = std::filesystem;
using test::captured_ui;
using test::TempDir;
using ::testing::HasSubstr;

struct Cards : ::testing::Test {
  TempDir dir;
  std::string archive = dir / "archive";
  Database db;
  int key = -1;

  void SetUp() override {
    captured_ui().clear();
    ASSERT_TRUE(db.open(dir / "cards.sqlite3"));
    ASSERT_TRUE(db.install_default_entities());
    key = db.ingestion_insert(db.unknown_project(-1), db.unknown_card(), 0, 0, 0, std::nullopt);
  }
  void TearDown() override { captured_ui().clear(); }

  // A card root with `count` images from `first_capture` on.
  MonitorCard card(const std::string& name, const std::string& first_capture, int count = 2) {
    const auto spec = fixtures::jpeg_card(count, name.substr(0, 3) + "_", first_capture);
    EXPECT_EQ(fixtures::write_sample_card(dir / name, spec).size(), std::size_t(count));
    return MonitorCard{dir / name, name, "Reader"};
  }
  MonitorSetup setup() {
    MonitorSetup s;
    s.params = default_param_list();
    s.params.values[kParamCardFolder] = "[mounted cards]";
    s.params.values[kParamPrimaryFolder] = archive;
    s.params.values[kParamNameFormat] = "{@sequence}_{@filename}";
    s.params.values[kParamFolderFormat].clear();
    s.params.values[kParamWantJpegVerify] = "0";
    s.params.values[kParamIngestionId] = std::to_string(key);
    s.cards_mode = true;
    s.database = &db;
    return s;
  }
  static void run_to_end(CardMonitor& m) {
    while (m.running()) {
      m.wait_for_slot_end(std::chrono::milliseconds(50));
      m.tick();
    }
  }
  std::string result() {
    auto r = db.query("select result from ingestion where ingestion_sk = " + std::to_string(key));
    return r && !r->rows.empty() ? r->rows[0][0] : "";
  }
};

TEST_F(Cards, SlotsNameInTheOrderOfTheirFirstImagesAndAFailureIsRed) {
  CardMonitor m(setup());
  // Eight slots: three timed cards, one left unticked, one that cannot be read and three
  // more; a ninth card finds no slot.
  m.refresh({card("late", "2024:05:17 10:05:00"), card("early", "2024:05:17 09:00:00"),
             card("middle", "2024:05:17 09:30:00"), card("unticked", "2024:05:17 08:00:00"),
             MonitorCard{dir / "no-card", "BROKEN", ""}, card("six", "2024:05:17 11:00:00", 1),
             card("seven", "2024:05:17 11:01:00", 1), card("eight", "2024:05:17 11:02:00", 1),
             card("nine", "2024:05:17 07:00:00", 1)});
  MonitorView v = m.snapshot();
  EXPECT_EQ(v.card_count, 8);
  EXPECT_EQ(v.slots[1].title, "early (" + (dir / "early") + ", Reader)");
  EXPECT_EQ(v.slots[4].title, "BROKEN (" + (dir / "no-card") + ")");  // a reader without a name
  m.set_ticked(3, false);
  m.start();
  run_to_end(m);

  // Sequence numbers follow the first images' times; the unticked slot took no part and
  // held up nobody, and the broken card ended before the gate without holding it either.
  for (const char* name : {"000001_ear_0001.JPG", "000002_ear_0002.JPG", "000003_mid_0001.JPG",
                           "000005_lat_0001.JPG", "000006_lat_0002.JPG", "000009_eig_0001.JPG"})
    EXPECT_TRUE(fs::exists(archive + "/" + name)) << name;
  EXPECT_FALSE(fs::exists(archive + "/000001_nin_0001.JPG"));

  v = m.snapshot();
  EXPECT_EQ(v.slots[3].status_line, "Skipped");
  EXPECT_EQ(v.slots[3].status_colour, kSlotGrey);
  EXPECT_EQ(v.slots[0].status_colour, kSlotGreen);
  EXPECT_EQ(v.slots[4].status_colour, kSlotRed);
  EXPECT_THAT(v.slots[4].status_line, HasSubstr("error opening path"));
  EXPECT_EQ(v.status_line, "Error(s) occurred");
  EXPECT_TRUE(v.start_enabled);  // cards mode can start again
  EXPECT_FALSE(m.outcome()->success);
  EXPECT_EQ(m.outcome()->next_number, 10);
  // The record counts the images the other cards gave all the same.
  const RunVerdict& failed = m.outcome()->end.verdict;
  EXPECT_EQ(failed.level, VerdictLevel::kError);
  EXPECT_EQ(failed.detail,
            v.slots[4].title + ": error opening path: \"" + (dir / "no-card/DCIM") + "\"");
  EXPECT_THAT(captured_ui().alerts.back(), HasSubstr("Ingestion Error!\r\r" + failed.detail));
  EXPECT_THAT(result(), HasSubstr("error opening path"));
  EXPECT_THAT(result(), ::testing::Not(HasSubstr("SUCCESS")));
  auto count = [&] {
    return db.query("select image_count from ingestion where ingestion_sk = " +
                    std::to_string(key))->rows[0][0];
  };
  EXPECT_EQ(count(), "9");

  // Without the broken card the same monitor succeeds, summing the slots' counts.
  m.set_ticked(4, false);
  fs::remove_all(archive);
  m.start();
  run_to_end(m);
  EXPECT_TRUE(m.outcome()->success);
  EXPECT_THAT(result(), HasSubstr("SUCCESS"));
  EXPECT_EQ(count(), "9");
  // Each card ingested has its line under one headline.
  const RunVerdict& done = m.outcome()->end.verdict;
  EXPECT_EQ(done.headline, "Cards safe to format");
  EXPECT_EQ(std::count(done.detail.begin(), done.detail.end(), '\n'), 5);
  EXPECT_THAT(done.detail, HasSubstr(v.slots[0].title + ": all 2 images have verified copies in 1 "
                                                        "tree\n"));
  EXPECT_THAT(m.snapshot().status_line, HasSubstr("Ingestions completed (9 images in"));
}

// The test holds the order gate from before the start to the end: no slot can get past naming
// before the stop reaches it, however the threads are scheduled.
TEST_F(Cards, StopEndsEveryRunningSlot) {
  CardMonitor m(setup());
  m.refresh({card("one", "2024:05:17 10:00:00"), card("two", "2024:05:17 11:00:00")});
  std::optional<OrderGate::Ticket> held = m.order_gate().try_enter(-1, 0);
  ASSERT_TRUE(held);
  m.start();
  m.stop();
  run_to_end(m);
  const MonitorView v = m.snapshot();
  for (int slot : {0, 1}) {
    EXPECT_EQ(v.slots[slot].status_colour, kSlotOrange) << v.slots[slot].status_line;
    EXPECT_THAT(v.slots[slot].status_line, HasSubstr("Stopped"));
  }
  EXPECT_EQ(v.status_line, "Stopped by user");
  EXPECT_TRUE(m.outcome()->stopped_by_user);
  EXPECT_THAT(result(), ::testing::EndsWith("Stopped by user"));
  EXPECT_THAT(captured_ui().pane, HasSubstr("\nStopped by user\n"));
  EXPECT_THAT(captured_ui().alerts.back(), HasSubstr("Ingestion was stopped"));
}

// The user folder (database and log) on a small file system that is full when the copies are
// done: neither the record nor the log can be written.
TEST_F(Cards, RunWhoseRecordAndLogCannotBeWrittenFails) {
  test::SmallFileSystem data(dir / "data", "512k");
  if (!data.mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
  ASSERT_TRUE(db.open(data.mount_point + "/cw_main.sqlite3"));
  ASSERT_TRUE(db.install_default_entities());
  key = db.ingestion_insert(db.unknown_project(-1), db.unknown_card(), 0, 0, 0, std::nullopt);
  log_set_path(data.mount_point + "/cw_log.txt");
  data.fill();
  // The log's last page still has room: use it up.
  for (int before = log_write_failures(), i = 0; log_write_failures() == before && i < 100; ++i)
    log_printf("%s", std::string(200, 'x').c_str());
  CardMonitor m(setup());
  m.refresh({card("full", "2024:05:17 10:00:00")});
  m.start();
  run_to_end(m);
  log_set_path((test::test_root() / "cw_log.txt").string());
  db.close();
  EXPECT_TRUE(fs::exists(archive + "/000001_ful_0001.JPG"));
  EXPECT_FALSE(m.outcome()->success);
  EXPECT_THAT(captured_ui().pane, HasSubstr("ERROR: Can't write the ingestion record"));
  EXPECT_THAT(captured_ui().pane, HasSubstr("ERROR: Can't write the run log"));
}

}  // namespace
}  // namespace cw
