// The multi-camera shoot: the folder table, its adjustments, the synchronisation of file times
// and the merged image order of a Re-Ingest.
#include "control/multicam.h"

#include <strings.h>
#include <sys/stat.h>

#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <tuple>
#include <utility>

#include "control/start_flow.h"
#include "foundation/capture_shift.h"
#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/sysio.h"
#include "foundation/user_interface.h"

namespace cw {

namespace {

namespace fs = std::filesystem;

constexpr const char* kChooseTitle =
    "Choose first folder belonging to multi-camera shoot. Folder must contain images directly. "
    "Subfolders will not be traversed.";
constexpr const char* kNoImages =
    "Folder(s) chosen contain no images. Choose folders that contain images directly. "
    "Subfolders will not be traversed.";
constexpr const char* kAddedManually = "Folders added manually.";
// Shifted times must stay printable with four-digit years: 0001-01-01 to 9999-12-31 (UTC).
constexpr std::int64_t kEarliestTime = -62135596800LL;
constexpr std::int64_t kLatestTime = 253402300799LL;

// One image file of a folder as listed.
struct FolderImage {
  std::string path;
  std::string name;
  struct stat st;
  std::int64_t pending = 0;  // its folder's pending adjustment, when a Re-Ingest takes it
  std::size_t folder = 0;    // its folder's row
};

// An image is a regular file directly in the folder whose name neither begins with "." nor
// ends in ".xmp" (any case).
bool is_image_name(const std::string& name) {
  if (name.empty() || name[0] == '.') return false;
  return name.size() < 4 || strcasecmp(name.c_str() + name.size() - 4, ".xmp") != 0;
}

std::string file_name(const std::string& path) {
  const std::size_t sep = path.find_last_of("/\\");
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

// The folder's images, or nothing when the folder cannot be listed (errno says why). Throws
// std::bad_alloc when memory runs out. lstat: a symbolic link is never an image, so nothing
// done to images can reach a link's target.
std::optional<std::vector<FolderImage>> list_images(const std::string& folder) {
  std::unique_ptr<DirList> list = dir_list_open(folder);
  if (!list) return std::nullopt;
  std::vector<FolderImage> images;
  while (const std::string* entry = list->next()) {
    FolderImage image{*entry, file_name(*entry), {}};
    if (!is_image_name(image.name)) continue;
    if (sysio().lstat(image.path.c_str(), &image.st) != 0 || !S_ISREG(image.st.st_mode)) continue;
    images.push_back(std::move(image));
  }
  return images;
}

// Puts the times of the images changed so far back as they were: a folder that could not be
// written completely keeps its pending adjustment, so its files must not be half shifted.
void restore_times(const std::vector<const FolderImage*>& changed) {
  for (const FolderImage* image : changed) {
    const struct timespec times[2] = {image->st.st_atim, image->st.st_mtim};
    if (sysio().lutimens(image->path.c_str(), times) != 0)
      alert_printf("Can't restore modification time of file \"%s\". (error code %d)",
                   image->path.c_str(), errno);
  }
}

// The folder as the system resolves it, for the journal: one file is recorded once, whatever
// name reached it. The path as given when it cannot be resolved.
std::string real_folder(const std::string& folder) {
  char resolved[PATH_MAX];
  return ::realpath(folder.c_str(), resolved) ? std::string(resolved) : folder;
}

// The longest folder that holds every listed folder: the source of a Re-Ingest, so that
// every image's path lies below it.
std::string common_parent(const std::vector<ImageFolderInfo>& folders) {
  fs::path common = fs::path(folders.front().path).parent_path();
  for (const ImageFolderInfo& f : folders) {
    const fs::path parent = fs::path(f.path).parent_path();
    fs::path shared;
    for (auto a = common.begin(), b = parent.begin();
         a != common.end() && b != parent.end() && *a == *b; ++a, ++b)
      shared /= *a;
    common = shared;
  }
  return common.empty() ? "/" : common.string();
}

}  // namespace

MultiCamera::MultiCamera(UserInterface& ui) : MultiCamera(ui, default_sync_journal_path()) {}

MultiCamera::MultiCamera(UserInterface& ui, std::string journal_path)
    : ui_(&ui), journal_(std::move(journal_path)) {}

// ---------------------------------------------------------------- the table

void MultiCamera::sort_by(MultiCamColumn column) {
  column_ = column;
  auto key = [column](const ImageFolderInfo& f) -> std::int64_t {
    switch (column) {
      case MultiCamColumn::kStart: return f.start;
      case MultiCamColumn::kEnd: return f.stop;
      case MultiCamColumn::kAdjust: return f.adjustment;
      case MultiCamColumn::kImages: return f.image_count;
      case MultiCamColumn::kFolder: break;
    }
    return 0;
  };
  std::sort(folders_.begin(), folders_.end(),
            [&](const ImageFolderInfo& a, const ImageFolderInfo& b) {
              return std::make_tuple(a.image_count == 0, key(a), a.path) <
                     std::make_tuple(b.image_count == 0, key(b), b.path);
            });
}

std::vector<std::string> MultiCamera::row_texts(const ImageFolderInfo& f) {
  const bool times = f.image_count > 0;
  return {f.path, times ? local_time_text(f.start) : "", times ? local_time_text(f.stop) : "",
          std::to_string(f.adjustment), std::to_string(f.image_count)};
}

std::string MultiCamera::parent_folder() const {
  if (folders_.empty()) return "[none selected]";
  return fs::path(folders_.front().path).parent_path().string();
}

int MultiCamera::pending_count() const {
  return static_cast<int>(
      std::count_if(folders_.begin(), folders_.end(),
                    [](const ImageFolderInfo& f) { return f.adjustment != 0; }));
}

// Scans the folders that have no times yet and sorts the table again (after every change).
void MultiCamera::refresh() {
  SyncCounts unused;
  for (ImageFolderInfo& f : folders_) scan(f, false, unused);
  sort_by(column_);
}

// Reads a folder's times; when writing, first moves its images' times by its adjustment.
// False only when writing failed.
bool MultiCamera::scan(ImageFolderInfo& folder, bool write, SyncCounts& counts,
                       const std::function<bool()>& stop) {
  if (folder.scanned && !write) return true;
  const bool shifting = write && folder.adjustment != 0;
  std::optional<std::vector<FolderImage>> images;
  std::vector<const FolderImage*> changed;  // the images whose times this scan has set
  std::vector<struct stat> after;           // and what each has now
  try {
    images = list_images(folder.path);
    if (images) changed.reserve(images->size());
  } catch (const std::bad_alloc&) {
    alert_printf("Can't list folder \"%s\". Out of memory.", folder.path.c_str());
    return !shifting;
  }
  if (!images) {
    if (!shifting) return true;
    alert_printf("Can't access folder \"%s\". (error code %d)", folder.path.c_str(), errno);
    return false;
  }
  std::time_t earliest = 0, latest = 0;
  bool first = true;
  for (const FolderImage& image : *images) {
    std::time_t when = image.st.st_mtim.tv_sec;
    if (shifting) {
      if (stop && stop()) {
        restore_times(changed);
        counts.stopped = true;
        return false;
      }
      when += static_cast<std::time_t>(folder.adjustment);
      const struct timespec times[2] = {{when, 0}, {when, 0}};
      if (sysio().lutimens(image.path.c_str(), times) != 0) {
        const int error = errno;
        restore_times(changed);
        alert_printf("Can't change modification time of file \"%s\". (error code %d)",
                     image.path.c_str(), error);
        return false;
      }
      changed.push_back(&image);
      struct stat now {};
      if (sysio().lstat(image.path.c_str(), &now) != 0) {
        now = image.st;
        now.st_mtim = times[1];
      }
      after.push_back(now);  // as the file system keeps it (FAT rounds to two seconds)
    }
    earliest = first ? when : std::min(earliest, when);
    latest = first ? when : std::max(latest, when);
    first = false;
  }
  folder.image_count = static_cast<int>(images->size());
  folder.scanned = !images->empty();
  if (folder.scanned) {
    folder.start = earliest;
    folder.stop = latest;
  }
  if (write) {
    if (folder.adjustment != 0) {
      ++counts.folders;
      counts.images += folder.image_count;
      const std::string real = real_folder(folder.path);
      for (std::size_t i = 0; i < changed.size(); ++i)
        journal_.wrote(real + "/" + changed[i]->name, changed[i]->st, folder.adjustment, after[i]);
    }
    folder.adjustment = 0;
  }
  return true;
}

// ---------------------------------------------------------------- choosing folders

bool MultiCamera::choose(const std::string& browse_start, const FolderPicker& pick) {
  if (!folders_.empty() && !ui_->ask_yes_no("Replace listed folders?")) return false;
  const std::optional<SiblingFolders> chosen =
      choose_sibling_folders(*ui_, kChooseTitle, browse_start, pick);
  if (!chosen) return false;
  folders_.clear();
  for (const std::string& name : chosen->names)
    folders_.push_back({(fs::path(chosen->parent) / name).string()});
  refresh();
  const bool none = std::all_of(folders_.begin(), folders_.end(),
                                [](const ImageFolderInfo& f) { return f.image_count == 0; });
  note_ = none ? kAddedManually : "";
  if (none) alert_printf("%s", kNoImages);
  return true;
}

bool MultiCamera::add_folders(const std::vector<std::string>& paths) {
  // A folder is known by its device and inode, whatever name reaches it.
  std::set<std::pair<dev_t, ino_t>> listed;
  struct stat st;
  for (const ImageFolderInfo& f : folders_)
    if (sysio().stat(f.path.c_str(), &st) == 0) listed.emplace(st.st_dev, st.st_ino);
  std::vector<ImageFolderInfo> added;
  for (const std::string& path : paths) {
    std::error_code ec;
    fs::path full = fs::absolute(path, ec).lexically_normal();
    if (!full.has_filename()) full = full.parent_path();
    if (ec || sysio().stat(full.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        !dir_list_open(full)) {
      alert_printf("Can't access folder \"%s\".", path.c_str());
      return false;
    }
    if (listed.emplace(st.st_dev, st.st_ino).second) added.push_back({full.string()});
  }
  folders_.insert(folders_.end(), added.begin(), added.end());
  note_ = kAddedManually;
  refresh();
  return true;
}

void MultiCamera::clear_table() {
  folders_.clear();
  note_.clear();
}

void MultiCamera::clear_adjustments() {
  for (ImageFolderInfo& f : folders_) {
    f.adjustment = 0;
    f.scanned = false;  // the next scan shows the files' own times
  }
  refresh();
}

// ---------------------------------------------------------------- adjusting

std::string adjustment_message(std::int64_t delta) {
  // Each part is what remains of the delta after the larger units, as a positive number.
  const long long parts[] = {
      std::llabs(delta / 86400),
      std::llabs(delta / 3600 - (delta / 86400) * 24),
      std::llabs(delta / 60 - (delta / 3600) * 60),
      std::llabs(delta - (delta / 60) * 60),
  };
  static const char* const kUnits[] = {"day(s)", "hour(s)", "minute(s)", "second(s)"};
  std::string text;
  for (int i = 0; i < 4; ++i)
    if (parts[i] > 0) text += ", " + std::to_string(parts[i]) + " " + kUnits[i];
  if (text.rfind(", ", 0) == 0) text.erase(0, 2);
  text += " will be ";
  text += delta > 0 ? "added to" : "subtracted from";
  text +=
      " each selected Start and Stop date/time in table.\n\nFiles on disk will not be affected "
      "until you press Sync Files.\n\nAdjust Date/Time?";
  return text;
}

bool MultiCamera::adjust(const std::vector<std::size_t>& selected, std::time_t target) {
  std::optional<std::size_t> first;
  for (std::size_t row : selected)
    if (row < folders_.size() && (!first || row < *first)) first = row;
  if (!first) return false;
  const ImageFolderInfo& f = folders_[*first];
  if (f.image_count == 0) {
    alert_printf("The first selected folder \"%s\" holds no images: it has no start to adjust.",
                 f.path.c_str());
    return false;
  }
  return shift(selected, static_cast<std::int64_t>(target) - f.start);
}

std::optional<std::size_t> MultiCamera::row_of(const std::string& path) const {
  struct stat wanted, listed;
  if (sysio().stat(path.c_str(), &wanted) != 0) return std::nullopt;
  for (std::size_t row = 0; row < folders_.size(); ++row)
    if (sysio().stat(folders_[row].path.c_str(), &listed) == 0 && listed.st_dev == wanted.st_dev &&
        listed.st_ino == wanted.st_ino)
      return row;
  return std::nullopt;
}

bool MultiCamera::shift(const std::vector<std::size_t>& selected, std::int64_t delta, bool ask) {
  std::vector<std::size_t> rows;
  for (std::size_t row : selected)
    if (row < folders_.size() && std::find(rows.begin(), rows.end(), row) == rows.end())
      rows.push_back(row);
  if (rows.empty()) return false;
  if (delta == 0) {
    if (ask) alert_printf("No adjustment necessary. Date/time is unchanged.");
    return false;
  }
  constexpr std::int64_t kSpan = kLatestTime - kEarliestTime;
  for (std::size_t row : rows) {
    const ImageFolderInfo& f = folders_[row];
    const bool fits =
        delta > -kSpan && delta < kSpan &&
        (f.image_count == 0 || (delta > kEarliestTime - f.start && delta < kLatestTime - f.stop));
    if (!fits) {
      alert_printf("An adjustment of %lld seconds would move the times of \"%s\" out of range.",
                   static_cast<long long>(delta), f.path.c_str());
      return false;
    }
  }
  if (ask && !ui_->ask_yes_no(adjustment_message(delta))) return false;
  for (std::size_t row : rows) {
    ImageFolderInfo& f = folders_[row];
    f.adjustment += delta;
    f.start += static_cast<std::time_t>(delta);
    f.stop += static_cast<std::time_t>(delta);
  }
  refresh();
  return true;
}

// ---------------------------------------------------------------- writing the times

std::optional<SyncCounts> MultiCamera::sync_files(const SyncProgress& progress) {
  if (!ui_->ask_yes_no(
          "Permanently synchronize file date/times to match adjustments?\n\n(EXIF data will not "
          "be affected.)"))
    return std::nullopt;
  return write_adjustments(progress);
}

SyncCounts MultiCamera::write_adjustments(const SyncProgress& progress) {
  SyncCounts counts;
  int total = 0, done = 0;
  for (const ImageFolderInfo& f : folders_)
    if (f.adjustment != 0) total += f.image_count;
  std::function<bool()> stop;
  if (progress) stop = [&] { return progress(done++, total); };
  for (ImageFolderInfo& f : folders_) {
    if (!scan(f, true, counts, stop)) {
      counts.complete = false;
      break;
    }
  }
  sort_by(column_);
  // The folders written keep their new times even when the journal cannot say so; a later
  // ingestion then does not correct their EXIF dates, which the message names.
  journal_.save();
  alert_printf("Synchronized %d folder(s) containing %d total images.", counts.folders,
               counts.images);
  return counts;
}

// ---------------------------------------------------------------- Re-Ingest

namespace {

// Every image of the folders, oldest first; equal times by file name, the same name in two
// folders by the whole path. With `with_pending`, each time with its folder's pending
// adjustment added. Nothing (after a message) when a folder cannot be listed, there are no
// images or memory runs out.
std::optional<std::vector<FolderImage>> merged(const std::vector<ImageFolderInfo>& folders,
                                               bool with_pending) {
  try {
    std::vector<FolderImage> all;
    for (const ImageFolderInfo& f : folders) {
      std::optional<std::vector<FolderImage>> images = list_images(f.path);
      if (!images) {
        alert_printf("Can't access folder \"%s\". (error code %d)", f.path.c_str(), errno);
        return std::nullopt;
      }
      for (FolderImage& image : *images) {
        image.folder = static_cast<std::size_t>(&f - folders.data());
        image.pending = with_pending ? f.adjustment : 0;
        all.push_back(std::move(image));
      }
    }
    if (all.empty()) {
      alert_printf("%s", kNoImages);
      return std::nullopt;
    }
    std::sort(all.begin(), all.end(), [](const FolderImage& a, const FolderImage& b) {
      return std::make_tuple(a.st.st_mtim.tv_sec + a.pending, std::cref(a.name),
                             std::cref(a.path)) <
             std::make_tuple(b.st.st_mtim.tv_sec + b.pending, std::cref(b.name),
                             std::cref(b.path));
    });
    return all;
  } catch (const std::bad_alloc&) {
    alert_printf("Can't collect image file paths. Out of memory.");
    return std::nullopt;
  }
}

// What a Re-Ingest corrects in one folder, for the lines that say so.
struct FolderCorrections {
  std::map<std::int64_t, int> synced;  // images by the shift syncs gave them
  int changed_since = 0;
};

}  // namespace

std::optional<std::vector<std::string>> MultiCamera::merged_images(bool with_pending) const {
  if (!with_pending && pending_count() > 0) {
    alert_printf(
        "There are pending adjustments. You must Sync Files or Clear Adjustments before you "
        "can Re-Ingest.");
    return std::nullopt;
  }
  std::optional<std::vector<FolderImage>> all = merged(folders_, with_pending);
  if (!all) return std::nullopt;
  std::vector<std::string> paths;
  paths.reserve(all->size());
  for (FolderImage& image : *all) paths.push_back(std::move(image.path));
  return paths;
}

bool MultiCamera::reingest_request(StartRequest& request, bool with_pending) const {
  if (!with_pending && pending_count() > 0) return merged_images().has_value();
  std::optional<std::vector<FolderImage>> all = merged(folders_, with_pending);
  if (!all) return false;
  std::vector<std::string> real(folders_.size());
  for (std::size_t i = 0; i < folders_.size(); ++i) real[i] = real_folder(folders_[i].path);
  std::vector<FolderCorrections> seen(folders_.size());
  CaptureShifts shifts;
  std::vector<std::string> paths;
  paths.reserve(all->size());
  for (FolderImage& image : *all) {
    const SyncLookup synced = journal_.lookup(real[image.folder] + "/" + image.name, image.st);
    if (synced.state == SyncState::kSynced) ++seen[image.folder].synced[synced.shift];
    if (synced.state == SyncState::kChangedSince) ++seen[image.folder].changed_since;
    // The file's own time already carries what the syncs wrote; the pending adjustment is in
    // neither.
    shifts.set(image.st.st_dev, image.st.st_ino, {synced.shift + image.pending, image.pending});
    paths.push_back(std::move(image.path));
  }
  for (std::size_t i = 0; i < folders_.size(); ++i) {
    const char* folder = folders_[i].path.c_str();
    for (const auto& [shift, count] : seen[i].synced)
      ui_printf("Capture times of %d image(s) in \"%s\" corrected by %lld seconds, as synchronized "
                "earlier (their EXIF dates still show the camera's clock).\n",
                count, folder, static_cast<long long>(shift));
    if (with_pending && folders_[i].adjustment != 0)
      ui_printf("Capture times of the %d image(s) in \"%s\" corrected by %lld seconds for this "
                "ingestion only (no file is changed).\n",
                folders_[i].image_count, folder, static_cast<long long>(folders_[i].adjustment));
    if (seen[i].changed_since > 0)
      ui_printf("%d image(s) in \"%s\" were synchronized earlier but have changed since: their "
                "capture times are taken as they are.\n",
                seen[i].changed_since, folder);
  }
  request.chosen_images = std::move(paths);
  request.capture_shifts = std::move(shifts);
  request.source = common_parent(folders_);
  return true;
}

// ---------------------------------------------------------------- local times

std::optional<std::time_t> parse_local_time(const std::string& text) {
  static const char kForm[] = "dddd-dd-dd dd:dd:dd";
  if (text.size() != sizeof kForm - 1) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return std::nullopt;
  }
  struct tm tm {};
  if (!strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &tm)) return std::nullopt;
  // strptime takes the 31st of any month and a leap second, which mktime would carry over.
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int year = tm.tm_year + 1900;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (year < 1900 || tm.tm_mday > kDays[tm.tm_mon] + (tm.tm_mon == 1 && leap ? 1 : 0) ||
      tm.tm_sec > 59)
    return std::nullopt;
  struct tm fields = tm;
  const std::time_t wall = timegm(&fields);  // the same clock time in UTC
  tm.tm_isdst = -1;  // the zone's rules decide, as for any local time the user types
  std::time_t when = std::mktime(&tm);
  if (when == static_cast<std::time_t>(-1)) return std::nullopt;
  // When summer time ends, an hour of clock times occurs twice, and which of the two mktime
  // returns depends on its previous call. Take the one its first call in a process gives: the
  // reading whose offset from UTC is smaller. The offsets in force a day before and a day
  // after are the only candidates.
  for (const std::time_t probe : {wall - 86400, wall + 86400}) {
    struct tm around {};
    struct tm other {};
    if (!localtime_r(&probe, &around)) continue;
    const std::time_t reading = wall - around.tm_gmtoff;
    if (reading != when && localtime_r(&reading, &other) && other.tm_gmtoff == around.tm_gmtoff &&
        std::labs(around.tm_gmtoff) < std::labs(wall - when))
      when = reading;
  }
  return when;
}

std::string local_time_text(std::time_t when) {
  struct tm tm {};
  char text[64];
  if (!localtime_r(&when, &tm) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm) == 0)
    return "?";
  return text;
}

}  // namespace cw
