// The journal of multi-camera syncs: reading, looking up, recording and saving it.
#include "control/sync_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "foundation/log.h"
#include "foundation/sysio.h"
#include "platform/paths.h"

namespace cw {

namespace {

// A path on one line: backslash and line break written as \\ and \n.
std::string escaped(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::optional<std::string> unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    if (text[i] == '\\')
      out += '\\';
    else if (text[i] == 'n')
      out += '\n';
    else
      return std::nullopt;
  }
  return out;
}

// Longer than any shift a sync can write (ten thousand years) and far from overflowing when
// added to a time: a line beyond it was not written by a sync.
constexpr std::int64_t kLongestShift = 10000LL * 366 * 86400;

}  // namespace

std::string default_sync_journal_path() { return user_folder() + "/multicam-sync.txt"; }

SyncJournal::SyncJournal(std::string path) : path_(std::move(path)) {
  if (!path_.empty()) entries_ = read(path_);
}

std::map<std::string, SyncJournal::Entry> SyncJournal::read(const std::string& path) {
  std::map<std::string, Entry> entries;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Entry e;
    std::string rest;
    if (!(fields >> e.shift >> e.size >> e.seconds >> e.nanoseconds) || fields.get() != '\t' ||
        !std::getline(fields, rest) || e.shift <= -kLongestShift || e.shift >= kLongestShift)
      continue;
    if (std::optional<std::string> path_text = unescaped(rest); path_text && !path_text->empty())
      entries[*path_text] = e;
  }
  return entries;
}

SyncLookup SyncJournal::lookup(const std::string& real_path, const struct stat& st) const {
  const auto it = entries_.find(real_path);
  if (it == entries_.end()) return {};
  const Entry& e = it->second;
  if (e.size != static_cast<std::uint64_t>(st.st_size) || e.seconds != st.st_mtim.tv_sec ||
      e.nanoseconds != st.st_mtim.tv_nsec)
    return {SyncState::kChangedSince, 0};
  return {SyncState::kSynced, e.shift};
}

void SyncJournal::wrote(const std::string& real_path, const struct stat& before,
                        std::int64_t delta, const struct stat& after) {
  const SyncLookup earlier = lookup(real_path, before);
  Entry e;
  e.shift = (earlier.state == SyncState::kSynced ? earlier.shift : 0) + delta;
  e.size = static_cast<std::uint64_t>(after.st_size);
  e.seconds = after.st_mtim.tv_sec;
  e.nanoseconds = after.st_mtim.tv_nsec;
  if (e.shift == 0) {
    // Moved back to where the camera put it: nothing is left to correct.
    entries_.erase(real_path);
    changed_[real_path] = std::nullopt;
  } else {
    entries_[real_path] = e;
    changed_[real_path] = e;
  }
}

bool SyncJournal::save() {
  if (path_.empty() || changed_.empty()) return true;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
  const std::string lock_path = path_ + ".lock";
  UniqueFd lock(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!lock.valid() || ::flock(lock.get(), LOCK_EX) != 0) {
    alert_printf("Can't record the synchronized times in \"%s\". (error code %d)", path_.c_str(),
                 errno);
    return false;
  }
  std::map<std::string, Entry> merged = read(path_);
  for (const auto& [path, entry] : changed_) {
    if (entry)
      merged[path] = *entry;
    else
      merged.erase(path);
  }
  std::string text;
  for (const auto& [path, e] : merged)
    text += std::to_string(e.shift) + "\t" + std::to_string(e.size) + "\t" +
            std::to_string(e.seconds) + "\t" + std::to_string(e.nanoseconds) + "\t" +
            escaped(path) + "\n";
  const std::string temp = path_ + ".new";
  UniqueFd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  const bool written = out.valid() && write_all(out.get(), text.data(), text.size()) == IoStatus::kOk &&
                       ::fsync(out.get()) == 0 && out.close() == 0 &&
                       ::rename(temp.c_str(), path_.c_str()) == 0;
  if (!written) {
    const int error = errno;
    ::unlink(temp.c_str());
    alert_printf("Can't record the synchronized times in \"%s\". (error code %d)", path_.c_str(),
                 error);
    return false;
  }
  entries_ = std::move(merged);
  changed_.clear();
  return true;
}

}  // namespace cw
