// Temporary copies moved into place, and the per-phase flush of the written file systems.
#include "ingest/staged_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "foundation/sysio.h"

namespace cw {

namespace {
std::atomic<unsigned long> staged_count{0};
}  // namespace

StagedFile::~StagedFile() {
  fd_.close();
  if (!temp_.empty() && !committed_) sysio().unlink(temp_.c_str());
}

bool StagedFile::create(const std::string& folder) {
  // The process and a counter make the name unique among every run writing into the folder.
  temp_ = folder + "/.cw-" + std::to_string(::getpid()) + "-" + std::to_string(++staged_count) +
          ".part";
  fd_.reset(sysio().open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!fd_.valid()) temp_.clear();
  return fd_.valid();
}

int StagedFile::close(bool written) {
  // Only a hint: a file system that cannot start the writeback early writes it at the flush.
  if (written && fd_.valid()) ::sync_file_range(fd_.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
  return fd_.close();
}

bool StagedFile::commit(const std::string& target, bool replace) {
  const int rc = replace ? ::rename(temp_.c_str(), target.c_str())
                         : sysio().rename(temp_.c_str(), target.c_str());
  committed_ = rc == 0;
  return committed_;
}

void DiskFlush::note(const std::string& folder) {
  if (folder == last_) return;
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
