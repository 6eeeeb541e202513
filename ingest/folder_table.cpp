// Interned relative-folder texts.
#include "ingest/folder_table.h"

namespace cw {

const std::string& FolderTable::intern(std::string_view folder) {
  // Elements of an unordered_set never move, so references survive later insertions.
  std::lock_guard<std::mutex> hold(mutex_);
  return *folders_.emplace(folder).first;
}

}  // namespace cw
