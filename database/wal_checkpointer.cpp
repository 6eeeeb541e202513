#include "database/wal_checkpointer.h"

#include <sqlite3.h>

#include <system_error>

namespace cw {

WalCheckpointer::WalCheckpointer(sqlite3* db, const std::string& path, int threshold)
    : db_(db), threshold_(threshold) {
  sqlite3* own = nullptr;
  if (sqlite3_open_v2(path.c_str(), &own, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    // A checkpoint syncs the log before it copies and the file after, as every commit here is
    // synced.
    sqlite3_exec(own, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    try {
      own_ = own;
      thread_ = std::thread(&WalCheckpointer::work, this);
    } catch (const std::system_error&) {
      own_ = nullptr;  // no thread: the committing connection checkpoints
    }
  }
  if (!own_) sqlite3_close(own);
  // Last, once own_ no longer changes: the hook reads it on the committing thread. It replaces
  // SQLite's automatic checkpoint on this connection.
  sqlite3_wal_hook(db_, &WalCheckpointer::committed, this);
}

WalCheckpointer::~WalCheckpointer() {
  sqlite3_wal_hook(db_, nullptr, nullptr);
  if (!own_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_one();
  thread_.join();
  // Not the last connection to the file: closing it leaves the log to `db_`.
  sqlite3_close(own_);
}

int WalCheckpointer::committed(void* self, sqlite3* db, const char* schema, int pages) {
  auto& me = *static_cast<WalCheckpointer*>(self);
  if (pages < me.threshold_) return SQLITE_OK;
  if (me.own_ && pages < 2 * me.threshold_) {
    {
      std::lock_guard<std::mutex> lock(me.mutex_);
      me.due_ = true;
    }
    me.wake_.notify_one();
    return SQLITE_OK;
  }
  // No thread, or commits that follow each other so closely that the log outgrows what the
  // thread copies: the log starts again only at a write that begins after a checkpoint copied
  // all of it, and a write that begins while the thread copies adds to its end. The committing
  // connection then waits for the thread's checkpoint and copies the rest itself, so the log
  // stays within twice the threshold.
  std::lock_guard<std::mutex> one_at_a_time(me.checkpointing_);
  sqlite3_wal_checkpoint_v2(db, schema, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  return SQLITE_OK;
}

void WalCheckpointer::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return due_ || quit_; });
    if (quit_) return;
    due_ = false;
    lock.unlock();
    {
      // A failure (the file busy with another program's checkpoint) is left to the next
      // commit past the threshold.
      std::lock_guard<std::mutex> one_at_a_time(checkpointing_);
      sqlite3_wal_checkpoint_v2(own_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    }
    lock.lock();
  }
}

}  // namespace cw
