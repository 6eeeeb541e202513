// Disc set planning: folder collection, folder scans with their cut points, the filling of
// discs, labels and the plan's texts.
#include "disc/burner.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <new>

#include "disc/image_estimate.h"
#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/sysio.h"
#include "foundation/text.h"

namespace cw {

namespace {

constexpr std::size_t kMaxRootChars = 999;

// Records a planning failure on the error trace and hands it to the caller.
bool plan_fail(std::string& message, const char* text, int line, int error_number = 0) {
  errstack_push("burner", "burner", line, text, error_number ? error_number : kInternalErrorNumber,
                0);
  message = text;
  return false;
}

bool less_nocase(const std::string& a, const std::string& b) {
  int c = strcasecmp(a.c_str(), b.c_str());
  return c != 0 ? c < 0 : a < b;
}

std::string join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && is_separator(folder.back())) return folder + name;
  return folder + "/" + name;
}

// A listed folder as a full path: relative entries lie below the root.
std::string full_folder_path(const std::string& root, const std::string& folder) {
  std::string f = system_path(folder);
  if (!f.empty() && f.front() == '/') return f;
  return join(root, f);
}

// The folder's name on the disc: its path below the root without leading separators. False
// when the folder lies outside the root.
bool relative_name(const std::string& root, const std::string& path, std::string& name) {
  std::string r = root;
  while (r.size() > 1 && r.back() == '/') r.pop_back();
  if (r == "/") r.clear();
  if (path.compare(0, r.size(), r) != 0) return false;
  if (path.size() > r.size() && path[r.size()] != '/') return false;
  std::size_t start = r.size();
  while (start < path.size() && path[start] == '/') ++start;
  name = path.substr(start);
  while (!name.empty() && name.back() == '/') name.pop_back();
  return true;
}

// The names in a folder, every entry as it is: links and folders that other listings pass
// over are what the plan must see to name them. False with errno set when it cannot be read.
bool list_names(const std::string& path, std::vector<std::string>& names) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(sysio().opendir(path.c_str()), &closedir);
  if (!dir) return false;
  for (;;) {
    errno = 0;
    const struct dirent* entry = ::readdir(dir.get());
    if (!entry) return errno == 0;
    names.emplace_back(entry->d_name);
  }
}

// Deleted files are never burned: the trash folders systems keep on a volume.
bool trash_folder(const std::string& name) {
  if (name == "$Recycle.Bin" || name == ".Trash") return true;
  return name.size() > 7 && name.compare(0, 7, ".Trash-") == 0 &&
         name.find_first_not_of("0123456789", 7) == std::string::npos;
}

bool skipped_name(const std::string& name) {
  return name.empty() || name == "." || name == ".." || name == ".DS_Store" || name == ".Trashes";
}

// The planning of one set: the discs so far with their image estimates, one per disc.
class Planner {
 public:
  Planner(DiscSet& set, std::string& message) : set_(set), message_(message) {}
  // Adds one folder (a full path below the set's root).
  bool add_folder(const std::string& folder);

 private:
  struct Entry {
    std::string name;
    std::uint64_t size;
  };
  bool scan(const std::string& path, std::vector<Entry>& files);
  bool new_disc();
  // Puts files[first, end) of the folder on the last disc, with its estimate.
  void place(const std::string& name, const std::vector<Entry>& files, std::size_t first,
             std::size_t end, ImageEstimate estimate);
  void skip(const std::string& path, bool link);

  DiscSet& set_;
  std::string& message_;
  std::vector<ImageEstimate> estimates_;
};

void Planner::skip(const std::string& path, bool link) {
  // A linked folder is met again through each folder listed below it.
  for (const SkippedEntry& e : set_.skipped)
    if (e.path == path) return;
  set_.skipped.push_back(SkippedEntry{path, link});
  log_printf("%s", skipped_text(set_.skipped.back()).c_str());
}

// The folder's files in name order, so that a folder cut over several discs keeps runs of
// neighbouring images together. Nothing is followed: links and other entries that are not
// files are named in the plan; subfolders are planned on their own.
bool Planner::scan(const std::string& path, std::vector<Entry>& files) {
  log_printf("Processing folder %s", path.c_str());
  std::vector<std::string> names;
  if (!list_names(path, names)) {
    int err = errno;
    if (err == EACCES)
      return plan_fail(message_, "Can't access folder - permission denied.", __LINE__, err);
    return plan_fail(message_, "Can't access folder - error other than permissions.", __LINE__,
                     err);
  }
  for (const std::string& leaf : names) {
    if (skipped_name(leaf)) continue;
    std::string full = join(path, leaf);
    if (full.size() >= kMaxPathChars) return plan_fail(message_, "File name too long.", __LINE__);
    struct stat st;
    if (sysio().lstat(full.c_str(), &st) != 0)
      return plan_fail(message_, "Error accessing path - can't get properties.", __LINE__, errno);
    if (S_ISDIR(st.st_mode)) continue;
    if (!S_ISREG(st.st_mode)) {
      skip(full, S_ISLNK(st.st_mode));
      continue;
    }
    files.push_back(Entry{leaf, static_cast<std::uint64_t>(st.st_size)});
  }
  std::sort(files.begin(), files.end(),
            [](const Entry& a, const Entry& b) { return less_nocase(a.name, b.name); });
  return true;
}

bool Planner::new_disc() {
  if (set_.discs.size() >= kMaxDiscs)
    return plan_fail(message_, "Burn will take too many discs.", __LINE__);
  set_.discs.emplace_back();
  estimates_.emplace_back();
  return true;
}

void Planner::place(const std::string& name, const std::vector<Entry>& files, std::size_t first,
                    std::size_t end, ImageEstimate estimate) {
  DiscFolder part;
  part.name = name;
  for (std::size_t i = first; i < end; ++i) {
    part.files.push_back(files[i].name);
    part.size += files[i].size;
  }
  Disc& disc = set_.discs.back();
  disc.size += part.size;
  disc.folders.push_back(std::move(part));
  estimates_.back() = std::move(estimate);
  disc.image_size = estimates_.back().bytes();
}

bool Planner::add_folder(const std::string& folder) {
  std::string name;
  if (!relative_name(set_.root, folder, name)) {
    message_ =
        format_limited(1000, "Folder %s is not inside %s.", folder.c_str(), set_.root.c_str());
    errstack_push("burner", "burner", __LINE__, message_.c_str(), kInternalErrorNumber, 0);
    return false;
  }
  // The folder and every folder between it and the root must be folders, not links to them.
  for (std::size_t end = 0; end != std::string::npos;) {
    end = name.find('/', end + 1);
    const std::string step = join(set_.root, name.substr(0, end));
    struct stat st;
    if (sysio().lstat(step.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      skip(step, true);
      return true;
    }
  }

  std::vector<Entry> files;
  try {
    if (!scan(folder, files)) return false;
    if (files.empty()) return true;
    const std::uint64_t capacity = set_.capacity;

    // Each file must fit on a disc of its own.
    ImageEstimate alone;
    alone.add_folder(name);
    for (const Entry& f : files)
      if (alone.bytes_with_file(name, f.name, f.size) > capacity)
        return plan_fail(message_, "File size exceeds disc capacity.", __LINE__);

    auto with_all = [&](ImageEstimate estimate) {
      for (const Entry& f : files) estimate.add_file(name, f.name, f.size);
      return estimate;
    };
    // A folder that fits on a disc is never cut: it goes whole onto a new disc when the
    // current one has too little space left.
    if (!set_.discs.empty()) {
      ImageEstimate here = with_all(estimates_.back());
      if (here.bytes() <= capacity) {
        place(name, files, 0, files.size(), std::move(here));
        return true;
      }
    }
    ImageEstimate fresh = with_all(ImageEstimate());
    if (fresh.bytes() <= capacity) {
      if (!new_disc()) return false;
      place(name, files, 0, files.size(), std::move(fresh));
      return true;
    }

    // Larger than a disc: the first segment fills what the current disc has left, the next
    // ones whole discs.
    std::size_t next = 0;
    std::size_t segments = 0;
    if (!set_.discs.empty()) {
      ImageEstimate estimate = estimates_.back();
      estimate.add_folder(name);
      std::size_t end = next;
      while (end < files.size() &&
             estimate.bytes_with_file(name, files[end].name, files[end].size) <= capacity) {
        estimate.add_file(name, files[end].name, files[end].size);
        ++end;
      }
      if (end > next) {
        place(name, files, next, end, std::move(estimate));
        next = end;
        ++segments;
      }
    }
    while (next < files.size()) {
      if (segments >= kMaxDiscs)
        return plan_fail(message_, "Can't split folder; bigger than max number of discs.",
                         __LINE__);
      if (!new_disc()) return false;
      ImageEstimate estimate;
      estimate.add_folder(name);
      std::size_t end = next;
      // The first file always fits: every file fits on a disc of its own.
      do {
        estimate.add_file(name, files[end].name, files[end].size);
        ++end;
      } while (end < files.size() &&
               estimate.bytes_with_file(name, files[end].name, files[end].size) <= capacity);
      place(name, files, next, end, std::move(estimate));
      next = end;
      ++segments;
    }
  } catch (const std::bad_alloc&) {
    return plan_fail(message_, "Out of memory saving file name.", __LINE__);
  }
  return true;
}

// Adds every folder below `path` to `list`, parents before children, never through a link.
bool collect_subfolders(const std::string& path, std::vector<std::string>& list) {
  std::vector<std::string> names;
  if (!list_names(path, names)) {
    log_printf("Can't access folder %s.", path.c_str());
    return false;
  }
  for (const std::string& leaf : names) {
    if (skipped_name(leaf)) continue;
    std::string full = join(path, leaf);
    struct stat st;
    if (sysio().lstat(full.c_str(), &st) != 0) {
      log_printf("Error accessing path %s - can't get properties.", full.c_str());
      return false;
    }
    if (!S_ISDIR(st.st_mode) || trash_folder(leaf)) continue;  // links are named by scan()
    list.push_back(full);
    if (!collect_subfolders(full, list)) return false;
  }
  return true;
}

}  // namespace

std::string skipped_text(const SkippedEntry& entry) {
  return format_limited(1000, entry.link ? "Not burned (symbolic link): %s"
                                         : "Not burned (not a file or folder): %s",
                        entry.path.c_str());
}

bool plan_discs(const PlanRequest& request, DiscSet& set, std::string& message) {
  set = DiscSet{};
  set.title = request.title;
  set.capacity = request.capacity;
  // Without a root the folders keep their whole paths on the disc.
  // A relative root is taken from the current folder now: the files are read later, from
  // threads and libraries that must not depend on where the process stands.
  std::string root = request.root;
  if (!root.empty() && root[0] != '/') {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(root, ec);
    if (!ec) root = absolute.lexically_normal().string();
  }
  set.root = root.empty() ? "/" : system_path(root);
  truncate_to(set.root, kMaxRootChars);
  if (set.capacity == 0) return plan_fail(message, "Disc capacity must be above 0.", __LINE__);

  std::vector<std::string> folders;
  try {
    for (const std::string& f : request.folders) {
      std::string full = full_folder_path(set.root, f);
      folders.push_back(full);
      // A folder listed through a link is named when it is planned, never searched.
      struct stat st;
      const bool real_folder = sysio().lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      if (request.subfolders && real_folder && !collect_subfolders(full, folders))
        return plan_fail(message, "Can't add contents of folder.", __LINE__);
    }
  } catch (const std::bad_alloc&) {
    return plan_fail(message, "Out of memory allocating DiscFolder", __LINE__);
  }
  for (std::string& f : folders) {
    f = system_path(f);
    while (f.size() > 1 && f.back() == '/') f.pop_back();
  }
  std::sort(folders.begin(), folders.end(), less_nocase);
  // A folder listed and also reached as a subfolder goes onto the discs once.
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());

  Planner planner(set, message);
  for (const std::string& f : folders)
    if (!planner.add_folder(f)) return false;

  for (Disc& d : set.discs)
    std::stable_sort(d.folders.begin(), d.folders.end(),
                     [](const DiscFolder& a, const DiscFolder& b) {
                       return strcasecmp(a.name.c_str(), b.name.c_str()) < 0;
                     });
  set.label = volume_label(request.key, request.title);
  return true;
}

std::string volume_label(int key, const std::string& title) {
  if (key <= 0) return "Disc";
  char letter = title.find("Primary") != std::string::npos ? 'A' : 'B';
  return format_limited(100, "%d%c", key, letter);
}

std::string disc_label(const DiscSet& set, std::size_t index) {
  return format_limited(200, "%s_%03zu", set.label.c_str(), index + 1);
}

bool cd_allowed(const DiscSet& set) {
  return set.discs.size() == 1 && set.discs[0].image_size <= kCdCapacity;
}

std::string plan_summary(const DiscSet& set) {
  if (set.discs.empty()) return no_images_text();
  if (cd_allowed(set))
    return format_limited(1000, "Burning %s will require 1 CD or DVD.", set.title.c_str());
  return format_limited(1000, "Burning %s will require %zu DVD(s).", set.title.c_str(),
                        set.discs.size());
}

}  // namespace cw
