// Flushing ahead, with a sync that records what it was asked and waits to be let go.
#include "ingest/flush_ahead.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "ingest/staged_file.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

// The folders a flush ahead synced, each sync held until the test lets it end.
struct HeldSyncs {
  std::mutex m;
  std::condition_variable changed;
  std::vector<std::string> calls;
  int ended = 0;
  bool open = false;  // let every sync end at once

  void sync(const std::string& folder) {
    std::unique_lock lock(m);
    calls.push_back(folder);
    changed.notify_all();
    changed.wait(lock, [&] { return open; });
    ++ended;
    changed.notify_all();
  }
  void let_go() {
    std::lock_guard lock(m);
    open = true;
    changed.notify_all();
  }
  bool wait(const std::function<bool()>& done) {
    std::unique_lock lock(m);
    return changed.wait_for(lock, std::chrono::seconds(20), done);
  }
  std::size_t count() {
    std::lock_guard lock(m);
    return calls.size();
  }
};

TEST(FlushAhead, SyncsTheNotedFileSystemsEveryStepOneFlushAtATimeOnEach) {
  test::TempDir dir;
  struct stat st {};
  ASSERT_EQ(::stat(dir.str().c_str(), &st), 0);
  HeldSyncs held;
  FlushAheadGate gate;
  DiskFlush noted;
  {
    FlushAhead ahead([&](const std::string& f) { held.sync(f); }, 100);
    ahead.share(gate);
    // Nothing noted yet: nothing to sync, however much is counted.
    ahead.wrote(500, noted);
    EXPECT_EQ(held.count(), 0u);

    // Another of the batch's runs flushes that file system: this one leaves it to that one
    // and asks again with its next file.
    noted.note(dir.str());
    ASSERT_TRUE(gate.take(st.st_dev));
    ahead.wrote(0, noted);
    EXPECT_EQ(held.count(), 0u);
    gate.give_back(st.st_dev);
    ahead.wrote(0, noted);  // the bytes counted before still make a step
    ASSERT_TRUE(held.wait([&] { return held.calls.size() == 1; }));
    EXPECT_EQ(held.calls[0], dir.str());
    // While it runs, the file system is taken for the batch, and more steps start nothing.
    EXPECT_FALSE(gate.take(st.st_dev));
    ahead.wrote(300, noted);
    EXPECT_EQ(held.count(), 1u);
    held.let_go();
    ASSERT_TRUE(held.wait([&] { return held.ended == 1; }));
    // Bytes counted since the last start, not since its end, make the next step.
    for (int i = 0; i < 1000 && held.count() < 2; ++i) {
      ahead.wrote(1, noted);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(held.count(), 2u);
    ahead.wrote(50, noted);  // less than a step since: nothing more
    // The owner's end waits for the sync under way.
  }
  EXPECT_EQ(held.count(), 2u);
  EXPECT_EQ(held.ended, 2);
  EXPECT_TRUE(gate.take(st.st_dev));  // given back by the last sync
}

}  // namespace
}  // namespace cw
