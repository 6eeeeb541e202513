// The stand-alone file copy, with faults injected through the system-call table.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "foundation/fs.h"
#include "foundation/sysio.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

using ::testing::HasSubstr;
namespace fsys = std::filesystem;
using test::captured_ui;
using test::read_file;
using test::TempDir;
using test::write_file;

// Bytes the injected write still accepts before the disk is "full"; chunk size per call.
std::size_t g_room = 0;
std::size_t g_chunk = 0;

ssize_t limited_write(int fd, const void* buf, std::size_t count) {
  if (g_room == 0) {
    errno = ENOSPC;
    return -1;
  }
  std::size_t n = std::min({count, g_room, g_chunk});
  g_room -= n;
  return system_sysio().write(fd, buf, n);
}

class CopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    captured_ui().clear();
    for (std::size_t i = 0; i < content.size(); ++i)
      content[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    write_file(source, content);
    struct timespec times[2] = {{1000000000, 0}, {1234567890, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
  }
  // Copies with the given table; returns the one alert shown (the source must survive).
  std::string CopyWith(const Sysio& table, const std::string& target, bool succeeds = false) {
    captured_ui().clear();
    {
      ScopedSysio scoped(table);
      EXPECT_EQ(copy_file_standalone(source, dir / target, true), succeeds) << target;
    }
    EXPECT_EQ(read_file(source), content);
    EXPECT_EQ(captured_ui().alerts.size(), 1u) << target;
    return captured_ui().alerts.empty() ? std::string() : captured_ui().alerts[0];
  }

  TempDir dir;
  std::string source = dir / "source.db";
  std::string content = std::string(2 * 1048576 + 12345, '\0');  // crosses the buffer twice
};

TEST_F(CopyTest, CopiesBytesAndTimeAndRefusesOverwriteOnlyWhenAsked) {
  ASSERT_TRUE(copy_file_standalone(source, dir / "copy.db", true));
  EXPECT_EQ(read_file(dir / "copy.db"), content);
  struct stat st;
  ASSERT_EQ(stat((dir / "copy.db").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
  EXPECT_TRUE(captured_ui().alerts.empty());
  write_file(dir / "empty", "");
  EXPECT_TRUE(copy_file_standalone(dir / "empty", dir / "empty.copy", true));
  EXPECT_EQ(fsys::file_size(dir / "empty.copy"), 0u);

  write_file(dir / "existing.db", "keep me");
  EXPECT_FALSE(copy_file_standalone(source, dir / "existing.db", true));
  EXPECT_EQ(captured_ui().alerts, std::vector<std::string>{"Attempt to overwrite file " +
                                                            dir / "existing.db" +
                                                            "\nwill not overwrite file"});
  EXPECT_EQ(read_file(dir / "existing.db"), "keep me");
  EXPECT_TRUE(copy_file_standalone(source, dir / "existing.db", false));
  EXPECT_EQ(read_file(dir / "existing.db"), content);

  // Not even with overwriting allowed may a file be copied onto itself (it would be emptied).
  captured_ui().clear();
  EXPECT_FALSE(copy_file_standalone(source, dir.str() + "/./source.db", false));
  EXPECT_EQ(captured_ui().alerts.size(), 1u);
  EXPECT_EQ(read_file(source), content);

  captured_ui().clear();
  EXPECT_FALSE(copy_file_standalone(dir / "absent", dir / "x", true));
  ASSERT_EQ(captured_ui().alerts.size(), 1u);
  EXPECT_THAT(captured_ui().alerts[0], HasSubstr("Error accessing path (see message above)"));
  EXPECT_FALSE(fsys::exists(dir / "x"));
}

TEST_F(CopyTest, ShortWritesCompleteAndFaultsFailKeepingTheSource) {
  Sysio limited = sysio(), stuck = sysio(), bad_read = sysio(), bad_sync = sysio(),
        bad_times = sysio();
  limited.write = limited_write;
  stuck.write = [](int, const void*, std::size_t) -> ssize_t { return 0; };
  bad_read.read = [](int, void*, std::size_t) -> ssize_t { return errno = EIO, -1; };
  bad_sync.fsync = [](int) { return errno = EIO, -1; };
  bad_times.utimens = [](const char*, const struct timespec*) { return errno = EPERM, -1; };

  g_room = SIZE_MAX;
  g_chunk = 4093;  // odd pieces, never the whole request
  {
    ScopedSysio scoped(limited);
    ASSERT_TRUE(copy_file_standalone(source, dir / "pieces.db", true));
  }
  EXPECT_EQ(read_file(dir / "pieces.db"), content);

  g_room = 1048576 + 100;  // fills up in the second piece
  g_chunk = SIZE_MAX;
  EXPECT_EQ(CopyWith(limited, "full.db"), "write error copying file");
  EXPECT_EQ(fsys::file_size(dir / "full.db"), 1048576u + 100);  // what was copied stays
  // A write that makes no progress at all is a full disk too, not an endless loop.
  EXPECT_EQ(CopyWith(stuck, "stuck.db"), "write error copying file");
  EXPECT_EQ(CopyWith(bad_read, "eio.db"), "read error copying file");
  EXPECT_EQ(CopyWith(bad_sync, "sync.db"), "write error copying file");
  // A failed time setting only warns; the copy itself succeeds.
  EXPECT_EQ(CopyWith(bad_times, "times.db", true), "utime more_copying");
  EXPECT_EQ(read_file(dir / "times.db"), content);
}

}  // namespace
}  // namespace cw
