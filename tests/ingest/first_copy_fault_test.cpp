// The first copy under injected faults: a full disk, a failing card read, a stop request in
// the middle of a large file. What was copied stays; the source is never touched.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "foundation/sysio.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::Harness;
using test::read_file;
using test::write_file;

std::size_t g_room = 0;                    // bytes the disk still takes
SingleSlotControl* g_stop_after_read = nullptr;  // asks this slot to stop after one read

ssize_t full_disk_write(int fd, const void* buf, std::size_t n) {
  if (g_room == 0) {
    errno = ENOSPC;
    return -1;
  }
  n = std::min(n, g_room);
  g_room -= n;
  return system_sysio().write(fd, buf, n);
}

ssize_t failing_read(int, void*, std::size_t) {
  errno = EIO;
  return -1;
}

ssize_t read_then_stop(int fd, void* buf, std::size_t n) {
  if (g_stop_after_read) g_stop_after_read->request_stop();
  return system_sysio().read(fd, buf, n);
}

struct FaultTest : ::testing::Test {
  Harness h;
  const std::string image = std::string(2 * 1048576 + 99, 'p');
  void SetUp() override { write_file(h.card + "/IMG_0001.JPG", image); }
  Sysio table = system_sysio();
};

TEST_F(FaultTest, FullDiskEndsTheRunAndKeepsThePartialCopy) {
  table.write = full_disk_write;
  g_room = 1048576 + 5;
  ScopedSysio faults(table);
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error, "write error -- check drives for sufficient space");
  EXPECT_EQ(fsys::file_size(h.archive + "/IMG_0001.JPG"), 1048576u + 5);
  EXPECT_EQ(read_file(h.card + "/IMG_0001.JPG"), image);
}

TEST_F(FaultTest, CardReadErrorEndsTheRun) {
  table.read = failing_read;
  ScopedSysio faults(table);
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error, "read error");
}

TEST_F(FaultTest, StopIsSeenBetweenChunks) {
  table.read = read_then_stop;
  g_stop_after_read = &h.control;
  ScopedSysio faults(table);
  EXPECT_FALSE(h.run());
  g_stop_after_read = nullptr;
  EXPECT_EQ(h.ctx->error, "Stopped");
  EXPECT_EQ(fsys::file_size(h.archive + "/IMG_0001.JPG"), 1048576u);
}

}  // namespace
}  // namespace cw
