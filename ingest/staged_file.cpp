// Temporary copies moved into place, and the per-phase flush of the written file systems.
#include "ingest/staged_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <string_view>

#include "foundation/sysio.h"

namespace cw {

namespace {

std::atomic<unsigned long> staged_count{0};

constexpr std::string_view kStagedPrefix = ".cw-", kStagedSuffix = ".part";

// This machine's name as temporary names carry it (no "/" or "-"); looked up once, since
// every copy needs it.
const std::string& host_name() {
  static const std::string name = [] {
    char buffer[256] = "";
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return std::string("host");
    std::string out = buffer;
    for (char& c : out)
      if (c == '/' || c == '-') c = '_';
    return out.empty() ? std::string("host") : out;
  }();
  return name;
}

// The process that wrote a temporary copy named ".cw-HOST-PID-N.part", when HOST is this
// machine; 0 otherwise.
pid_t writer_on_this_host(std::string_view name, const std::string& host) {
  if (name.size() <= kStagedPrefix.size() + kStagedSuffix.size() ||
      name.substr(0, kStagedPrefix.size()) != kStagedPrefix ||
      name.substr(name.size() - kStagedSuffix.size()) != kStagedSuffix)
    return 0;
  name.remove_prefix(kStagedPrefix.size());
  name.remove_suffix(kStagedSuffix.size());
  const std::size_t counter = name.rfind('-');
  if (counter == std::string_view::npos) return 0;
  const std::size_t pid_at = name.rfind('-', counter - 1);
  if (pid_at == std::string_view::npos || name.substr(0, pid_at) != host) return 0;
  const std::string_view digits = name.substr(pid_at + 1, counter - pid_at - 1);
  if (digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string_view::npos)
    return 0;
  return static_cast<pid_t>(std::stol(std::string(digits)));
}

}  // namespace

void remove_stale_staged_files(const std::string& folder) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
  if (!dir) return;
  const std::string& host = host_name();
  while (const dirent* e = ::readdir(dir.get())) {
    const pid_t writer = writer_on_this_host(e->d_name, host);
    if (writer <= 0 || writer == ::getpid()) continue;
    if (::kill(writer, 0) == 0 || errno != ESRCH) continue;  // alive, or not ours to judge
    ::unlinkat(::dirfd(dir.get()), e->d_name, 0);
  }
}

StagedFile::~StagedFile() {
  fd_.close();
  if (temp_.empty() || committed_) return;
  if (folder_fd_ >= 0)
    unlink_in(folder_fd_, name_in_folder(temp_));
  else
    sysio().unlink(temp_.c_str());
}

const char* StagedFile::name_in_folder(const std::string& path) const {
  if (path.size() <= folder_.size() + 1 || path.compare(0, folder_.size(), folder_) != 0 ||
      path[folder_.size()] != '/' || path.find('/', folder_.size() + 1) != std::string::npos)
    return nullptr;
  return path.c_str() + folder_.size() + 1;
}

namespace {

// A temporary name in `folder`: the machine, the process and a counter make it unique among
// every run writing into the folder, and tell a later run whether the writer is gone.
std::string temporary_name(const std::string& folder) {
  return folder + "/" + std::string(kStagedPrefix) + host_name() + "-" +
         std::to_string(::getpid()) + "-" + std::to_string(++staged_count) +
         std::string(kStagedSuffix);
}

}  // namespace

bool StagedFile::create(const std::string& folder, int folder_fd) {
  folder_ = folder;
  const bool usable = folder_calls_usable();
  folder_fd_ = folder_fd >= 0 && usable ? folder_fd : -1;
  if (usable) {
    // Without a descriptor of the folder the file is made through the folder's path, and
    // named through the target's: it depends on no descriptor that may be closed meanwhile.
    fd_.reset(open_unnamed_at(folder_fd_ >= 0 ? folder_fd_ : AT_FDCWD,
                              folder_fd_ >= 0 ? "." : folder.c_str(), O_WRONLY | O_CLOEXEC, 0666));
    unnamed_ = fd_.valid();
    if (unnamed_) return true;
  }
  temp_ = temporary_name(folder);
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  if (folder_fd_ >= 0)
    fd_.reset(open_in(folder_fd_, name_in_folder(temp_), kFlags, 0666));
  else
    fd_.reset(sysio().open(temp_.c_str(), kFlags, 0666));
  if (!fd_.valid()) temp_.clear();
  return fd_.valid();
}

int StagedFile::close(std::uint64_t written) {
  // Only a hint: a file system that cannot start the writeback early writes it at the flush.
  if (written >= kEarlyWriteback && fd_.valid())
    ::sync_file_range(fd_.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
  return unnamed_ ? 0 : fd_.close();
}

int StagedFile::link_unnamed(const std::string& path) const {
  const char* name = folder_fd_ >= 0 ? name_in_folder(path) : nullptr;
  return link_in(fd_.get(), name ? folder_fd_ : AT_FDCWD, name ? name : path.c_str());
}

bool StagedFile::commit(const std::string& target, bool replace,
                        std::optional<Fingerprint>* named) {
  const char* name = folder_fd_ >= 0 ? name_in_folder(target) : nullptr;
  if (named) named->reset();
  if (unnamed_ && !replace) {
    committed_ = link_unnamed(target) == 0;
    if (!committed_) return false;
    // Taken after the naming, which changed the file's status time.
    struct stat st;
    if (named && sysio().fstat(fd_.get(), &st) == 0) *named = fingerprint_of(st);
    // Named, the file is what the folder holds: the flush of the phase reports what the disk
    // makes of its bytes, as for any other copy.
    fd_.close();
    return true;
  }
  if (unnamed_) {
    // Replacing takes a rename: the file is named first, under a temporary name.
    const std::string temporary = temporary_name(folder_);
    if (link_unnamed(temporary) != 0) return false;
    temp_ = temporary;
    unnamed_ = false;
    fd_.close();
  }
  int rc;
  if (name && replace)
    rc = ::renameat(folder_fd_, name_in_folder(temp_), folder_fd_, name);
  else if (name)
    rc = rename_in(folder_fd_, name_in_folder(temp_), name);
  else
    rc = replace ? ::rename(temp_.c_str(), target.c_str())
                 : sysio().rename(temp_.c_str(), target.c_str());
  committed_ = rc == 0;
  return committed_;
}

int FolderHandles::get(const std::string& folder) {
  if (!folder_calls_usable()) return -1;
  if (auto it = held_.find(folder); it != held_.end()) return it->second.get();
  if (held_.size() >= kMaxHeld) held_.clear();
  const auto it = held_.try_emplace(folder).first;
  it->second.reset(sysio().open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (it->second.valid()) return it->second.get();
  held_.erase(it);
  return -1;
}

void DiskFlush::note(const std::string& folder) {
  if (folder == last_) return;
  if (swept_.insert(folder).second) remove_stale_staged_files(folder);
  struct stat st;
  if (sysio().stat(folder.c_str(), &st) != 0) return;  // the copy there has failed already
  last_ = folder;
  noted_.emplace(st.st_dev, folder);
}

bool DiskFlush::flush(std::string& folder) {
  std::map<dev_t, std::string> noted;
  noted.swap(noted_);
  last_.clear();
  for (const auto& [device, path] : noted) {
    folder = path;
    UniqueFd fd(sysio().open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (!fd.valid() || sysio().syncfs(fd.get()) != 0) return false;
  }
  return true;
}

}  // namespace cw
