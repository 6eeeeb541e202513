// Card detection rules on made-up drive lists.
#include "control/card_detection.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "platform/fake_drive_source.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

using test::captured_ui;

// The main window's texts and record in one line: status | card text | card path | eject.
std::string shown(const CardState& s) {
  return s.status_text + "|" + s.card_text + "|" + s.card_path + (s.eject_enabled() ? "|E" : "");
}

std::string entry_text(const DriveEntry& e) {
  return e.root + "|" + (e.letter ? std::string(1, e.letter) : "-") + "|" + e.volume_name + "|" +
         e.device_name + (e.selected ? "|selected" : "");
}

TEST(DetectCard, RecordsExactlyOneCardAndSetsTheTexts) {
  FakeDriveSource drives;
  drives.add_drive("C:\\");
  CardState state;
  EXPECT_TRUE(DetectCard(drives, state));
  EXPECT_EQ(shown(state), "Insert card or connect camera|No image card mounted|");
  drives.add_card("E:\\");  // a volume without a name
  EXPECT_TRUE(DetectCard(drives, state));
  EXPECT_EQ(shown(state), "Press Start to begin|Image card mounted: E:\\|E:\\DCIM|E");
  EXPECT_FALSE(DetectCard(drives, state));  // the recorded card, still alone: nothing changes
  drives.add_card("/media/ann/EOS_DIGITAL", "EOS_DIGITAL");
  EXPECT_TRUE(DetectCard(drives, state));
  EXPECT_EQ(shown(state), "Press Start to choose card|Multiple image cards mounted|");
  drives.remove("E:\\");
  EXPECT_TRUE(DetectCard(drives, state));
  EXPECT_EQ(shown(state), "Press Start to begin|Image card mounted: /media/ann/EOS_DIGITAL "
                          "(EOS_DIGITAL)|/media/ann/EOS_DIGITAL/DCIM|E");

  // An unreadable list changes nothing; an unreadable volume still counts, with a bare label;
  // A: counts in the main window.
  drives.list_error = EIO;
  EXPECT_TRUE(DetectCard(drives, state));
  EXPECT_EQ(state.card_path, "/media/ann/EOS_DIGITAL/DCIM");
  FakeDriveSource other;
  other.add_card("A:\\", "FLOPPY").volume.status = VolumeStatus::kFailed;
  EXPECT_TRUE(DetectCard(other, state));
  EXPECT_EQ(state.card_label, "A:\\");
  EXPECT_EQ(card_root(state.card_path), "A:\\");
  EXPECT_EQ(card_folder("/"), "/DCIM");
  EXPECT_EQ(card_root("/DCIM"), "/");
}

TEST(EnumerateCardDrives, ListsReadyCardDrivesWithNamesAndDevices) {
  captured_ui().clear();
  FakeDriveSource drives;
  drives.add_card("A:\\", "FLOPPY");
  drives.add_drive("C:\\");
  drives.add_card("D:\\", "NETCARD").device.status = DeviceStatus::kMissing;
  drives.add_card("E:\\", "", "", "Card Reader");
  drives.add_card("F:\\").volume = {VolumeStatus::kNotReady, "", ENOMEDIUM};
  drives.add_card("/media/ann/EOS_DIGITAL", "EOS_DIGITAL", "Generic", std::string(120, 'x'));
  auto table = EnumerateCardDrives(drives);
  ASSERT_TRUE(table);
  ASSERT_EQ(table->size(), 2u);
  EXPECT_EQ(entry_text((*table)[0]), "E:\\|E|NO NAME| Card Reader|selected");
  EXPECT_EQ(entry_text((*table)[1]),
            "/media/ann/EOS_DIGITAL|-|EOS_DIGITAL|Generic " + std::string(99, 'x') + "|selected");
  EXPECT_TRUE(captured_ui().alerts.empty());

  FakeDriveSource many;
  for (int i = 0; i < 27; ++i) many.add_card("/media/card" + std::to_string(100 + i));
  table = EnumerateCardDrives(many);
  EXPECT_EQ(table ? table->size() : 0, 26u);
}

TEST(EnumerateCardDrives, RealFailuresShowTheirMessageAndGiveNoTable) {
  auto alert_for = [](FakeDriveSource& drives) {
    captured_ui().clear();
    EXPECT_FALSE(EnumerateCardDrives(drives));
    return captured_ui().alerts.empty() ? std::string() : captured_ui().alerts.back();
  };
  FakeDriveSource drives;
  drives.list_error = EIO;
  EXPECT_EQ(alert_for(drives), "GetLogicalDriveStrings failed");
  drives = {};
  drives.add_drive("/mnt/share").volume = {VolumeStatus::kFailed, "", EACCES};  // not a card
  // The message says what failed on which mount point, in the system's own words.
  EXPECT_EQ(alert_for(drives).rfind("Can't read the file system mounted at /mnt/share: " +
                                        std::string(std::strerror(EACCES)) +
                                        ".\r\rTry ejecting and mounting cards and card readers "
                                        "again.\r\r",
                                    0),
            0u);
  EXPECT_NE(captured_ui().pane.find(
                "ERROR: Reading the file system mounted at /mnt/share failed with error 13"),
            std::string::npos);
  drives = {};
  drives.add_card("/media/a").device.status = DeviceStatus::kTableFailed;
  EXPECT_EQ(alert_for(drives), "RegOpenKeyEx failed");
  drives.drives[0].device.status = DeviceStatus::kFailed;
  EXPECT_EQ(alert_for(drives), "RegQueryValueEx failed");
}

TEST(MediaNotification, ANewSingleCardStartsAutomaticIngestionOnce) {
  FakeDriveSource drives;
  CardState state;
  DriveWatcher watcher(drives);
  drives.add_card("/media/ann/CARD", "CARD");
  std::vector<MediaNotification> changes = watcher.take_changes();
  ASSERT_EQ(changes.size(), 1u);
  // Suspended, or without a path: no detection at all (else the next one would change nothing).
  EXPECT_FALSE(on_media_notification(drives, state, changes[0], true, true));
  EXPECT_FALSE(on_media_notification(drives, state, {MediaEvent::kInserted, ""}, false, true));
  EXPECT_TRUE(on_media_notification(drives, state, changes[0], false, true));
  EXPECT_FALSE(on_media_notification(drives, state, changes[0], false, true));  // repeated
  EXPECT_TRUE(watcher.take_changes().empty());

  drives.remove("/media/ann/CARD");
  drives.add_card("/media/ann/OTHER");
  changes = watcher.take_changes();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_TRUE(changes[0].event == MediaEvent::kRemoved && changes[0].path == "/media/ann/CARD");
  EXPECT_FALSE(on_media_notification(drives, state, changes[0], false, true));
  EXPECT_EQ(state.card_path, "/media/ann/OTHER/DCIM");  // detection ran on removal
}

TEST(WatchedNotification, CardsArrivingBesideAMountedCardAreIngestedOrExplained) {
  FakeDriveSource drives;
  drives.add_card("/media/ann/OM_SYSTEM");  // mounted before the watch began
  CardState state;
  DetectCard(drives, state);
  DriveWatcher watcher(drives);
  auto arrival = [&](const std::string& root, bool auto_ingest) {
    drives.add_card(root);
    const std::vector<MediaNotification> changes = watcher.take_changes();
    EXPECT_EQ(changes.size(), 1u);
    return on_watched_notification(drives, state, changes.at(0), auto_ingest);
  };
  // With AutoIngest, each card that arrives beside others is ingested on its own.
  WatchStep step = arrival("/media/ann/EOS_R5", true);
  EXPECT_TRUE(step.action == WatchAction::kIngest && step.cards_mounted == 2);
  EXPECT_EQ(step.card_path, "/media/ann/EOS_R5/DCIM");
  EXPECT_EQ(watch_arrival_text(step).rfind("2 cards are mounted: the card that arrived is "
                                           "ingested on its own",
                                           0),
            0u);

  // Without it, the user is told why and what to run, the path quoted for the shell.
  step = arrival("/media/ann/Ann's card", false);
  EXPECT_TRUE(step.action == WatchAction::kTellHowTo && step.cards_mounted == 3);
  EXPECT_EQ(watch_arrival_text(step),
            "3 cards are mounted, so the card that arrived is not ingested: beside other cards, "
            "watch ingests a card only while the master preset's AutoIngest is on.\n"
            "To ingest it: cardwright ingest --card '/media/ann/Ann'\\''s card/DCIM'");

  // A drive without a DCIM folder is no card; a card alone is ingested, the watch asked for it.
  drives.add_drive("/media/ann/BACKUP");
  EXPECT_EQ(on_watched_notification(drives, state, watcher.take_changes().at(0), true).action,
            WatchAction::kNothing);
  drives = {};
  watcher.take_changes();
  step = arrival("/media/ann/OM_SYSTEM", false);
  EXPECT_TRUE(step.action == WatchAction::kIngest && step.cards_mounted == 1);
  EXPECT_EQ(watch_arrival_text(step), "");
}

TEST(EjectRecordedCard, RefusalAlertsAndSuccessDetectsAgain) {
  FakeDriveSource drives;
  drives.add_card("/media/ann/CARD");
  CardState state;
  auto refuse = [&](const std::string&) { return false; };
  captured_ui().clear();
  EXPECT_FALSE(eject_recorded_card(drives, state, refuse));  // nothing recorded: not asked
  EXPECT_TRUE(captured_ui().alerts.empty());
  DetectCard(drives, state);
  EXPECT_FALSE(eject_recorded_card(drives, state, refuse));
  EXPECT_EQ(captured_ui().alerts, std::vector<std::string>{"Can't eject card"});
  EXPECT_TRUE(eject_recorded_card(drives, state, [&](const std::string& root) {
    drives.remove(root);  // only the right root makes the card go away
    return true;
  }));
  EXPECT_EQ(state.card_text, "No image card mounted");
}

}  // namespace
}  // namespace cw
