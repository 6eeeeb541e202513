// Disc set planning: folder collection, folder scans with their cut points, the filling of
// discs, labels and the plan's texts.
#include "disc/burner.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>

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

std::string leaf_name(const std::string& path) {
  std::size_t sep = path.find_last_of("/\\");
  return sep == std::string::npos ? path : path.substr(sep + 1);
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

bool skipped_name(const std::string& name) {
  return name.empty() || name == "." || name == ".." || name == ".DS_Store" || name == ".Trashes";
}

}  // namespace

bool scan_folder(const std::string& path, const std::string& name, std::uint64_t space_left,
                 std::uint64_t capacity, ScannedFolder& out, std::string& message) {
  log_printf("Processing folder %s", path.c_str());
  out = ScannedFolder{};
  out.folder.name = name;
  std::unique_ptr<DirList> list = dir_list_open(path);
  if (!list) {
    int err = errno;
    if (err == EACCES)
      return plan_fail(message, "Can't access folder - permission denied.", __LINE__, err);
    return plan_fail(message, "Can't access folder - error other than permissions.", __LINE__, err);
  }

  // Files in name order, so that a folder cut over several discs keeps runs of neighbouring
  // images together.
  struct Entry {
    std::string name;
    std::uint64_t size;
  };
  std::vector<Entry> files;
  try {
    while (const std::string* entry = list->next()) {
      std::string leaf = leaf_name(*entry);
      if (skipped_name(leaf)) continue;
      std::string full = join(path, leaf);
      if (full.size() >= kMaxPathChars) return plan_fail(message, "File name too long.", __LINE__);
      struct stat st;
      if (sysio().stat(full.c_str(), &st) != 0)
        return plan_fail(message, "Error accessing path - can't get properties.", __LINE__, errno);
      if (S_ISDIR(st.st_mode)) continue;
      auto size = static_cast<std::uint64_t>(st.st_size);
      if (size > capacity) return plan_fail(message, "File size exceeds disc capacity.", __LINE__);
      files.push_back(Entry{leaf, size});
    }
  } catch (const std::bad_alloc&) {
    return plan_fail(message, "Out of memory saving file name.", __LINE__);
  }
  std::sort(files.begin(), files.end(),
            [](const Entry& a, const Entry& b) { return less_nocase(a.name, b.name); });

  // A segment ends where the next file would overflow the space: first the space left on the
  // current disc, then a whole disc each.
  std::uint64_t space = space_left;
  FolderSegment segment;
  try {
    for (const Entry& f : files) {
      if (segment.size + f.size > space) {
        if (out.segments.size() >= kMaxDiscs)
          return plan_fail(message, "Can't split folder; bigger than max number of discs.",
                           __LINE__);
        if (segment.count > 0) out.segments.push_back(segment);
        segment = FolderSegment{out.folder.files.size(), 0, 0};
        space = capacity;
      }
      out.folder.files.push_back(f.name);
      out.folder.size += f.size;
      segment.size += f.size;
      ++segment.count;
    }
    if (segment.count > 0) out.segments.push_back(segment);
  } catch (const std::bad_alloc&) {
    return plan_fail(message, "Out of memory saving file name.", __LINE__);
  }
  return true;
}

bool add_folder(DiscSet& set, const std::string& folder, std::string& message) {
  std::string name;
  if (!relative_name(set.root, folder, name)) {
    message = format_limited(1000, "Folder %s is not inside %s.", folder.c_str(), set.root.c_str());
    errstack_push("burner", "burner", __LINE__, message.c_str(), kInternalErrorNumber, 0);
    return false;
  }
  const std::uint64_t space =
      set.discs.empty() ? set.capacity : set.capacity - set.discs.back().size;
  ScannedFolder scanned;
  if (!scan_folder(folder, name, space, set.capacity, scanned, message)) return false;

  // A folder that fits on a disc is never cut: it goes whole onto a new disc when the current
  // one has too little space left.
  std::vector<FolderSegment> segments = scanned.segments;
  if (scanned.folder.size <= set.capacity && !segments.empty())
    segments = {FolderSegment{0, scanned.folder.files.size(), scanned.folder.size}};

  try {
    for (const FolderSegment& s : segments) {
      if (set.discs.empty() || set.discs.back().size + s.size > set.capacity) {
        if (set.discs.size() >= kMaxDiscs)
          return plan_fail(message, "Burn will take too many discs.", __LINE__);
        set.discs.emplace_back();
      }
      DiscFolder part;
      part.name = name;
      part.size = s.size;
      auto first = scanned.folder.files.begin() + static_cast<std::ptrdiff_t>(s.first);
      part.files.assign(first, first + static_cast<std::ptrdiff_t>(s.count));
      set.discs.back().folders.push_back(std::move(part));
      set.discs.back().size += s.size;
    }
  } catch (const std::bad_alloc&) {
    return plan_fail(message, "Out of memory allocating new folder", __LINE__);
  }
  return true;
}

bool plan_discs(const PlanRequest& request, DiscSet& set, std::string& message) {
  set = DiscSet{};
  set.title = request.title;
  set.capacity = request.capacity;
  // Without a root the folders keep their whole paths on the disc.
  set.root = request.root.empty() ? "/" : system_path(request.root);
  truncate_to(set.root, kMaxRootChars);
  if (set.capacity == 0) return plan_fail(message, "Disc capacity must be above 0.", __LINE__);

  std::vector<std::string> folders;
  try {
    for (const std::string& f : request.folders) {
      std::string full = full_folder_path(set.root, f);
      folders.push_back(full);
      if (request.subfolders && !collect_folders(folders, full))
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

  for (const std::string& f : folders)
    if (!add_folder(set, f, message)) return false;

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
  return set.discs.size() == 1 && set.discs[0].size <= kCdCapacity;
}

std::string plan_summary(const DiscSet& set) {
  if (set.discs.empty()) return no_images_text();
  if (cd_allowed(set))
    return format_limited(1000, "Burning %s will require 1 CD or DVD.", set.title.c_str());
  return format_limited(1000, "Burning %s will require %zu DVD(s).", set.title.c_str(),
                        set.discs.size());
}

}  // namespace cw
