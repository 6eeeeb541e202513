#include "ingest/processor_split.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/processors.h"

namespace cw {
namespace {

TEST(ProcessorSplit, QuietestProcessorServesFewestDeviceInterrupts) {
  EXPECT_EQ(quietest_processor({0, 1, 3}, {50, 7, 9, 7}), 1);  // the first of a tie
  EXPECT_EQ(quietest_processor({2, 5}, {4, 4, 1}), 5);         // 5 is past the table: none
  EXPECT_EQ(quietest_processor({}, {1}), -1);
}

// A thread that runs `before`, then waits until told to run `after` and end.
class Held {
 public:
  Held(std::function<void()> before, std::function<void()> after)
      : thread_([this, before, after] {
          before();
          std::unique_lock<std::mutex> lock(mutex_);
          started_ = true;
          changed_.notify_all();
          changed_.wait(lock, [this] { return go_; });
          lock.unlock();
          after();
        }) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return started_; });
  }
  ~Held() { finish(); }
  void finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      go_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool started_ = false, go_ = false;
  std::thread thread_;
};

TEST(ProcessorSplit, OneRunCopyingAloneHasAProcessorOfItsOwnUntilASecondBegins) {
  const std::vector<int> all = allowed_processors();
  if (all.size() < 2) GTEST_SKIP() << "this thread may use a single processor";
  const std::vector<int> helpers(all.begin() + 1, all.end());
  ProcessorSplit split(all, all.front());

  std::optional<ProcessorSplit::Copying> first;
  std::vector<int> copying_seen, helper_seen, helper_after;
  {
    // The copying on its own processor, its helper on the others; a helper that leaves gets
    // all of them back, as does the copying once it ends.
    Held copying(
        [&] {
          first = split.begin_copying();
          copying_seen = allowed_processors();
        },
        [&] { first.reset(); });
    EXPECT_TRUE(first->split());
    EXPECT_EQ(copying_seen, std::vector<int>{all.front()});
    std::optional<ProcessorSplit::Helper> joined;
    Held helper(
        [&] {
          joined = first->helpers().join();
          helper_seen = allowed_processors();
        },
        [&] {
          joined.reset();
          helper_after = allowed_processors();
        });
    EXPECT_EQ(helper_seen, helpers);
    helper.finish();
    EXPECT_EQ(helper_after, all);
    EXPECT_TRUE(first->split());
    copying.finish();
  }
  EXPECT_EQ(allowed_processors(), all) << "the test's own thread was never confined";

  // A second run beginning gives the first run's threads all processors back, and neither
  // run splits again while both copy; a helper joining then stays on all of them.
  std::optional<ProcessorSplit::Copying> second;
  std::vector<int> first_after, late_helper;
  Held copying([&] { first = split.begin_copying(); },
               [&] {
                 first_after = allowed_processors();
                 first.reset();
               });
  ASSERT_TRUE(first->split());
  second = split.begin_copying();
  EXPECT_FALSE(first->split());
  EXPECT_FALSE(second->split());
  Held late(
      [&] {
        const ProcessorSplit::Helper h = first->helpers().join();
        late_helper = allowed_processors();
      },
      [] {});
  copying.finish();
  EXPECT_EQ(first_after, all);
  EXPECT_EQ(late_helper, all);
  second.reset();
  // Alone again, a new run splits anew.
  ProcessorSplit::Copying third = split.begin_copying();
  EXPECT_TRUE(third.split());
  EXPECT_EQ(allowed_processors(), std::vector<int>{all.front()});
  third = {};
  EXPECT_EQ(allowed_processors(), all);
}

}  // namespace
}  // namespace cw
