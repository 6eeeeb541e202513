// Card scan: folder listings, the extension filter, record construction and list growth.
#include "ingest/scan.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>

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
#include "platform/camera_source.h"

namespace cw {

namespace {

// The image list and the per-folder path lists grow by these steps.
constexpr std::size_t kImageListStep = 200;
constexpr std::size_t kPathListStep = 100;

bool ends_with_separator(const std::string& s) { return !s.empty() && is_separator(s.back()); }

std::size_t last_separator(std::string_view s) { return s.find_last_of("/\\"); }

template <typename T>
bool grow_and_push(std::vector<T>& list, T&& item, std::size_t step) {
  try {
    if (list.size() == list.capacity()) list.reserve(list.size() + step);
    list.push_back(std::move(item));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// Counts one found file, makes its record (from `path`, below the scan root) and appends it to
// the image list. The bytes are read from `source` (a linked file's real path) when given.
bool add_image(EngineContext& ctx, const std::string& path, bool trace,
               const std::string* source = nullptr) {
  ++ctx.counts.files_found;
  ImageRecord record;
  std::string message;
  if (!make_image_record(ctx.folders, record, ctx.scan_root, path, message)) {
    if (trace) CW_TRACE("fatal(msg)", kInternalErrorNumber);
    return ctx.fail(text_with_path(message, path));
  }
  if (source) record.source_path = *source;
  record.index = static_cast<int>(ctx.images.size());
  if (!grow_and_push(ctx.images, std::move(record), kImageListStep)) {
    if (trace) CW_TRACE("fatal(\"out of memory\")", kInternalErrorNumber);
    return ctx.fail("out of memory");
  }
  return true;
}

// One report line for each entry of a card that is not taken as an image.
void skip_entry(EngineContext& ctx, const char* why, const std::string& path) {
  ctx.report_printf("Skipped %s: \"%s\"\n", why, path.c_str());
  log_printf("Skipped %s: \"%s\"", why, path.c_str());
}

// What one entry of a card is to the scan. Only regular files are images. A symbolic link is
// never followed out of the card: one to a regular file inside it is noted (its file is taken
// once, after the scan), anything else is skipped with a report line, as is every special
// file (a FIFO would hang the copy, a device would fill the archive).
enum class EntryKind { kFile, kFolder, kLink, kSkipped, kError };

// `st` receives the entry's own status (that of a link's file for kLink); kError leaves errno.
EntryKind classify_entry(EngineContext& ctx, const std::string& path, struct stat& st,
                         std::string& real) {
  if (sysio().lstat(path.c_str(), &st) != 0) return EntryKind::kError;
  if (S_ISDIR(st.st_mode)) return EntryKind::kFolder;
  if (S_ISREG(st.st_mode)) return EntryKind::kFile;
  const char* skipped;
  char resolved[PATH_MAX];
  if (!S_ISLNK(st.st_mode)) {
    skipped = "special file (not a regular file)";
  } else if (!::realpath(path.c_str(), resolved)) {
    skipped = "symbolic link that leads nowhere";
  } else if (real = resolved; !path_is_inside(ctx.card_files.real_root, real)) {
    skipped = "symbolic link that leads out of the card";
  } else if (sysio().stat(real.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    return EntryKind::kLink;
  } else {
    skipped = S_ISDIR(st.st_mode) ? "symbolic link to a folder" : "symbolic link to a special file";
  }
  skip_entry(ctx, skipped, path);
  return EntryKind::kSkipped;
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

// The names in a folder, "." and ".." left out, as the system lists them: links and special
// files too, which the scan must see to report them. False (errno set) when it cannot be read.
bool folder_names(const std::string& path, std::vector<std::string>& names) {
  std::unique_ptr<DIR, DirCloser> dir(sysio().opendir(path.c_str()));
  if (!dir) return false;
  errno = 0;
  while (const struct dirent* entry = ::readdir(dir.get())) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
    errno = 0;
  }
  // A listing that breaks off keeps what it found; the names missing are not reachable.
  if (errno != 0) log_printf("readdir(%s) failed: %s", path.c_str(), std::strerror(errno));
  return true;
}

bool scan_camera(EngineContext& ctx, const std::string& path) {
  std::string device;
  if (ctx.card_folder.rfind("Device: ", 0) == 0)
    device = ctx.card_folder.substr(8);
  else if (path.rfind("ptp/", 0) == 0)
    device = path.substr(4);
  // A camera that cannot be opened or walked ends the run with the source's reason: an
  // empty list would pass for a successful ingestion of nothing.
  std::vector<std::string> images;
  std::string message;
  if (!camera_source().images_for_device(device, images, message)) return ctx.fail(message);
  for (const std::string& image : images)
    if (!add_image(ctx, image, true)) return false;
  return true;
}

// Lists one folder into its files (after the extension filter) and subfolders.
bool list_folder(EngineContext& ctx, const std::string& path, std::vector<std::string>& files,
                 std::vector<std::string>& subfolders) {
  std::vector<std::string> names;
  if (!folder_names(path, names)) {
    int e = errno;
    if (e == EACCES) {
      CW_TRACE("fatal(\"Permission denied\")", e);
      return ctx.fail(text_with_path("Permission denied", path));
    }
    CW_TRACE("fatal(\"error opening path\")", e);
    return ctx.fail(text_with_path("error opening path", path));
  }
  for (const std::string& name : names) {
    if (name.empty() || name.front() == '.') continue;
    std::string full = path;
    if (!ends_with_separator(full)) full += '/';
    full += name;
    if (name.size() >= kMaxFileName) {
      CW_TRACE("fatal(\"file name too long\")", kInternalErrorNumber);
      return ctx.fail(text_with_path("file name too long", full));
    }
    std::string real;
    struct stat st;
    const EntryKind kind = classify_entry(ctx, full, st, real);
    if (kind == EntryKind::kSkipped) continue;
    if (kind == EntryKind::kError) {
      CW_TRACE("fatal(\"error accessing path (2)\")", errno);
      return ctx.fail(text_with_path("error accessing path (2)", full));
    }
    const bool folder = kind == EntryKind::kFolder;
    if (!folder && skip_by_extension(name, ctx, ctx.counts.skipped_by_extension)) continue;
    if (kind == EntryKind::kLink) {
      ctx.card_files.links.emplace_back(std::move(full), std::move(real));
      continue;
    }
    if (!folder) ctx.card_files.taken.emplace(st.st_dev, st.st_ino);
    if (!grow_and_push(folder ? subfolders : files, std::move(full), kPathListStep)) {
      CW_TRACE("fatal(\"out of memory\")", kInternalErrorNumber);
      return ctx.fail("out of memory");
    }
  }
  return true;
}

bool scan_disk(EngineContext& ctx, const std::string& path, int level) {
  ctx.status_printf("Reading folder %s", path.c_str());
  std::vector<std::string> files, subfolders;
  if (!list_folder(ctx, path, files, subfolders)) return false;
  std::sort(files.begin(), files.end(), path_less_nocase);
  std::sort(subfolders.begin(), subfolders.end(), path_less_nocase);
  for (const std::string& file : files)
    if (!add_image(ctx, file, true)) return false;
  for (const std::string& folder : subfolders) {
    if (!scanDir(ctx, folder, level + 1)) {
      CW_TRACE("scanDir(path, level + 1)", kInternalErrorNumber);
      return false;
    }
  }
  return true;
}

}  // namespace

bool path_less_nocase(const std::string& a, const std::string& b) {
  int c = strcasecmp(a.c_str(), b.c_str());
  // Names equal but for case (possible on this system) keep a fixed order.
  return c != 0 ? c < 0 : a < b;
}

bool scanDir(EngineContext& ctx, const std::string& path, int level) {
  if (is_camera_path(path)) return scan_camera(ctx, path);
  return scan_disk(ctx, path, level);
}

bool image_from_list(EngineContext& ctx) {
  if (!ctx.file_array) return true;
  for (const std::string& path : *ctx.file_array) {
    if (is_camera_path(path)) {
      if (!add_image(ctx, path, false)) return false;
      continue;
    }
    // A picked file is judged by where it really is: "..", or a link, must not lead out of
    // the card. It is named from its real place below the root.
    const std::optional<std::string> real = real_path_of(path);
    if (!real || !path_is_inside(ctx.card_files.real_root, *real)) {
      ++ctx.counts.files_found;
      return ctx.fail(text_with_path("path outside root", path));
    }
    struct stat st;
    if (sysio().lstat(real->c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      skip_entry(ctx, "special file (not a regular file)", path);
      continue;
    }
    std::string below = ctx.scan_root;
    std::size_t relative = ctx.card_files.real_root.size();
    while (relative < real->size() && is_separator((*real)[relative])) ++relative;
    if (!ends_with_separator(below)) below += '/';
    below += real->substr(relative);
    if (!add_image(ctx, below, false, &*real)) return false;
  }
  return true;
}

bool add_linked_images(EngineContext& ctx) {
  for (const auto& [link, real] : ctx.card_files.links) {
    struct stat st;
    if (sysio().stat(real.c_str(), &st) != 0 ||
        !ctx.card_files.taken.emplace(st.st_dev, st.st_ino).second) {
      skip_entry(ctx, "symbolic link to a file taken already", link);
      continue;
    }
    if (!add_image(ctx, link, true, &real)) return false;
  }
  return true;
}

bool skip_by_extension(std::string_view name, bool include, std::string_view extension_list,
                       int& counter) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return include;
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

bool skip_by_extension(std::string_view name, EngineContext& ctx, int& counter) {
  try {
    return skip_by_extension(name, ctx.include, ctx.extension_list, counter);
  } catch (const std::bad_alloc&) {
    ctx.report_append("\nERROR: allocating extension memory\n");
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
  std::size_t start = root.size();
  if (!ends_with_separator(root) && start < path.size() && is_separator(path[start])) ++start;
  std::string_view relative = std::string_view(path).substr(start);
  std::size_t sep = last_separator(relative);
  std::string_view name = sep == std::string_view::npos ? relative : relative.substr(sep + 1);
  try {
    if (sep != std::string_view::npos) {
      if (sep >= kMaxRelativeFolder) {
        message = "path too long";
        return false;
      }
      record.folder = &folders.intern(relative.substr(0, sep));
    } else {
      record.folder = &folders.intern("");
    }
    if (name.size() >= kMaxFileName) {
      message = "file name too long";
      return false;
    }
    std::size_t dot = name.rfind('.');
    record.base_name = std::string(name.substr(0, dot));
    record.extension = dot == std::string_view::npos ? "" : std::string(name.substr(dot + 1));
    record.source_path = path;
    std::replace(record.source_path.begin(), record.source_path.end(), '\\', '/');
  } catch (const std::bad_alloc&) {
    message = "out of memory";
    return false;
  }
  return true;
}

}  // namespace cw
