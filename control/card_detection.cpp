// The card detection rules over a drive source.
#include "control/card_detection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "control/card_monitor.h"
#include "database/repair.h"
#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/path_guard.h"
#include "foundation/text.h"

namespace cw {

namespace {

// Volume-name buffers: 256 bytes for the main window, 200 for the card monitor.
constexpr std::size_t kMainVolumeNameMax = 255;
constexpr std::size_t kMonitorVolumeNameMax = 199;
// A vendor or product field is copied up to this many characters.
constexpr std::size_t kDeviceFieldMax = 99;

bool is_lettered(const std::string& root) { return drive_letter(root) != 0; }

std::string limited(std::string text, std::size_t n) {
  truncate_to(text, n);
  return text;
}

}  // namespace

char drive_letter(const std::string& root) {
  if (root.size() < 2 || root[1] != ':') return 0;
  char c = root[0];
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  return c >= 'A' && c <= 'Z' ? c : 0;
}

std::string card_folder(const std::string& root) {
  if (!root.empty() && is_separator(root.back())) return root + "DCIM";
  return root + (is_lettered(root) ? "\\" : "/") + "DCIM";
}

std::optional<std::string> root_containing(DriveSource& drives, const std::string& path) {
  std::optional<std::vector<std::string>> roots = drives.roots();
  if (!roots) return std::nullopt;
  std::optional<std::string> best;
  for (const std::string& root : *roots) {
    const bool below = root == "/" || path == root ||
                       (path.starts_with(root) && path.size() > root.size() &&
                        is_separator(path[root.size()]));
    if (below && (!best || root.size() > best->size())) best = root;
  }
  return best;
}

CardVolume card_volume(DriveSource& drives, const std::string& folder) {
  const std::optional<std::string> root =
      root_containing(drives, real_path_of(folder).value_or(folder));
  if (!root) return {};
  const VolumeInfo info = drives.volume_info(*root);
  if (info.status != VolumeStatus::kOk) return {};
  return {info.name, drives.volume_uuid(*root), drives.keeps_local_times(*root)};
}

std::string card_root(const std::string& card_path) {
  std::string root = card_path;
  if (root.ends_with("DCIM")) root.resize(root.size() - 4);
  bool bare_root = root == "/" || (root.size() == 3 && is_lettered(root));
  if (root.size() > 1 && is_separator(root.back()) && !bare_root) root.pop_back();
  return root;
}

bool DetectCard(DriveSource& drives, CardState& state) {
  std::optional<std::vector<std::string>> roots = drives.roots();
  if (!roots) return true;

  int count = 0;
  std::string found_root;
  std::string found_label;
  for (const std::string& root : *roots) {
    if (!drives.has_dcim(root)) continue;
    ++count;
    found_root = root;
    found_label = root;
    VolumeInfo volume = drives.volume_info(root);
    if (volume.status == VolumeStatus::kOk && !volume.name.empty())
      found_label += " (" + limited(volume.name, kMainVolumeNameMax) + ")";
  }
  if (count == 1 && card_folder(found_root) == state.card_path) return false;

  state.card_label.clear();
  state.card_path.clear();
  if (count == 0) {
    state.status_text = kStatusInsertCard;
    state.card_text = kCardTextNone;
  } else if (count == 1) {
    state.status_text = kStatusPressStart;
    state.card_path = card_folder(found_root);
    state.card_label = found_label;
    state.card_text = kCardTextMounted + state.card_label;
  } else {
    state.status_text = kStatusChooseCard;
    state.card_text = kCardTextMultiple;
  }
  return true;
}

std::optional<std::vector<DriveEntry>> EnumerateCardDrives(DriveSource& drives) {
  std::optional<std::vector<std::string>> roots = drives.roots();
  if (!roots) {
    alert_printf("GetLogicalDriveStrings failed");
    return std::nullopt;
  }
  std::vector<DriveEntry> table;
  for (const std::string& root : *roots) {
    char letter = drive_letter(root);
    if (letter == 'A' || letter == 'B') continue;

    VolumeInfo volume = drives.volume_info(root);
    if (volume.status == VolumeStatus::kNotReady) continue;
    if (volume.status == VolumeStatus::kFailed) {
      // Names the mount point and what the system answered: a card reader that stopped
      // answering reads differently from a mount the user may not enter.
      const std::string what = "Reading the file system mounted at " + root;
      errno = volume.error;
      report_system_error(what.c_str());
      alert_printf(
          "Can't read the file system mounted at %s: %s.\r\rTry ejecting and mounting cards "
          "and card readers again.\r\rIf that does not help, please send an email to %s "
          "describing the problem, with the log file (Tools > View Log) attached.",
          root.c_str(), std::strerror(volume.error), kSupportAddress);
      return std::nullopt;
    }

    DeviceRecord device = drives.device_record(root);
    if (device.status == DeviceStatus::kMissing) continue;
    if (device.status == DeviceStatus::kTableFailed) {
      alert_printf("RegOpenKeyEx failed");
      return std::nullopt;
    }
    if (device.status == DeviceStatus::kFailed) {
      alert_printf("RegQueryValueEx failed");
      return std::nullopt;
    }

    if (!drives.has_dcim(root)) continue;
    if (table.size() == kMaxCardDrives) break;

    DriveEntry entry;
    entry.root = root;
    entry.letter = letter;
    entry.volume_name =
        volume.name.empty() ? "NO NAME" : limited(volume.name, kMonitorVolumeNameMax);
    entry.device_name = limited(device.vendor, kDeviceFieldMax) + " " +
                        limited(device.product, kDeviceFieldMax);
    table.push_back(std::move(entry));
  }
  return table;
}

namespace {
std::optional<std::vector<MonitorCard>> mounted_cards(DriveSource& drives) {
  std::optional<std::vector<DriveEntry>> table = EnumerateCardDrives(drives);
  if (!table) return std::nullopt;
  std::vector<MonitorCard> cards;
  for (const DriveEntry& e : *table)
    if (e.selected) cards.push_back(MonitorCard{e.root, e.volume_name, e.device_name});
  return cards;
}

std::string without_trailing_slashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}
}  // namespace

std::vector<MonitorCard> cards_for_monitor(DriveSource& drives) {
  return mounted_cards(drives).value_or(std::vector<MonitorCard>{});
}

bool refresh_with_cards(CardMonitor& monitor, DriveSource& drives,
                        const std::vector<std::string>& unticked) {
  const std::optional<std::vector<MonitorCard>> cards = mounted_cards(drives);
  if (!cards) return false;
  monitor.refresh(*cards);
  for (std::size_t slot = 0; slot < std::min<std::size_t>(cards->size(), kMonitorSlots); ++slot)
    for (const std::string& root : unticked)
      if (without_trailing_slashes(root) == without_trailing_slashes((*cards)[slot].root))
        monitor.set_ticked(static_cast<int>(slot), false);
  return true;
}

bool on_media_notification(DriveSource& drives, CardState& state,
                           const MediaNotification& notification, bool notifications_suspended,
                           bool auto_ingest) {
  if (notifications_suspended || notification.path.empty()) return false;
  bool changed = DetectCard(drives, state);
  return notification.event == MediaEvent::kInserted && changed && auto_ingest &&
         !state.card_label.empty();
}

WatchStep on_watched_notification(DriveSource& drives, CardState& state,
                                  const MediaNotification& notification, bool auto_ingest) {
  WatchStep step;
  if (on_media_notification(drives, state, notification, false, true)) {
    step.action = WatchAction::kIngest;
    step.card_path = state.card_path;
    step.cards_mounted = 1;
    return step;
  }
  if (notification.event != MediaEvent::kInserted || notification.path.empty() ||
      !drives.has_dcim(notification.path))
    return step;
  const std::optional<std::vector<std::string>> roots = drives.roots();
  if (!roots) return step;
  for (const std::string& root : *roots)
    if (drives.has_dcim(root)) ++step.cards_mounted;
  // Alone, it was recorded above unless it was already the recorded card: nothing new.
  if (step.cards_mounted < 2) return step;
  step.card_path = card_folder(notification.path);
  step.action = auto_ingest ? WatchAction::kIngest : WatchAction::kTellHowTo;
  return step;
}

namespace {
// A path as the shell takes it back: single-quoted unless every character is plain.
std::string shell_word(const std::string& path) {
  if (!path.empty() && path.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                              "0123456789_/.,:+@%-") == std::string::npos)
    return path;
  std::string word = "'";
  for (char c : path) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}
}  // namespace

std::string watch_arrival_text(const WatchStep& step) {
  if (step.cards_mounted < 2 || step.action == WatchAction::kNothing) return {};
  const std::string mounted = std::to_string(step.cards_mounted) + " cards are mounted";
  if (step.action == WatchAction::kIngest)
    return mounted + ": the card that arrived is ingested on its own, as the master preset's "
                     "AutoIngest asks; the others are left as they are.";
  return mounted + ", so the card that arrived is not ingested: beside other cards, watch "
                   "ingests a card only while the master preset's AutoIngest is on.\n"
                   "To ingest it: cardwright ingest --card " + shell_word(step.card_path);
}

bool eject_recorded_card(DriveSource& drives, CardState& state,
                         const std::function<bool(const std::string& root)>& eject) {
  if (state.card_path.size() < 2) return false;
  if (!eject(card_root(state.card_path))) {
    alert_printf("Can't eject card");
    return false;
  }
  DetectCard(drives, state);
  return true;
}

}  // namespace cw
