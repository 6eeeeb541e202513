// Which mounted drives are camera cards. A drive is a card when its root holds a folder named
// DCIM, whatever kind of drive it is. Two detectors apply the rule:
//
//  - DetectCard, for the main window: records at most one card (its DCIM folder and a label)
//    and sets the window's status line, its source line and whether Eject is enabled;
//  - EnumerateCardDrives, for the card monitor: every card drive, up to 26, with its volume
//    name and the vendor and product of its device, so that the monitor can fill its slots.
//
// Both work on a DriveSource: the one the session makes in the program, a fake list in tests.
// A root is a mount point ("/media/ann/EOS_DIGITAL"), or a lettered root ("E:\") in a fake
// list; texts that name a drive show its root.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/drive_source.h"
#include "platform/drive_watcher.h"

namespace cw {

class CardMonitor;
struct MonitorCard;

inline constexpr const char* kStatusInsertCard = "Insert card or connect camera";
inline constexpr const char* kStatusPressStart = "Press Start to begin";
inline constexpr const char* kStatusChooseCard = "Press Start to choose card";
inline constexpr const char* kCardTextNone = "No image card mounted";
inline constexpr const char* kCardTextMounted = "Image card mounted: ";
inline constexpr const char* kCardTextMultiple = "Multiple image cards mounted";

// The main window's card: the recorded card and the two lines that describe the situation.
struct CardState {
  std::string card_path;   // root + "DCIM", with a separator between; empty when none recorded
  std::string card_label;  // root, then " (volume name)" when the volume has a name
  std::string status_text = kStatusInsertCard;  // the status line at the top right
  std::string card_text = kCardTextNone;        // the line in the Source box
  bool eject_enabled() const { return !card_label.empty(); }
};

// Looks at the drives and updates `state`. Returns false when nothing changes: exactly one
// card is mounted and it is the recorded one. Returns true otherwise, also when the drive
// list cannot be read (then `state` is left as it is). A front end copies the fields typed
// so far into its data before calling, so that they survive the refresh after a true result.
bool DetectCard(DriveSource& drives, CardState& state);

// One card drive of the card monitor's table.
struct DriveEntry {
  std::string root;
  char letter = 0;          // drive letter of a lettered root, else 0
  std::string volume_name;  // "NO NAME" when the volume has none
  std::string device_name;  // vendor, one space, product; either part may be empty
  bool selected = true;     // the monitor starts a slot only for selected entries
};

inline constexpr std::size_t kMaxCardDrives = 26;

// The card drives in list order, at most 26. Drives lettered A or B are left out, and so are
// drives that are not ready and drives without a device record. Nothing when enumeration
// failed; the message has then been shown.
std::optional<std::vector<DriveEntry>> EnumerateCardDrives(DriveSource& drives);

// The cards the monitor's Refresh puts into its slots: the selected entries of the drive
// table, in order (none when enumeration failed; the message has then been shown).
std::vector<MonitorCard> cards_for_monitor(DriveSource& drives);
// Refresh with the mounted cards: the monitor's slots filled as above, the cards whose root is
// in `unticked` left unticked. False when the drives cannot be listed (the message was shown).
bool refresh_with_cards(CardMonitor& monitor, DriveSource& drives,
                        const std::vector<std::string>& unticked);

// What the main window does with a media notification. Runs detection unless notifications
// are suspended (the card monitor is open) or the path is empty; true when an automatic
// ingestion should start now: a card arrived, detection changed something, `auto_ingest`
// (the AutoIngest preference) is on and a single card is recorded.
bool on_media_notification(DriveSource& drives, CardState& state,
                           const MediaNotification& notification, bool notifications_suspended,
                           bool auto_ingest);

// What `cardwright watch` does with a media notification.
enum class WatchAction {
  kNothing,    // a removal, a drive without a DCIM folder, or nothing new
  kIngest,     // ingest `card_path`: the card that arrived
  kTellHowTo,  // several cards are mounted and AutoIngest is off: say how to ingest it
};
struct WatchStep {
  WatchAction action = WatchAction::kNothing;
  std::string card_path;  // the arrived card's DCIM folder
  int cards_mounted = 0;  // the drives with a DCIM folder mounted now
};

// Runs detection on a notification as the main window does (the watch is asked for, so a card
// that arrives alone is always ingested). A card that arrives while other cards are mounted,
// which the main window leaves to the user's choice, is taken on its own when `auto_ingest`
// (the AutoIngest preference) is on; otherwise the step says to tell the user how.
WatchStep on_watched_notification(DriveSource& drives, CardState& state,
                                  const MediaNotification& notification, bool auto_ingest);

// What the watch says about a card that arrived beside others: that it is ingested on its own,
// or why not and the command that ingests it. Empty for a card that arrived alone.
std::string watch_arrival_text(const WatchStep& step);

// The main window's Eject button: ejects the drive of the recorded card with `eject` (given
// the root; the session's eject in the program). A refusal shows "Can't eject card"; a handled
// request is followed by detection. Does nothing when no card is recorded. Returns eject's
// answer.
bool eject_recorded_card(DriveSource& drives, CardState& state,
                         const std::function<bool(const std::string& root)>& eject);

// The drive letter of a lettered root ("E:\" → 'E'), else 0.
char drive_letter(const std::string& root);
// The card folder of a root: "E:\DCIM", "/media/ann/CARD/DCIM", "/DCIM".
std::string card_folder(const std::string& root);
// The mounted root that holds `path` (the longest root it lies below); nothing when the
// drives cannot be listed or none holds it.
std::optional<std::string> root_containing(DriveSource& drives, const std::string& path);
// The root of a card folder made by card_folder().
std::string card_root(const std::string& card_path);

// The volume a folder lies on, as the ingest ledger records a card: its label and its file
// system's UUID, each empty when unknown (no mounted volume holds the folder), and whether its
// file times are wall-clock times without a zone (FAT, exFAT).
struct CardVolume {
  std::string label;
  std::string uuid;
  bool local_times = false;
};
CardVolume card_volume(DriveSource& drives, const std::string& folder);

}  // namespace cw
