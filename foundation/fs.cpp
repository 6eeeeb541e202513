// File-system utilities: tree walks and folder listings, folder creation and removal, renames
// with retries, folder collection, CP1252 → UTF-8, and the stand-alone file copy.
//
// Sections: paths; tree walk and listings; folders; renames; folder collection; UTF-8;
// stand-alone copy. Every system call that touches the file system goes through the sysio
// table so that tests can make it fail.
#include "foundation/fs.h"

#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <thread>

#include "foundation/log.h"
#include "foundation/sysio.h"
#include "foundation/text.h"

namespace cw {

// ---------------------------------------------------------------- paths

std::string system_path(std::string_view path) {
  std::string p(path);
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

std::string join_path(const std::string& folder, const std::string& name) {
  if (!folder.empty() && is_separator(folder.back())) return folder + name;
  return folder + "/" + name;
}

namespace {

std::size_t name_offset(const std::string& path) {
  for (std::size_t i = path.size(); i > 0; --i)
    if (is_separator(path[i - 1])) return i;
  return 0;
}

bool ends_with(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

}  // namespace

// ---------------------------------------------------------------- tree walk and listings

namespace {

// Examines `path` and hands it to the visitor; a path that cannot be examined is reported.
int visit(const std::string& path, int level, int type, const WalkVisitor& visitor) {
  struct stat st;
  if (sysio().stat(system_path(path).c_str(), &st) != 0) {
    const char* reason = std::strerror(errno);
    log_printf("call_fn stat(%s) failed: %s", path.c_str(), reason);
    ui_printf("\nERROR accessing %s (%s)\n\n", path.c_str(), reason);
    return -1;
  }
  return visitor(path, st, type, name_offset(path), level);
}

// Folder or file, without following a symbolic link into a folder: a linked folder could
// lead back up the tree, so it is neither visited nor searched. A link that leads nowhere
// names no file to copy and is passed over too.
enum class EntryKind { kFile, kFolder, kSkipped };

EntryKind entry_kind(const std::string& path) {
  struct stat st;
  std::string p = system_path(path);
  if (sysio().lstat(p.c_str(), &st) != 0) return EntryKind::kFile;  // visit reports it
  if (S_ISDIR(st.st_mode)) return EntryKind::kFolder;
  if (!S_ISLNK(st.st_mode)) return EntryKind::kFile;
  if (sysio().stat(p.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return EntryKind::kSkipped;
  return EntryKind::kFile;
}

// Deleted files are never images to ingest. Linux has no system attribute to mark such
// folders, so they go by name: the Windows recycle bin, and the trash that Linux desktops
// keep on removable media (".Trash" shared, ".Trash-<uid>" per user).
bool is_trash_folder(const char* name) {
  if (std::strcmp(name, "$Recycle.Bin") == 0 || std::strcmp(name, ".Trash") == 0) return true;
  if (std::strncmp(name, ".Trash-", 7) != 0 || name[7] == '\0') return false;
  for (const char* p = name + 7; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  return true;
}

// The walk proper. Folders deeper than `search_limit` are visited but not searched, which is
// all a one-level listing needs.
int walk(const std::string& path, const WalkVisitor& visitor, int level, bool descend,
         int search_limit) {
  int rc = visit(path, level, kWalkFolder, visitor);
  if (rc != 0) return rc;
  if (level >= search_limit) return 0;
  ++level;

  std::unique_ptr<DIR, DirCloser> dir(sysio().opendir(system_path(path).c_str()));
  if (!dir) {
    // A folder the user may not read ends this branch without a word.
    if (errno == EACCES) return 0;
    int err = errno;
    log_printf("\n\nERROR: [%s] %s failed with error %d: %s\n", path.c_str(), "opendir", err,
               std::strerror(err));
    return -1;
  }
  // A file that cannot be examined is reported by visit() and makes the walk's result -1, but
  // the rest of its folder is still walked: one damaged entry on a card must not hide the
  // images listed after it.
  bool file_failed = false;
  for (;;) {
    errno = 0;
    struct dirent* entry = ::readdir(dir.get());
    if (!entry) {
      if (errno == 0) return file_failed ? -1 : 0;
      log_printf("readdir failed (code %d 0x%x)", errno, static_cast<unsigned>(errno));
      return -1;
    }
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    std::string full = join_path(path, name);
    switch (entry_kind(full)) {
      case EntryKind::kSkipped:
        continue;
      case EntryKind::kFolder:
        if (!descend || is_trash_folder(name)) continue;
        rc = walk(full, visitor, level, descend, search_limit);
        break;
      case EntryKind::kFile:
        rc = visit(full, level, kWalkFile, visitor);
        if (rc == -1) {
          file_failed = true;
          continue;
        }
        break;
    }
    if (rc != 0) return rc;
  }
}

}  // namespace

int walk_tree(const std::string& path, const WalkVisitor& visitor, int level) {
  bool descend = level != -1;
  if (level == -1) level = 0;
  return walk(path, visitor, level, descend, INT_MAX);
}

std::unique_ptr<DirList> dir_list_open(const std::string& path) {
  {
    std::unique_ptr<DIR, DirCloser> probe(sysio().opendir(system_path(path).c_str()));
    if (!probe) return nullptr;  // errno says why
  }
  std::unique_ptr<DirList> list(new (std::nothrow) DirList);
  if (!list) return nullptr;
  auto add_entry = [&list](const std::string& p, const struct stat&, int, std::size_t,
                           int level) {
    if (level != 1) return 0;
    try {
      list->entries.push_back(p);
    } catch (const std::bad_alloc&) {
      return 1;
    }
    return 0;
  };
  // Results 0 and -1 both keep what was found; 1 means memory ran out.
  if (walk(path, add_entry, 0, true, 1) == 1) return nullptr;
  list->pos = 0;
  return list;
}

std::optional<std::vector<std::string>> get_dir_list(RunContext& ctx, const std::string& path) {
  std::unique_ptr<DirList> list = dir_list_open(path);
  if (!list) {
    ctx.fail("get_dir_list: can't open path");
    return std::nullopt;
  }
  std::vector<std::string> out;
  try {
    out.reserve(list->entries.size());
    while (const std::string* entry = list->next()) {
      if (ctx.stop_requested()) {
        ctx.fail("Stopped");
        return std::nullopt;
      }
      std::string name = entry->substr(name_offset(*entry));
      if (name == "." || name == "..") continue;
      out.push_back(path + "/" + name);
    }
  } catch (const std::bad_alloc&) {
    ctx.fail("get_dir_list: malloc");
    return std::nullopt;
  }
  return out;
}

// ---------------------------------------------------------------- folders

bool rmdir_all(RunContext& ctx, const std::string& path) {
  auto files = get_dir_list(ctx, path);
  if (!files) return false;
  for (const std::string& file : *files) {
    if (sysio().unlink(system_path(file).c_str()) != 0) {
      ctx.report_append(file);
      return ctx.fail("rmdir_all: can't unlink");
    }
  }
  if (sysio().rmdir(system_path(path).c_str()) != 0) return ctx.fail("rmdir_all: rmdir failed");
  return true;
}

bool path_exists(const std::string& path) {
  struct stat st;
  return !path.empty() && sysio().lstat(system_path(path).c_str(), &st) == 0;
}

bool is_folder(const std::string& path) {
  struct stat st;
  return !path.empty() && sysio().stat(system_path(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int make_folder(const std::string& path) {
  const std::string p = system_path(path);
  struct stat st;
  if (sysio().stat(p.c_str(), &st) == 0) return 0;
  if (sysio().mkdir(p.c_str(), 0777) == 0) return 0;
  // Another run may have made it between the look and the mkdir: a folder is what was wanted.
  const int err = errno;
  if (err == EEXIST && sysio().stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
  errno = err;
  return -1;
}

namespace {

// "\\server" at the start of a network path names a machine, not a folder: never created.
bool is_server_part(std::string_view prefix) {
  return prefix.size() > 2 && prefix[0] == '\\' && prefix[1] == '\\' &&
         prefix.find('\\', 2) == std::string_view::npos;
}

}  // namespace

bool make_folders(RunContext& ctx, const std::string& path) {
  std::string scratch;
  try {
    scratch = path;
  } catch (const std::bad_alloc&) {
    return ctx.fail("out of memory");
  }
  for (std::size_t i = 0; i <= scratch.size(); ++i) {
    if (i < scratch.size() && !is_separator(scratch[i])) continue;
    std::string prefix = scratch.substr(0, i);
    // An empty prefix is the root of an absolute path.
    if (prefix.empty() || is_server_part(prefix)) continue;
    struct stat st;
    if (sysio().stat(system_path(prefix).c_str(), &st) == 0) continue;
    if (make_folder(prefix) != 0 && errno != EEXIST) {
      ctx.report_append(
          format_limited(1000, "\nError code = %d; path = \"%s\"\n", errno, prefix.c_str()));
      return ctx.fail("can't create folder");
    }
  }
  return true;
}

// ---------------------------------------------------------------- renames

namespace {
constexpr int kRenameTries = 59;
std::atomic<long long> rename_retry_ms{1000};
}  // namespace

void set_rename_retry_interval(std::chrono::milliseconds interval) {
  rename_retry_ms = interval.count();
}

int rename_path(const std::string& from, const std::string& to) {
  std::string f = system_path(from);
  std::string t = system_path(to);
  // The system may refuse for a while (a folder in use, a share that is busy): try again every
  // second for about a minute before giving up.
  for (int tries = 1;; ++tries) {
    if (sysio().rename(f.c_str(), t.c_str()) == 0) return 0;
    int err = errno;
    if ((err != EACCES && err != EBUSY) || tries >= kRenameTries) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(rename_retry_ms.load()));
    errno = err;
  }
  report_system_error("rename");
  log_printf("Renaming %s to %s", f.c_str(), t.c_str());
  return -1;
}

// ---------------------------------------------------------------- folder collection

bool collect_folders(std::vector<std::string>& list, const std::string& path) {
  std::unique_ptr<DirList> entries = dir_list_open(path);
  if (!entries) {
    if (errno == EACCES)
      log_printf("Can't access folder %s - permission denied.", path.c_str());
    else
      log_printf("Can't access folder %s - error other than permissions.", path.c_str());
    return false;
  }
  while (const std::string* entry = entries->next()) {
    std::string name = entry->substr(name_offset(*entry));
    if (name.empty() || name == "." || name == "..") continue;
    std::string full = join_path(path, name);
    struct stat st;
    if (sysio().stat(system_path(full).c_str(), &st) != 0) {
      log_printf("Error accessing path %s - can't get properties.", full.c_str());
      return false;
    }
    if (!S_ISDIR(st.st_mode)) continue;
    if (ends_with(full, ".Trashes")) continue;  // the trash a Mac leaves on a card
    try {
      list.push_back(full);
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (!collect_folders(list, full)) return false;
  }
  return true;
}

// ---------------------------------------------------------------- UTF-8

namespace {

// Strict check: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const unsigned char* end = p + s.size();
  while (p < end) {
    unsigned c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int extra;
    unsigned lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (end - p <= extra) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (int i = 2; i <= extra; ++i)
      if ((p[i] & 0xC0) != 0x80) return false;
    p += extra + 1;
  }
  return true;
}

// U+FFFD, the character that stands for one that could not be converted.
constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";

// One converter for the whole process, opened on first use.
struct Utf8Converter {
  std::mutex mutex;
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  bool open() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

Utf8Converter& converter() {
  static Utf8Converter c;
  return c;
}

}  // namespace

bool to_utf8(std::string_view input, std::string& output, std::string& message) {
  output.clear();
  if (is_valid_utf8(input)) {
    output.assign(input);
    return true;
  }
  Utf8Converter& c = converter();
  std::lock_guard<std::mutex> lock(c.mutex);
  if (!c.open()) {
    c.cd = ::iconv_open("UTF-8", "CP1252");
    if (!c.open()) {
      message = "Can't prepare to UTF-8 translation table.";
      return false;
    }
  }
  ::iconv(c.cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  // A CP1252 character takes at most three bytes in UTF-8, as does U+FFFD.
  std::string out(input.size() * 3, '\0');
  char* in_ptr = const_cast<char*>(input.data());
  std::size_t in_left = input.size();
  char* out_ptr = out.data();
  std::size_t out_left = out.size();
  while (::iconv(c.cd, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<std::size_t>(-1)) {
    if (errno != EILSEQ) {
      message = "Can't convert to UTF-8.";
      return false;
    }
    // The five bytes CP1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D): one bad byte of
    // a camera's text must not cost the image its name or its sidecar.
    std::memcpy(out_ptr, kReplacementCharacter, 3);
    out_ptr += 3;
    out_left -= 3;
    ++in_ptr;
    --in_left;
  }
  out.resize(out.size() - out_left);
  output = std::move(out);
  return true;
}

void to_utf8_release() {
  Utf8Converter& c = converter();
  std::lock_guard<std::mutex> lock(c.mutex);
  if (c.open()) ::iconv_close(c.cd);
  c.cd = reinterpret_cast<iconv_t>(-1);
}

// ---------------------------------------------------------------- stand-alone copy

namespace {

constexpr std::size_t kCopyBufferSize = 1048576;

// Outside a run there is no report: the detail goes into the same alert, above the message.
bool copy_failed(const std::string& detail, const char* message) {
  std::size_t first = detail.find_first_not_of('\n');
  std::size_t last = detail.find_last_not_of('\n');
  if (first == std::string::npos)
    alert_printf("%s", message);
  else
    alert_printf("%s\n%s", detail.substr(first, last - first + 1).c_str(), message);
  return false;
}

}  // namespace

bool copy_file_standalone(const std::string& source, const std::string& target,
                          bool refuse_overwrite) {
  const Sysio& io = sysio();
  std::string src = system_path(source);
  std::string dst = system_path(target);

  struct stat source_st;
  if (io.stat(src.c_str(), &source_st) != 0)
    return copy_failed(
        format_limited(1000, "Can't get stat info for path: \"%s\" (probably an unreadable file)",
                       source.c_str()),
        "Error accessing path (see message above)");

  std::vector<char> buffer;
  try {
    buffer.resize(kCopyBufferSize);
  } catch (const std::bad_alloc&) {
    return copy_failed("", "can't alloc read buffer");
  }

  const std::string overwrite_detail = "\nAttempt to overwrite file " + target + "\n";
  struct stat st;
  if (io.stat(dst.c_str(), &st) == 0 &&
      (refuse_overwrite || (st.st_dev == source_st.st_dev && st.st_ino == source_st.st_ino)))
    return copy_failed(overwrite_detail, "will not overwrite file");  // never onto itself
  if (refuse_overwrite && io.lstat(dst.c_str(), &st) == 0)  // a link to nowhere counts too
    return copy_failed(overwrite_detail, "will not overwrite file");

  // Exclusive creation closes the gap between the check above and the creation.
  int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (refuse_overwrite ? O_EXCL : 0);
  UniqueFd out(io.open(dst.c_str(), flags, 0666));
  if (out.get() < 0) {
    if (refuse_overwrite && errno == EEXIST)
      return copy_failed(overwrite_detail, "will not overwrite file");
    log_printf("copy_file_standalone: creating %s failed with error %d: %s", target.c_str(),
               errno, std::strerror(errno));
    return copy_failed(target, "can't open file for writing");
  }
  UniqueFd in(io.open(src.c_str(), O_RDONLY | O_CLOEXEC, 0));
  if (in.get() < 0)
    return copy_failed(format_limited(1000, "From path: %s; errno = %d", source.c_str(), errno),
                       "can't open file for reading");

  for (;;) {
    ssize_t n = read_some(in.get(), buffer.data(), buffer.size());
    if (n < 0) {
      log_printf("copy_file_standalone: read(%s) failed with error %d: %s", source.c_str(),
                 errno, std::strerror(errno));
      return copy_failed("", "read error copying file");
    }
    if (n == 0) break;
    IoStatus written = write_all(out.get(), buffer.data(), static_cast<std::size_t>(n));
    if (written != IoStatus::kOk) {
      log_printf("copy_file_standalone: %s writing %s (error %d: %s)",
                 written == IoStatus::kDiskFull ? "disk full" : "write failed", target.c_str(),
                 errno, std::strerror(errno));
      return copy_failed("", "write error copying file");
    }
  }
  // A database backup must be on the disk before anyone relies on it; a device that only
  // reports its failure when flushed is caught here.
  if (io.fsync(out.get()) != 0) {
    log_printf("copy_file_standalone: fsync(%s) failed with error %d: %s", target.c_str(), errno,
               std::strerror(errno));
    return copy_failed("", "write error copying file");
  }
  bool in_closed = in.close() == 0;
  bool out_closed = out.close() == 0;
  if (!in_closed || !out_closed) return copy_failed("", "close error copying file");

  const struct timespec times[2] = {source_st.st_mtim, source_st.st_mtim};
  if (io.utimens(dst.c_str(), times) != 0) {
    log_printf("copy_file_standalone: setting times of %s failed with error %d: %s",
               target.c_str(), errno, std::strerror(errno));
    alert_printf("utime more_copying");
  }

  struct stat target_st;
  if (io.stat(dst.c_str(), &target_st) != 0)
    return copy_failed(target + "\n", "stat unconverted target");
  if (target_st.st_size != source_st.st_size)
    return copy_failed(target + "\n", "Written file is wrong size.");
  return true;
}

}  // namespace cw
