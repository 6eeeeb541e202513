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
// The thread and its connection are made at the first such commit, not with the checkpointer:
// most runs never fill the log that far, and a connection's opening (the log's files mapped,
// the schema read) would otherwise cost every start of the program a millisecond.
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

  // Whether the thread checkpoints with a connection of its own (false: it was not needed yet,
  // or it could not be had and the committing connection checkpoints).
  bool on_own_thread();

 private:
  static int committed(void* self, sqlite3* db, const char* schema, int pages);
  // Asks the thread for a checkpoint, making it the first time: false when there is none.
  bool wake();
  void work();

  enum class Thread { kNone, kOpening, kRunning, kFailed };

  sqlite3* const db_;
  const std::string path_;
  const int threshold_;
  std::mutex mutex_;  // guards the members up to checkpointing_
  std::condition_variable wake_;
  Thread thread_state_ = Thread::kNone;
  bool due_ = false;
  bool quit_ = false;
  std::mutex checkpointing_;  // held through a checkpoint
  std::thread thread_;
};

}  // namespace cw
