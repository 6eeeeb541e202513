// The multi-camera shoot without windows: several cameras photographed one event and their
// clocks disagree. The user lists one folder per camera, sees each folder's time span, shifts
// the selected folders so the cameras agree, writes the shift into the image files' access and
// modification times ("Sync Files"), and then ingests all images of all folders in one merged
// time order ("Re-Ingest"). The times used are the files' modification times; EXIF data is
// never read or touched, and nothing but a confirmed Sync Files changes a file (only its
// times).
//
// A sync cannot correct the times inside the files, which the ingestion's names and folders
// may be made of ({@datetimeany} reads the EXIF date). So every sync is recorded in the sync
// journal (control/sync_journal.h), and a Re-Ingest hands the ingestion each image's
// correction: what syncs moved its file time by, for the times inside the file. An ingestion
// may also take the pending adjustments as they are, for its capture times only, without any
// file being changed.
//
// The desktop program's "Multi-Camera Shoot" window and `cardwright multicam` both drive one
// MultiCamera. Every question goes through the user interface the front end gives it;
// messages through alert_printf. The times are written through the system-call table (foundation/sysio.h), so
// tests inject failures.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "control/folder_choice.h"
#include "control/sync_journal.h"

namespace cw {

struct StartRequest;
class UserInterface;

// One listed folder (one camera).
struct ImageFolderInfo {
  std::string path;
  std::time_t start = 0;        // earliest image time, with the pending adjustment added
  std::time_t stop = 0;         // latest image time, with the pending adjustment added
  std::int64_t adjustment = 0;  // seconds not yet written to the files; 0 when none
  int image_count = 0;
  bool scanned = false;  // start and stop hold the folder's times
};

// The table's columns, in display order.
enum class MultiCamColumn { kFolder, kStart, kEnd, kAdjust, kImages };
inline constexpr const char* kMultiCamHeaders[] = {"Folder", "Start", "End", "Adjust", "Images"};

// What the last Sync Files wrote.
struct SyncCounts {
  int folders = 0;
  int images = 0;
  bool complete = true;  // false when a file's time could not be set, or when stopped
  bool stopped = false;  // the front end asked to stop
};

// Told how many images have been written and how many are to be written in all, before each
// image; returns true to stop.
using SyncProgress = std::function<bool(int done, int total)>;

class MultiCamera {
 public:
  // Questions go to `ui`, which must outlive the shoot. Syncs are recorded in the user's sync
  // journal.
  explicit MultiCamera(UserInterface& ui);
  // Syncs are recorded in the journal at `journal_path`; empty: in memory only.
  MultiCamera(UserInterface& ui, std::string journal_path);

  // The folders in table order (sorted by the chosen column).
  const std::vector<ImageFolderInfo>& folders() const { return folders_; }
  // Sorts ascending by `column`; folders without images always come last, ties by path.
  // The table starts out sorted by start time.
  void sort_by(MultiCamColumn column);
  MultiCamColumn sort_column() const { return column_; }
  // The row's texts under kMultiCamHeaders: the folder, start and end in local time
  // ("%Y-%m-%d %H:%M:%S", empty for a folder without images), the adjustment in seconds and
  // the image count.
  static std::vector<std::string> row_texts(const ImageFolderInfo& folder);
  // The first folder's path without its last component; "[none selected]" for an empty table.
  std::string parent_folder() const;
  // Folders whose adjustment is not yet written to their files.
  int pending_count() const;
  // The note under the table: "Folders added manually." or empty.
  const std::string& note() const { return note_; }

  // The "Choose..." button: asks before replacing listed folders, asks for the first folder
  // of the shoot (the browser opens at `browse_start`), lets `pick` select among its
  // parent's subfolders and lists those. False when nothing changed.
  bool choose(const std::string& browse_start, const FolderPicker& pick);
  // Lists folders the user named, after those already listed. A folder that is already
  // listed (under any name) is skipped, since its images would be shifted twice. False, with
  // nothing added, when one of them is not a readable folder.
  bool add_folders(const std::vector<std::string>& paths);
  // "Clear Table" and "Clear Adjustments".
  void clear_table();
  void clear_adjustments();

  // "Adjust": moves every selected row (indexes into folders()) by one delta: the target
  // minus the start of the first selected row in table order. Asks for confirmation with
  // adjustment_message(); false when nothing changed (no change needed, a folder without
  // images first, or the user said No).
  bool adjust(const std::vector<std::size_t>& selected, std::time_t target);
  // The same with the delta given; without `ask`, no confirmation is asked (an adjustment made
  // only for an ingestion's capture times) and a delta of 0 changes nothing silently.
  bool shift(const std::vector<std::size_t>& selected, std::int64_t delta, bool ask = true);
  // The row of the listed folder that is `path` (under any name); none when it is not listed.
  std::optional<std::size_t> row_of(const std::string& path) const;

  // "Sync Files": asks, then write_adjustments(). Nothing when the user said No.
  std::optional<SyncCounts> sync_files(const SyncProgress& progress = {});
  // Writes every folder's adjustment into its images' access and modification times, in
  // table order, without asking (a front end may run this off its window's thread). Stops at
  // the first file whose time cannot be set, or when `progress` asks to stop, after putting
  // back the times already changed in that folder: written folders keep their new times, the
  // others their pending adjustment. Shows the failure and then the counts.
  SyncCounts write_adjustments(const SyncProgress& progress = {});

  // "Re-Ingest": every image of every folder, by modification time and then by file name.
  // Nothing (after a message) while adjustments are pending or when there are no images.
  // With `with_pending`, pending adjustments are no reason to refuse: each image's time is
  // taken with its folder's pending adjustment added.
  std::optional<std::vector<std::string>> merged_images(bool with_pending = false) const;
  // Completes a Start request with the merged images as the chosen-image list, the folders'
  // common parent as its source and each image's capture-time correction: the shift recorded
  // syncs gave its file time (which its contents still lack), plus, with `with_pending`, its
  // folder's pending adjustment (for both, no file being changed). Shows what is corrected,
  // folder by folder, and names the synchronized images changed since, which are not. False
  // (after a message) as merged_images().
  bool reingest_request(StartRequest& request, bool with_pending = false) const;

 private:
  void refresh();
  bool scan(ImageFolderInfo& folder, bool write, SyncCounts& counts,
            const std::function<bool()>& stop = {});

  UserInterface* ui_;  // not owned; a pointer so that a shoot can be assigned
  SyncJournal journal_;
  std::vector<ImageFolderInfo> folders_;
  MultiCamColumn column_ = MultiCamColumn::kStart;
  std::string note_;
};

// The confirmation of an adjustment by `delta` seconds (not 0): "1 hour(s), 30 second(s) will
// be added to each selected Start and Stop date/time in table. …\n\nAdjust Date/Time?".
std::string adjustment_message(std::int64_t delta);

// "YYYY-MM-DD HH:MM:SS" read as local time, the system deciding whether summer time applies;
// nothing for any other text or an impossible date.
std::optional<std::time_t> parse_local_time(const std::string& text);
// `when` as local "%Y-%m-%d %H:%M:%S".
std::string local_time_text(std::time_t when);

}  // namespace cw
