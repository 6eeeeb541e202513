// Flushing ahead of a phase's end. A phase proves its copies with one flush of the file
// systems it wrote to, at its end (and at the ledger's stores); until then the system keeps
// the copies' bytes in memory and the disk waits. A FlushAhead syncs those file systems on a
// thread of its own every few megabytes while the phase goes on copying, so that the disk
// writes during the copying and the phase's own flush finds little left to write.
//
// Only a hint: it proves nothing, nothing waits for it but its owner's end, and what it
// fails to write is written, and its failures met, by the phase's own flush.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace cw {

class DiskFlush;

// Bytes a phase writes between the starts of two flushes ahead: enough that a card of large
// files starts one every few files; few enough that a card of a few hundred small images
// (a few tens of megabytes) is mostly written when its phase ends.
inline constexpr std::uint64_t kFlushAheadStep = 4 * 1024 * 1024;

// Syncs the file system that holds `folder`; a failure is left alone.
void sync_file_system(const std::string& folder);

// The file systems being flushed ahead for a batch's runs: one flush ahead at a time on each,
// whichever run asks (a sync writes what every run wrote there).
class FlushAheadGate {
 public:
  // True, and the file system is the caller's until given back, when nobody flushes it now.
  bool take(dev_t device);
  void give_back(dev_t device);

 private:
  std::mutex mutex_;
  std::set<dev_t> busy_;
};

class FlushAhead {
 public:
  using Sync = std::function<void(const std::string& folder)>;
  explicit FlushAhead(Sync sync = sync_file_system, std::uint64_t step = kFlushAheadStep)
      : sync_(std::move(sync)), step_(step) {}
  FlushAhead(const FlushAhead&) = delete;
  FlushAhead& operator=(const FlushAhead&) = delete;
  // Waits for the flush under way, if any.
  ~FlushAhead();

  // Flushes ahead only the file systems `gate` gives it (it must outlive this object).
  void share(FlushAheadGate& gate) { gate_ = &gate; }

  // Counts `bytes` more written to the file systems `noted` holds. Once a step's worth has
  // been written since the last flush ahead began, begins another, unless that one still
  // runs or others flush them all: the bytes then wait for the next call after that.
  // The flushes run one after another on one thread, made at the first: a card of small
  // files begins one every few dozen files, and a thread made for each would cost the
  // copying more than the call does.
  void wrote(std::uint64_t bytes, const DiskFlush& noted);

 private:
  using Systems = std::vector<std::pair<dev_t, std::string>>;
  void work();
  void give_back(const Systems& systems);

  Sync sync_;
  std::uint64_t step_;
  FlushAheadGate* gate_ = nullptr;
  std::uint64_t unflushed_ = 0;
  std::atomic<bool> running_{false};
  std::mutex mutex_;
  std::condition_variable asked_;
  Systems asked_systems_;  // the flush asked for and not yet begun
  bool quit_ = false;
  std::thread thread_;  // last: made once the members it uses are
};

}  // namespace cw
