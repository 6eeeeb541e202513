// Reading copies back: through direct reads and the cache, on the ring and on threads.
#include "ingest/read_back_scheduler.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <liburing.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "tests/common/test_env.h"
#include "tests/fixtures/jpeg_maker.h"

namespace cw {
namespace {

constexpr std::size_t kMiB = 1048576;

std::string pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) % 251);
  return bytes;
}

Hash128 hash_of(const std::string& bytes) {
  ContentHasher h;
  h.update(bytes.data(), bytes.size());
  return h.digest();
}

// Direct reads where the buffer allows them, the cache otherwise (as on file systems without
// direct reads): both give a copy's hash, and both show a change on the disk as a mismatch.
TEST(ReadBack, DirectAndCachedReadsAgree) {
  test::TempDir dir;
  const std::string path = dir / "copy.bin";
  const std::string bytes = pattern(300000, 0);
  ASSERT_TRUE(fixtures::write_bytes(path, bytes));
  const VerifyJob job{path, hash_of(bytes), 0, 0, {}};
  constexpr std::size_t kSize = 64 * 1024;
  const std::unique_ptr<char, decltype(&std::free)> buffer(
      static_cast<char*>(std::aligned_alloc(kReadBackAlignment, kSize + kReadBackAlignment)),
      &std::free);
  ASSERT_TRUE(buffer);
  char* const direct = buffer.get();
  char* const cached = buffer.get() + 1;  // not aligned: read through the cache
  EXPECT_EQ(read_back(job, direct, kSize).outcome, VerifyOutcome::kMatch);
  EXPECT_EQ(read_back(job, cached, kSize - 1).outcome, VerifyOutcome::kMatch);

  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, "x", 1, 123456), 1);
  ::close(fd);
  EXPECT_EQ(read_back(job, direct, kSize).outcome, VerifyOutcome::kMismatch);
  EXPECT_EQ(read_back(job, cached, kSize - 1).outcome, VerifyOutcome::kMismatch);

  // The batch's queues never open a copy that is gone; this read does.
  const VerifyResult gone =
      read_back(VerifyJob{dir / "none.bin", job.expected, 0, 0, {}}, direct, kSize);
  EXPECT_EQ(gone.outcome, VerifyOutcome::kUnreadable);
  EXPECT_EQ(gone.error, ENOENT);
}

// Sizes around the pieces the ring reads, a copy changed past its first piece, one gone, and
// two runs sharing the disk: each way of reading gives the same verdicts.
TEST(ReadBackScheduler, RingAndThreadsProveEverySizeAndCatchChanges) {
  test::TempDir dir;
  struct Copy {
    std::size_t size;
    VerifyOutcome outcome;
  };
  const std::map<std::string, Copy> copies{
      {"empty", {0, VerifyOutcome::kMatch}},
      {"small", {1000, VerifyOutcome::kMatch}},
      {"whole_pages", {8192, VerifyOutcome::kMatch}},
      {"one_piece", {kMiB, VerifyOutcome::kMatch}},
      {"large", {3 * kMiB + 4097, VerifyOutcome::kMatch}},
      {"changed", {2 * kMiB + 5, VerifyOutcome::kMismatch}},
      {"gone", {10, VerifyOutcome::kUnreadable}},
  };
  std::map<std::string, Hash128> expected;
  unsigned seed = 0;
  for (const auto& [name, c] : copies) {
    const std::string bytes = pattern(c.size, ++seed);
    expected[name] = hash_of(bytes);
    if (name != "gone") {
      ASSERT_TRUE(fixtures::write_bytes(dir / name, bytes));
    }
  }
  const int fd = ::open((dir / "changed").c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, "?", 1, static_cast<off_t>(kMiB + 3)), 1);
  ::close(fd);
  struct stat st;
  ASSERT_EQ(::stat(dir.str().c_str(), &st), 0);
  io_uring probe;
  const bool ring_available = io_uring_queue_init(1, &probe, 0) == 0;
  if (ring_available) io_uring_queue_exit(&probe);

  for (const bool ring : {true, false}) {
    SCOPED_TRACE(ring ? "ring allowed" : "threads only");
    ReadBackScheduler scheduler({.depth = 3, .allow_ring = ring, .processors = {}});
    auto first = std::make_shared<ReadBackSink>(), second = std::make_shared<ReadBackSink>();
    std::size_t entry = 0;
    for (const auto& [name, c] : copies) {
      scheduler.submit(VerifyJob{dir / name, expected[name], entry, 0, {}},
                       entry % 2 ? first : second);
      ++entry;
    }
    std::vector<VerifyResult> results = first->take(true), more = second->take(true);
    results.insert(results.end(), more.begin(), more.end());
    ASSERT_EQ(results.size(), copies.size());
    for (const VerifyResult& r : results) {
      const std::string name = r.job.path.substr(dir.str().size() + 1);
      EXPECT_EQ(r.outcome, copies.at(name).outcome) << name;
      if (r.outcome == VerifyOutcome::kMatch) {
        EXPECT_TRUE(r.fingerprint) << name;
      }
      if (name == "gone") {
        EXPECT_EQ(r.error, ENOENT);
      }
    }
    EXPECT_FALSE(first->busy() || second->busy());
    // A disk left idle gives its buffers' pages back; its next read still proves the copy.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    scheduler.submit(VerifyJob{dir / "large", expected["large"], 0, 0, {}}, first);
    const std::vector<VerifyResult> later = first->take(true);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later[0].outcome, VerifyOutcome::kMatch);
    // Both runs' copies went to one queue for the disk, read through the ring where allowed
    // and the system has one.
    EXPECT_EQ(scheduler.method_of(st.st_dev),
              ring && ring_available ? ReadBackScheduler::Method::kRing
                                     : ReadBackScheduler::Method::kThreads);
  }
}

// Copies wait in the queue for company, so that readers are not woken for each one; a queue
// holding the disk's depth of copies is read at once, and so are the copies of a run that
// waits for them. The gather here is far longer than the test may take.
TEST(ReadBackScheduler, GathersCopiesUnlessTheQueueIsFullOrTheRunWaits) {
  test::TempDir dir;
  const std::string bytes = pattern(5000, 7);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(fixtures::write_bytes(dir / std::to_string(i), bytes));
  const auto read_soon = [](ReadBackSink& sink) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (sink.busy() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return !sink.busy();
  };
  for (const bool ring : {true, false}) {
    SCOPED_TRACE(ring ? "ring allowed" : "threads only");
    ReadBackScheduler scheduler(
        {.depth = 3, .allow_ring = ring, .gather = std::chrono::hours(1), .processors = {}});
    auto gathering = std::make_shared<ReadBackSink>(), waiting = std::make_shared<ReadBackSink>();
    const auto submit = [&](int i, const std::shared_ptr<ReadBackSink>& sink) {
      scheduler.submit(VerifyJob{dir / std::to_string(i), hash_of(bytes), 0, 0, {}}, sink);
    };
    submit(0, gathering);
    submit(1, gathering);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(gathering->take(false).empty());
    submit(2, gathering);  // the depth: all three are read
    EXPECT_TRUE(read_soon(*gathering));
    EXPECT_EQ(gathering->take(false).size(), 3u);

    submit(3, waiting);
    scheduler.hurry(*waiting);
    EXPECT_TRUE(read_soon(*waiting));
    const std::vector<VerifyResult> results = waiting->take(false);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].outcome, VerifyOutcome::kMatch);
  }
}

}  // namespace
}  // namespace cw
