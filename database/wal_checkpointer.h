// Moves a catalogue's write-ahead log into its file on a thread of its own.
//
// A checkpoint copies the log's pages into the file and syncs both: done by the connection that
// committed (SQLite's own automatic checkpoint), it stops that connection's writer for as long.
// An ingestion stores its ledger every second from its copying thread, so on a large card every
// few seconds the copying waited for a checkpoint (50-80 ms on a virtual machine's disk once the
// catalogue held 100,000 files). Here a commit that leaves the log at `threshold` pages or more
// only wakes the checkpointer's thread, which checkpoints through a connection of its own in
// the passive way: it copies what no reader still needs and never waits for, nor blocks, the
// writer; the log is written from its start again once it has all been copied.
//
// Where the thread or its connection cannot be had, or commits follow each other so closely that
// the log reaches twice the threshold, the committing connection checkpoints itself.
// The last connection to close still moves the whole log into the file.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

struct sqlite3;

namespace cw {

class WalCheckpointer {
 public:
  // Watches the commits of `db`, a connection in write-ahead-log mode to the file at `path`.
  WalCheckpointer(sqlite3* db, const std::string& path, int threshold);
  // Stops watching and ends the thread; `db` must still be open.
  ~WalCheckpointer();
  WalCheckpointer(const WalCheckpointer&) = delete;
  WalCheckpointer& operator=(const WalCheckpointer&) = delete;

  // Whether checkpoints are made on the thread (false: by the committing connection).
  bool on_own_thread() const { return own_ != nullptr; }

 private:
  static int committed(void* self, sqlite3* db, const char* schema, int pages);
  void work();

  sqlite3* db_;
  sqlite3* own_ = nullptr;  // the thread's connection; null: no thread
  int threshold_;
  std::mutex mutex_;  // guards due_ and quit_
  std::condition_variable wake_;
  std::mutex checkpointing_;  // held through a checkpoint
  bool due_ = false;
  bool quit_ = false;
  std::thread thread_;  // last: started once the members above are set
};

}  // namespace cw
