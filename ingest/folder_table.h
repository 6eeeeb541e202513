// The folder table of a run: every distinct folder text of its images (relative below the
// card and below the first-copy root, and the full folders of their sources and first copies),
// their extensions, and the few file names their paths cannot give otherwise, stored once, so
// that the images of one folder or one kind share one text. The run's naming and its copying
// add texts from two threads: each addition holds the table's lock.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>

namespace cw {

class FolderTable {
 public:
  // The table's text equal to `folder`, added when new. The reference stays valid for the
  // table's lifetime.
  const std::string& intern(std::string_view folder);
  std::size_t size() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return folders_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::unordered_set<std::string> folders_;
};

}  // namespace cw
