// Card scan: folder listings, the extension filter, record construction and list growth.
#include "ingest/scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/path_guard.h"
#include "foundation/sysio.h"
#include "foundation/text.h"
#include "ingest/card_layout.h"
#include "platform/camera_source.h"

namespace cw {

namespace {

bool ends_with_separator(const std::string& s) { return !s.empty() && s.back() == '/'; }

// Folders nested deeper than this below the card are not walked: the walk keeps one
// descriptor open per level.
constexpr int kMaxFolderDepth = 256;

// The parts of the run a scan works with: the options it reads, the image list and card files
// it fills, its counters and where it reports.
struct Scan {
  const RunOptions& options;
  RunState& state;
  RunCounters& counts;
  RunReporter& reporter;
  CameraSource* cameras;  // none: a camera card is not connected
};

// The first bytes of an AppleDouble file: the resource fork and attributes that another
// operating system keeps beside a file as "._NAME" on file systems without a place for them.
constexpr unsigned char kAppleDoubleMagic[4] = {0x00, 0x05, 0x16, 0x07};

// Appends to the image list or a folder's path list; false when memory runs out. The lists
// grow by doubling, so a card of any size is listed in time linear in its files.
template <typename T>
bool grow_and_push(std::vector<T>& list, T&& item) {
  try {
    list.push_back(std::move(item));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// A regular file the listing of its folder took, with the size and time it was listed with.
struct ListedFile {
  std::string name;
  std::uint64_t size = 0;
  std::time_t modified = 0;
};

// Counts one found file, makes its record (from `path`, below the scan root) and appends it to
// the image list. The bytes are read from `source` (a linked file's real path) when given.
// A file `listed` has its size and time from the listing; others are examined later.
bool add_image(Scan& s, const std::string& path, const std::string* source = nullptr,
               const ListedFile* listed = nullptr) {
  ++s.counts.files_found;
  ImageRecord record;
  std::string message;
  if (!make_image_record(s.state.folders, record, s.options.scan_root, path, message))
    return s.reporter.fail(text_with_path(message, path));
  if (source) record.set_source(s.state.folders, *source);
  if (listed) {
    record.size = listed->size;
    record.modified = listed->modified;
    record.listed = true;
  }
  record.index = static_cast<int>(s.state.images.size());
  if (!grow_and_push(s.state.images, std::move(record)))
    return s.reporter.fail("out of memory");
  return true;
}

// One report line for each entry of a card that is not taken as an image.
// (Built whole: a path may be longer than a formatted line takes.)
void skip_entry(Scan& s, const char* why, const std::string& path) {
  const std::string line = std::string("Skipped ") + why + ": \"" + path + "\"";
  s.reporter.report_append(line + "\n");
  log_printf("%s", line.c_str());
}

// The path below the card, as the verdict names a file left there: below the scan root, or
// for a video folder beside a scanned DCIM, below the card root.
std::string below_card(const RunOptions& options, const std::string& path) {
  std::string root = options.scan_root;
  if (path.compare(0, root.size(), root) != 0) {
    const std::optional<std::string> card = card_root_of_dcim(options.scan_root);
    if (!card || path.compare(0, card->size(), *card) != 0) return path;
    root = *card;
  }
  std::size_t at = root.size();
  while (at < path.size() && path[at] == '/') ++at;
  return path.substr(at);
}

// An entry the run would lose if it passed over it quietly: named on a line of the report and
// kept for the verdict. The scan goes on with the next entry.
void leave_on_card(Scan& s, const char* why, const std::string& path) {
  skip_entry(s, why, path);
  ++s.counts.skipped_by_scan;
  try {
    s.state.card_files.skipped.push_back(below_card(s.options, path));
  } catch (const std::bad_alloc&) {
    // The counter still keeps the card from being called safe.
  }
}

// "._NAME" holding the AppleDouble header: another system's companion of NAME, no image.
bool is_resource_fork(int dir, const std::string& name) {
  if (name.size() < 3 || name.compare(0, 2, "._") != 0) return false;
  UniqueFd fd(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  unsigned char head[sizeof kAppleDoubleMagic];
  return fd.valid() && ::read(fd.get(), head, sizeof head) == static_cast<ssize_t>(sizeof head) &&
         std::memcmp(head, kAppleDoubleMagic, sizeof head) == 0;
}


// The longest name, in bytes, that every tree of the run can hold: the smallest name limit of
// their file systems (asked of the nearest folder that exists, as a tree may not exist yet).
std::size_t archive_name_max(const RunOptions& options) {
  std::size_t limit = NAME_MAX;
  std::vector<std::string> roots{options.first_copy_root};
  if (options.primary_root) roots.push_back(*options.primary_root);
  if (options.post_backup_root) roots.push_back(*options.post_backup_root);
  for (std::string folder : roots) {
    for (;;) {
      errno = 0;
      const long n = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
      if (n > 0) {
        limit = std::min(limit, static_cast<std::size_t>(n));
        break;
      }
      if ((errno != ENOENT && errno != ENOTDIR) || folder.empty() || folder == "/") break;
      const std::size_t sep = folder.find_last_of('/');
      folder = sep == std::string::npos ? "" : sep == 0 ? "/" : folder.substr(0, sep);
    }
  }
  return limit;
}

// What one entry of a card is to the scan. Only regular files are images. A symbolic link is
// never followed out of the card: one to a regular file inside it is noted (its file is taken
// once, after the scan), anything else is skipped with a report line, as is every special
// file (a FIFO would hang the copy, a device would fill the archive).
enum class EntryKind { kFile, kFolder, kLink, kSkipped, kError };

// `st` receives the entry's own status (that of a link's file for kLink); kError leaves errno.
// The entry is looked at through its folder's descriptor; only a link is resolved by its path.
EntryKind classify_entry(Scan& s, int dir, const std::string& name, const std::string& path,
                         struct stat& st, std::string& real) {
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::kError;
  if (S_ISDIR(st.st_mode)) return EntryKind::kFolder;
  if (S_ISREG(st.st_mode)) return EntryKind::kFile;
  const char* skipped;
  char resolved[PATH_MAX];
  if (!S_ISLNK(st.st_mode)) {
    skipped = "special file (not a regular file)";
  } else if (path.size() >= PATH_MAX) {
    leave_on_card(s, "symbolic link whose path is too long", path);
    return EntryKind::kSkipped;
  } else if (!::realpath(path.c_str(), resolved)) {
    skipped = "symbolic link that leads nowhere";
  } else if (real = resolved; !path_is_inside(s.state.card_files.real_root, real)) {
    skipped = "symbolic link that leads out of the card";
  } else if (sysio().stat(real.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    return EntryKind::kLink;
  } else {
    skipped = S_ISDIR(st.st_mode) ? "symbolic link to a folder" : "symbolic link to a special file";
  }
  skip_entry(s, skipped, path);
  return EntryKind::kSkipped;
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

// The names in the folder open as `dir`, "." and ".." left out, as the system lists them:
// links and special files too, which the scan must see to report them. False (errno set)
// when it cannot be read. `dir` stays open for the entries to be looked at through it.
bool folder_names(int dir, const std::string& path, std::vector<std::string>& names) {
  const int listing = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return false;
  std::unique_ptr<DIR, DirCloser> stream(::fdopendir(listing));
  if (!stream) {
    const int e = errno;
    ::close(listing);
    errno = e;
    return false;
  }
  errno = 0;
  while (const struct dirent* entry = ::readdir(stream.get())) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
    errno = 0;
  }
  // A listing that breaks off keeps what it found; the names missing are not reachable.
  if (errno != 0) log_printf("readdir(%s) failed: %s", path.c_str(), std::strerror(errno));
  return true;
}

bool scan_camera(Scan& s, const std::string& path) {
  std::string device;
  if (s.options.card_folder.rfind("Device: ", 0) == 0)
    device = s.options.card_folder.substr(8);
  else if (path.rfind("ptp/", 0) == 0)
    device = path.substr(4);
  // A camera that cannot be opened or walked ends the run with the source's reason: an
  // empty list would pass for a successful ingestion of nothing.
  std::vector<std::string> images;
  std::string message;
  if (!s.cameras) return s.reporter.fail(camera_not_connected_message(device));
  if (!s.cameras->images_for_device(device, images, message)) return s.reporter.fail(message);
  const std::size_t name_max = archive_name_max(s.options);
  for (const std::string& image : images) {
    const std::string name = image.rfind("ptp/", 0) == 0 ? image.substr(4) : image;
    if (const char* why = too_long_for_archive(name, image.size(), name_max)) {
      leave_on_card(s, why, image);
      continue;
    }
    if (!add_image(s, image)) return false;
  }
  for (const std::string& file : s.cameras->left_out())
    leave_on_card(s, "camera file with the name of another", file);
  return true;
}

// A folder of the card: its path and where its name begins there.
struct FolderEntry {
  std::string path;
  std::size_t name_at = 0;
};

// How a scan walks: the longest name the archive holds, and where the card's video trees are
// (ingest/card_layout.h): below `card_root` when the scan root is a card's DCIM or root.
struct ScanWalk {
  std::size_t name_max = NAME_MAX;
  std::optional<std::string> card_root;
  bool root_is_card = false;  // the scan root is the card root: its walk leaves the trees
};

std::string joined(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (!ends_with_separator(path)) path += '/';
  path += name;
  return path;
}

// True when a video file named STEM.EXT among `taken` has `stem`.
bool clip_taken(const std::vector<ListedFile>& taken, const std::string& stem) {
  for (const ListedFile& file : taken) {
    const std::string& name = file.name;
    const std::size_t dot = name.rfind('.');
    if (dot == stem.size() && name.compare(0, dot, stem) == 0 &&
        is_video_extension(std::string_view(name).substr(dot + 1)))
      return true;
  }
  return false;
}

// Lists the folder open as `dir` into its files (names, after the extension filter) and
// subfolders, each in case-insensitive name order. A clip's companion beside its taken clip
// is no file of its own: it goes with the clip.
bool list_folder(Scan& s, int dir, const std::string& path, const ScanWalk& walk,
                 std::vector<ListedFile>& files, std::vector<FolderEntry>& subfolders) {
  std::vector<std::string> names;
  if (!folder_names(dir, path, names)) {
    log_printf("Folder %s cannot be listed: %s", path.c_str(), std::strerror(errno));
    leave_on_card(s, "folder that cannot be read", path);
    return true;
  }
  // In name order, so that the lines and names of what is left on the card come in one order.
  std::sort(names.begin(), names.end(), path_less_nocase);
  // A file the scan takes, or leaves with its reason.
  auto take_file = [&](const std::string& name, std::string full, EntryKind kind,
                       const struct stat& st, std::string real) {
    const int filtered = s.counts.skipped_by_extension;
    if (skip_by_extension(name, s.options, s.reporter, s.counts.skipped_by_extension)) {
      if (s.counts.skipped_by_extension != filtered) {
        try {
          s.state.card_files.left_by_filter.push_back(below_card(s.options, full));
        } catch (const std::bad_alloc&) {
          // Counted all the same.
        }
      }
      return true;
    }
    if (const char* why = too_long_for_archive(name, full.size(), walk.name_max)) {
      leave_on_card(s, why, full);
      return true;
    }
    if (kind == EntryKind::kLink) {
      s.state.card_files.links.emplace_back(std::move(full), std::move(real));
      return true;
    }
    s.state.card_files.taken.emplace(st.st_dev, st.st_ino);
    ListedFile taken{name, static_cast<std::uint64_t>(st.st_size), st.st_mtime};
    return grow_and_push(files, std::move(taken)) ||
           s.reporter.fail("out of memory");
  };
  struct Companion {
    std::string name, full, stem;
    struct stat st;
  };
  std::vector<Companion> companions;
  for (const std::string& name : names) {
    std::string full = joined(path, name);
    const std::size_t name_at = full.size() - name.size();
    std::string real;
    struct stat st;
    const EntryKind kind = classify_entry(s, dir, name, full, st, real);
    if (kind == EntryKind::kSkipped) continue;
    if (kind == EntryKind::kError) {
      log_printf("Entry %s cannot be examined: %s", full.c_str(), std::strerror(errno));
      leave_on_card(s, "entry that cannot be read", full);
      continue;
    }
    const bool folder = kind == EntryKind::kFolder;
    if ((folder || kind == EntryKind::kFile) && is_housekeeping(name, folder)) {
      ++s.counts.housekeeping;
      continue;
    }
    if (folder) {
      if (!grow_and_push(subfolders, FolderEntry{std::move(full), name_at}))
        return s.reporter.fail("out of memory");
      continue;
    }
    if (kind == EntryKind::kFile && is_resource_fork(dir, name)) {
      ++s.counts.resource_forks;
      continue;
    }
    // Whether it goes with its clip is known once the clip is taken.
    if (kind == EntryKind::kFile) {
      if (std::optional<std::string> stem = companion_stem(name)) {
        companions.push_back({name, std::move(full), std::move(*stem), st});
        continue;
      }
    }
    if (!take_file(name, std::move(full), kind, st, std::move(real))) return false;
  }
  // A companion without a taken clip beside it is a file like any other.
  for (Companion& c : companions)
    if (!clip_taken(files, c.stem) &&
        !take_file(c.name, std::move(c.full), EntryKind::kFile, c.st, std::string()))
      return false;
  std::sort(files.begin(), files.end(), [](const ListedFile& a, const ListedFile& b) {
    return path_less_nocase(a.name, b.name);
  });
  return true;
}

// True when `folder`, in the walk of a card root, is one of the card's video trees: those are
// walked apart (walk_video_trees).
bool is_video_tree(const ScanWalk& walk, const std::string& folder) {
  if (!walk.root_is_card) return false;
  const std::string& root = *walk.card_root;
  if (folder.compare(0, root.size(), root) != 0) return false;
  std::size_t at = root.size();
  while (at < folder.size() && folder[at] == '/') ++at;
  for (const VideoTree& t : video_trees())
    if (folder.compare(at, std::string::npos, t.tree) == 0) return true;
  return false;
}

// Walks the folder open as `dir` (at `path`, `level` below the card): its files first, then
// its subfolders, each opened through its parent's descriptor, so that paths longer than the
// system takes are still walked and what lies there is named. Records are made from `shown`,
// the folder's path below the scan root as names and macros show it (`path` itself, except
// for a video folder outside a scanned DCIM).
bool scan_folder(Scan& s, int dir, const std::string& path, const std::string& shown, int level,
                 const ScanWalk& walk) {
  s.reporter.status_printf("Reading folder %s", path.c_str());
  std::vector<ListedFile> files;
  std::vector<FolderEntry> subfolders;
  if (!list_folder(s, dir, path, walk, files, subfolders)) return false;
  for (const ListedFile& file : files) {
    const std::string real = joined(path, file.name);
    if (shown == path) {
      if (!add_image(s, real, nullptr, &file)) return false;
    } else if (!add_image(s, joined(shown, file.name), &real, &file)) {
      return false;
    }
  }
  for (const FolderEntry& folder : subfolders) {
    if (is_video_tree(walk, folder.path)) continue;
    if (level + 1 > kMaxFolderDepth) {
      leave_on_card(s, "folder nested too deep", folder.path);
      continue;
    }
    UniqueFd sub(::openat(dir, folder.path.c_str() + folder.name_at,
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!sub.valid()) {
      log_printf("Folder %s cannot be opened: %s", folder.path.c_str(), std::strerror(errno));
      leave_on_card(s, "folder that cannot be read", folder.path);
      continue;
    }
    const std::string sub_shown =
        shown == path ? folder.path : joined(shown, folder.path.substr(folder.name_at));
    if (!scan_folder(s, sub.get(), folder.path, sub_shown, level + 1, walk)) return false;
  }
  return true;
}

// Opens the folder `below` (names separated by "/") under the folder open as `dir` into
// `out`, one name at a time and never through a link. False (errno set) when it cannot.
bool open_below(int dir, std::string_view below, UniqueFd& out) {
  UniqueFd at;
  while (!below.empty()) {
    const std::size_t sep = below.find('/');
    const std::string name(below.substr(0, sep));
    const int next = ::openat(at.valid() ? at.get() : dir, name.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      const int e = errno;
      at.close();
      errno = e;
      return false;
    }
    at.reset(next);
    below = sep == std::string_view::npos ? std::string_view() : below.substr(sep + 1);
  }
  out.reset(at.get());
  at.release();
  return out.valid();
}

// The part of a video tree open as `dir` (at `path`, `inside` below the tree): the clip folder
// `clips` is scanned like a DCIM folder; everything else is the camera's housekeeping (its
// thumbnails, clip information, playlists and indexes, which it rebuilds), counted and left.
bool walk_video_tree(Scan& s, int dir, const std::string& path, const std::string& inside,
                     const VideoTree& tree, const ScanWalk& walk) {
  std::vector<std::string> names;
  if (!folder_names(dir, path, names)) {
    leave_on_card(s, "folder that cannot be read", path);
    return true;
  }
  std::sort(names.begin(), names.end(), path_less_nocase);
  const std::string clips = tree.clips;
  for (const std::string& name : names) {
    const std::string below = inside.empty() ? name : inside + "/" + name;
    const std::string full = joined(path, name);
    struct stat st;
    const bool folder = ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISDIR(st.st_mode);
    const bool on_the_way = below == clips || clips.compare(0, below.size() + 1, below + "/") == 0;
    if (!on_the_way) {
      ++s.counts.camera_housekeeping;
      continue;
    }
    // A link, or a file, where the clips should be is not followed; the card is not safe.
    if (!folder) {
      leave_on_card(s, "video folder that is not a folder", full);
      continue;
    }
    const bool clip_folder = below == clips;
    UniqueFd sub(::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!sub.valid()) {
      leave_on_card(s, "folder that cannot be read", full);
      continue;
    }
    if (!clip_folder) {
      if (!walk_video_tree(s, sub.get(), full, below, tree, walk)) return false;
      continue;
    }
    // Beside a scanned DCIM, the clip folder shows by its own name, as DCIM's folders do.
    const std::string shown = walk.root_is_card ? full : joined(s.options.scan_root, name);
    if (!scan_folder(s, sub.get(), full, shown, 1, walk)) return false;
  }
  return true;
}

// The card's video trees, after the rest of the scan.
bool walk_video_trees(Scan& s, const ScanWalk& walk) {
  if (!walk.card_root) return true;
  const std::string& card = *walk.card_root;
  UniqueFd root(::open(card.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root.valid()) return true;  // the DCIM inside it was read: nothing else is reachable
  for (const VideoTree& tree : video_trees()) {
    const std::string path = joined(card, tree.tree);
    UniqueFd dir;
    if (!open_below(root.get(), tree.tree, dir)) {
      if (errno != ENOENT && errno != ENOTDIR) leave_on_card(s, "folder that cannot be read", path);
      continue;
    }
    if (!walk_video_tree(s, dir.get(), path, "", tree, walk)) return false;
  }
  return true;
}

bool scan_disk(Scan& s, const std::string& path, int level) {
  UniqueFd root(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root.valid()) {
    const int e = errno;
    log_printf("Card folder %s cannot be opened: %s", path.c_str(), std::strerror(e));
    return s.reporter.fail(
        text_with_path(e == EACCES ? "Permission denied" : "error opening path", path));
  }
  ScanWalk walk;
  walk.name_max = archive_name_max(s.options);
  // A card's DCIM, or a card's root (a folder holding DCIM), has the card's video trees.
  walk.card_root = card_root_of_dcim(path);
  struct stat st;
  if (!walk.card_root && ::fstatat(root.get(), "DCIM", &st, 0) == 0 && S_ISDIR(st.st_mode)) {
    walk.card_root = path;
    walk.root_is_card = true;
  }
  if (!scan_folder(s, root.get(), path, path, level, walk) || !walk_video_trees(s, walk))
    return false;
  if (s.counts.resource_forks > 0)
    s.reporter.report_printf(
        "Resource-fork files of another system (._NAME) left on the card: %d\n",
        s.counts.resource_forks);
  if (s.counts.housekeeping > 0)
    s.reporter.report_printf(
        "Files and folders other systems keep for themselves (.DS_Store, .Spotlight-V100, "
        ".Trashes...) left on the card: %d\n",
        s.counts.housekeeping);
  if (s.counts.camera_housekeeping > 0)
    s.reporter.report_printf(
        "Files and folders the camera keeps beside its video clips (thumbnails, clip "
        "information, playlists) left on the card: %d\n",
        s.counts.camera_housekeeping);
  return true;
}

}  // namespace

bool is_housekeeping(const std::string& name, bool folder) {
  static constexpr const char* kFolders[] = {".Spotlight-V100", ".fseventsd", ".Trashes",
                                             ".TemporaryItems", ".DocumentRevisions-V100",
                                             "System Volume Information", "$RECYCLE.BIN"};
  if (!folder) return name == ".DS_Store";
  for (const char* f : kFolders)
    if (name == f) return true;
  return false;
}

bool path_less_nocase(const std::string& a, const std::string& b) {
  int c = strcasecmp(a.c_str(), b.c_str());
  // Names equal but for case (possible on this system) keep a fixed order.
  return c != 0 ? c < 0 : a < b;
}

bool scanDir(const RunOptions& options, RunState& state, RunCounters& counts, RunReporter& reporter,
             const std::string& path, int level, CameraSource* cameras) {
  Scan s{options, state, counts, reporter, cameras};
  if (is_camera_path(path)) return scan_camera(s, path);
  return scan_disk(s, path, level);
}

const char* too_long_for_archive(std::string_view name, std::size_t path_size,
                                 std::size_t name_max) {
  if (name.size() > name_max) return "file whose name is too long for the archive";
  if (path_size >= PATH_MAX) return "file whose path is too long";
  return nullptr;
}

bool image_from_list(const RunOptions& options, RunState& state, RunCounters& counts,
                     RunReporter& reporter) {
  Scan s{options, state, counts, reporter, nullptr};  // picked paths are taken as they are
  if (!s.options.file_array) return true;
  const std::size_t name_max = archive_name_max(s.options);
  for (const std::string& path : *s.options.file_array) {
    if (is_camera_path(path)) {
      if (!add_image(s, path)) return false;
      continue;
    }
    // A picked file is judged by where it really is: "..", or a link, must not lead out of
    // the card. It is named from its real place below the root, its bytes as they are.
    char resolved[PATH_MAX];
    const std::optional<std::string> real =
        path.size() < PATH_MAX && ::realpath(path.c_str(), resolved)
            ? std::optional<std::string>(resolved)
            : real_path_of(path);
    if (!real || !path_is_inside(s.state.card_files.real_root, *real)) {
      ++s.counts.files_found;
      return s.reporter.fail(text_with_path("path outside root", path));
    }
    struct stat st;
    if (sysio().lstat(real->c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      skip_entry(s, "special file (not a regular file)", path);
      continue;
    }
    std::string below = s.options.scan_root;
    std::size_t relative = s.state.card_files.real_root.size();
    while (relative < real->size() && (*real)[relative] == '/') ++relative;
    if (!ends_with_separator(below)) below += '/';
    below += real->substr(relative);
    if (const char* why = too_long_for_archive(below.substr(below.find_last_of('/') + 1),
                                               below.size(), name_max)) {
      leave_on_card(s, why, path);
      continue;
    }
    if (!add_image(s, below, &*real)) return false;
  }
  return true;
}

bool add_linked_images(const RunOptions& options, RunState& state, RunCounters& counts,
                       RunReporter& reporter) {
  Scan s{options, state, counts, reporter, nullptr};  // links are files on disk
  for (const auto& [link, real] : s.state.card_files.links) {
    struct stat st;
    if (sysio().stat(real.c_str(), &st) != 0 ||
        !s.state.card_files.taken.emplace(st.st_dev, st.st_ino).second) {
      skip_entry(s, "symbolic link to a file taken already", link);
      continue;
    }
    if (!add_image(s, link, &real)) return false;
  }
  return true;
}

bool skip_by_extension(std::string_view name, bool include, std::string_view extension_list,
                       int& counter) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) {
    if (include) ++counter;
    return include;
  }
  std::string_view ext = name.substr(dot + 1);
  if (ext.size() == 3 && strncasecmp(ext.data(), "xmp", 3) == 0) return true;
  std::string key = " ";
  key.append(ext);
  key += ' ';
  key = ascii_upper(std::move(key));
  bool listed = extension_list.find(key) != std::string_view::npos;
  bool skip = include ? !listed : listed;
  if (skip) ++counter;
  return skip;
}

bool skip_by_extension(std::string_view name, const RunOptions& options, RunReporter& reporter,
                       int& counter) {
  try {
    return skip_by_extension(name, options.include, options.extension_list, counter);
  } catch (const std::bad_alloc&) {
    reporter.report_append("\nERROR: allocating extension memory\n");
    return false;
  }
}

bool make_image_record(FolderTable& folders, ImageRecord& record, const std::string& root_in,
                       const std::string& path, std::string& message) {
  const std::string root = root_in.rfind("ptp/", 0) == 0 ? std::string("ptp") : root_in;
  if (path.compare(0, root.size(), root) != 0) {
    message = "path outside root";
    return false;
  }
  // Only "/" separates: every other byte, a backslash too, belongs to a name.
  std::size_t start = root.size();
  if (!ends_with_separator(root) && start < path.size() && path[start] == '/') ++start;
  std::string_view relative = std::string_view(path).substr(start);
  std::size_t sep = relative.find_last_of('/');
  std::string_view name = sep == std::string_view::npos ? relative : relative.substr(sep + 1);
  if (path.size() >= PATH_MAX) {
    message = "path too long";
    return false;
  }
  if (name.size() > NAME_MAX) {
    message = "file name too long";
    return false;
  }
  try {
    record.folder = &folders.intern(sep == std::string_view::npos ? "" : relative.substr(0, sep));
    std::size_t dot = name.rfind('.');
    record.base_name = std::string(name.substr(0, dot));
    record.extension_text =
        dot == std::string_view::npos ? nullptr : &folders.intern(name.substr(dot + 1));
    record.set_source(folders, path);
  } catch (const std::bad_alloc&) {
    message = "out of memory";
    return false;
  }
  return true;
}

}  // namespace cw
