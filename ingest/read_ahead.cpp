// The reads ahead of earlier copies and their threads.
#include "ingest/read_ahead.h"

#include <algorithm>
#include <iterator>
#include <memory>

#include "ingest/engine_context.h"
#include "ingest/run_ledger.h"

namespace cw {

namespace {

// Read in pieces as long as a read-back's: a direct read asks the disk for exactly what it
// reads, so each reader's pieces are the requests its disk sees one after the other.
constexpr std::size_t kReadBuffer = 1048576;
// Two files read at once keep the disk busy while the run's thread hashes the card.
constexpr std::size_t kReaders = 2;
// Images whose copies are queued ahead of the one the run copies: enough that the readers
// never wait for the run, few enough that a stopped run has read little in vain.
constexpr std::size_t kImagesAhead = 8;
// More copies recorded of files of one size and time than this (a few trees, a few contents)
// are no photographer's archive: they are left to the run, which reads only those of the
// content that matches.
constexpr std::ptrdiff_t kMostCandidates = 12;

}  // namespace

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    jobs_.clear();
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void ReadAhead::queue(const std::string& path, const Hash128& expected) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!reads_.emplace(path, Read{}).second) return;
    jobs_.push_back(VerifyJob{path, expected, 0, 0, {}});
    if (threads_.empty())
      for (std::size_t i = 0; i < kReaders; ++i) threads_.emplace_back(&ReadAhead::work, this);
  }
  wake_.notify_one();
}

std::optional<VerifyResult> ReadAhead::take(const std::string& path) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto it = reads_.find(path);
  if (it == reads_.end()) return std::nullopt;
  if (it->second.stage == Stage::kQueued) {
    // Sooner read by the caller than after the reads queued before it.
    for (auto job = jobs_.begin(); job != jobs_.end(); ++job)
      if (job->path == path) {
        jobs_.erase(job);
        break;
      }
    reads_.erase(it);
    return std::nullopt;
  }
  done_.wait(lock, [&it] { return it->second.stage == Stage::kDone; });
  VerifyResult result = std::move(it->second.result);
  reads_.erase(it);
  return result;
}

void ReadAhead::work() {
  const ReadBackMemory buffer = read_back_memory(kReadBuffer);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
    if (quit_) return;
    const VerifyJob job = std::move(jobs_.front());
    jobs_.pop_front();
    reads_[job.path].stage = Stage::kReading;
    lock.unlock();
    VerifyResult result = read_back(job, buffer.get(), kReadBuffer);
    lock.lock();
    Read& read = reads_[job.path];
    read.result = std::move(result);
    read.stage = Stage::kDone;
    done_.notify_all();
  }
}

void start_read_ahead(const RunOptions& options, RunState& state) {
  state.read_ahead.reset();
  Database* db = state.ledger.database();
  if (!options.reverify || !options.verify_copies || !db) return;
  std::vector<std::uint64_t> sizes;
  sizes.reserve(state.images.size());
  for (const ImageRecord& r : state.images) sizes.push_back(r.size);
  std::sort(sizes.begin(), sizes.end());
  sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
  std::optional<std::vector<RecordedCopy>> copies = ledger_copies_of_sizes(*db, sizes);
  if (!copies) return;  // each copy is then read when it is checked
  state.read_ahead = std::make_unique<ReadAhead>();
  for (RecordedCopy& c : *copies)
    if (c.hash && copy_counts(c.state))
      state.read_ahead->recorded.emplace(std::pair(c.size, c.modified), std::move(c));
}

void read_ahead_from(const RunOptions& options, RunState& state, std::size_t image) {
  ReadAhead* ahead = state.read_ahead.get();
  if (!ahead) return;
  // The trees in the order the run checks them (archive_check.cpp).
  std::vector<std::string> roots{tree_root(options, state, CopyTree::kFirst)};
  if (options.want_backup) roots.push_back(tree_root(options, state, CopyTree::kPrimary));
  if (options.want_backup && options.want_backup_post)
    roots.push_back(tree_root(options, state, CopyTree::kPost));
  const std::size_t end = std::min(state.images.size(), image + kImagesAhead);
  for (; ahead->next_image < end; ++ahead->next_image) {
    const ImageRecord& r = state.images[ahead->next_image];
    const auto [from, to] = ahead->recorded.equal_range(std::pair(r.size, r.modified));
    if (std::distance(from, to) > kMostCandidates) continue;
    for (const std::string& root : roots)
      for (auto c = from; c != to; ++c)
        if (c->second.root == root) ahead->queue(c->second.path, *c->second.hash);
  }
}

}  // namespace cw
