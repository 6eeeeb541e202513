#include "database/wal_checkpointer.h"

#include <sqlite3.h>

#include <system_error>

namespace cw {

WalCheckpointer::WalCheckpointer(sqlite3* db, const std::string& path, int threshold)
    : db_(db), path_(path), threshold_(threshold) {
  // It replaces SQLite's automatic checkpoint on this connection.
  sqlite3_wal_hook(db_, &WalCheckpointer::committed, this);
}

WalCheckpointer::~WalCheckpointer() {
  sqlite3_wal_hook(db_, nullptr, nullptr);
  std::thread thread;  // taken under the lock: the last commit may have made it
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    thread = std::move(thread_);
  }
  wake_.notify_one();
  if (thread.joinable()) thread.join();
}

bool WalCheckpointer::on_own_thread() {
  std::lock_guard<std::mutex> lock(mutex_);
  return thread_state_ == Thread::kRunning;
}

int WalCheckpointer::committed(void* self, sqlite3* db, const char* schema, int pages) {
  auto& me = *static_cast<WalCheckpointer*>(self);
  if (pages < me.threshold_) return SQLITE_OK;
  if (pages < 2 * me.threshold_ && me.wake()) return SQLITE_OK;
  // No thread, or commits that follow each other so closely that the log outgrows what the
  // thread copies: the log starts again only at a write that begins after a checkpoint copied
  // all of it, and a write that begins while the thread copies adds to its end. The committing
  // connection then waits for the thread's checkpoint and copies the rest itself, so the log
  // stays within twice the threshold.
  std::lock_guard<std::mutex> one_at_a_time(me.checkpointing_);
  sqlite3_wal_checkpoint_v2(db, schema, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  return SQLITE_OK;
}

bool WalCheckpointer::wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_state_ == Thread::kFailed) return false;
    if (thread_state_ == Thread::kNone) {
      try {
        thread_ = std::thread(&WalCheckpointer::work, this);
      } catch (const std::system_error&) {
        thread_state_ = Thread::kFailed;
        return false;
      }
      thread_state_ = Thread::kOpening;
    }
    due_ = true;
  }
  wake_.notify_one();
  return true;
}

void WalCheckpointer::work() {
  sqlite3* own = nullptr;
  const bool opened =
      sqlite3_open_v2(path_.c_str(), &own, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
  // A checkpoint syncs the log before it copies and the file after, as every commit here is
  // synced.
  if (opened) sqlite3_exec(own, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  std::unique_lock<std::mutex> lock(mutex_);
  // Without a connection the checkpoint asked for is left to the next commit past the
  // threshold, which makes it itself.
  thread_state_ = opened ? Thread::kRunning : Thread::kFailed;
  while (opened) {
    wake_.wait(lock, [this] { return due_ || quit_; });
    if (quit_) break;
    due_ = false;
    lock.unlock();
    {
      // A failure (the file busy with another program's checkpoint) is left to the next
      // commit past the threshold.
      std::lock_guard<std::mutex> one_at_a_time(checkpointing_);
      sqlite3_wal_checkpoint_v2(own, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    }
    lock.lock();
  }
  lock.unlock();
  // Not the last connection to the file: closing it leaves the log to `db_`.
  sqlite3_close(own);
}

}  // namespace cw
