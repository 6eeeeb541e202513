// Copies under faults leave nothing behind, under their names or any other; sources untouched.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "foundation/sysio.h"
#include "ingest/staged_file.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::contains;
using test::fd_path;
using test::files_below;
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

ssize_t read_then_stop(int fd, void* buf, std::size_t n) {
  if (g_stop_after_read) g_stop_after_read->request_stop();
  return system_sysio().read(fd, buf, n);
}

int open_failing_on_card(const char* path, int flags, mode_t mode) {
  if (std::strstr(path, "/card/")) {
    errno = EIO;
    return -1;
  }
  return system_sysio().open(path, flags, mode);
}

int g_range_calls = 0;

// Copies at most 300000 bytes per call in the kernel, then gives up as a file system that
// cannot copy in place would.
ssize_t range_then_exdev(int in, int out, std::size_t n) {
  if (++g_range_calls > 3) {
    errno = EXDEV;
    return -1;
  }
  return system_sysio().copy_range(in, out, std::min<std::size_t>(n, 300000));
}

struct FaultTest : ::testing::Test {
  Harness h;
  const std::string image = std::string(2 * 1048576 + 99, 'p');
  void SetUp() override { write_file(h.card + "/IMG_0001.JPG", image); }
  Sysio table = system_sysio();
};

// A full disk, a card that cannot be read or opened, a stop between two chunks: the run ends
// naming what failed, and the copy it began leaves nothing in the archive.
TEST_F(FaultTest, AnUnfinishedFirstCopyEndsTheRunAndLeavesNothing) {
  const std::string on_card = "\"" + h.card + "/IMG_0001.JPG\"";
  const std::pair<std::function<void(Sysio&)>, std::string> cases[] = {
      {[](Sysio& t) {
         t.write = full_disk_write;
         g_room = 1048576 + 5;
       },
       "write error -- check drives for sufficient space: \"" + h.archive + "/IMG_0001.JPG\""},
      {[](Sysio& t) {
         t.read = [](int, void*, std::size_t) -> ssize_t { return errno = EIO, -1; };
       },
       "read error: " + on_card},
      {[](Sysio& t) { t.open = open_failing_on_card; }, "can't open: " + on_card},
      // Last: the stop request stays with the slot.
      {[this](Sysio& t) {
         t.read = read_then_stop;
         g_stop_after_read = &h.control;
       },
       "Stopped"}};
  for (const auto& [arm, error] : cases) {
    SCOPED_TRACE(error);
    arm(table);
    {
      ScopedSysio faults(table);
      EXPECT_FALSE(h.run());
    }
    table = system_sysio();
    g_stop_after_read = nullptr;
    EXPECT_EQ(h.ctx->error, error);
    EXPECT_TRUE(fsys::is_empty(h.archive));
    EXPECT_EQ(read_file(h.card + "/IMG_0001.JPG"), image);
  }
}

TEST_F(FaultTest, FailedFlushOfTheArchiveFailsTheRun) {
  table.syncfs = [](int) { errno = EIO; return -1; };
  ScopedSysio faults(table);
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error,
            "write error -- check drives for sufficient space: \"" + h.archive + "\"");
}

// The first copy hashes the bytes as they pass; the second copies from it in the kernel.
TEST_F(FaultTest, InKernelCopyThatGivesUpIsFinishedThroughTheBuffer) {
  h.with_backup();
  table.copy_range = range_then_exdev;
  g_range_calls = 0;
  ScopedSysio faults(table);
  ASSERT_TRUE(h.run()) << h.ctx->error;
  // The backup copy's three pieces and its refusal; the primary copy's refusal at once. Both
  // copies are read back with the hash of the pieces, however each piece was moved.
  EXPECT_EQ(g_range_calls, 5);
  EXPECT_EQ(read_file(h.archive + "/IMG_0001.JPG"), image);
  EXPECT_EQ(h.ctx->counts.files_verified, 2);
}

TEST_F(FaultTest, SecondCopyOnAFullDiskEndsTheRunAndKeepsTheBackup) {
  h.with_backup();
  table.write = full_disk_write;
  g_room = image.size() + 1000;  // the backup copy fits, the primary copy does not
  ScopedSysio faults(table);
  EXPECT_FALSE(h.run());
  EXPECT_EQ(read_file(h.backup + "/IMG_0001.JPG"), image);
  EXPECT_TRUE(fsys::is_empty(h.archive));
  EXPECT_EQ(read_file(h.card + "/IMG_0001.JPG"), image);
}

TEST_F(FaultTest, ArchiveOnAFileSystemThatFillsUp) {
  test::SmallFileSystem small(h.dir / "small", "1m");
  if (!small.mounted) GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  h.set(kParamPrimaryFolder, small.mount_point + "/archive");
  EXPECT_FALSE(h.run());
  EXPECT_TRUE(contains(h.ctx->error, "write error -- check drives for sufficient space"));
  EXPECT_EQ(read_file(h.card + "/IMG_0001.JPG"), image);
  EXPECT_TRUE(fsys::is_empty(small.mount_point + "/archive"));
}

TEST(StaleCopies, OnlyThoseOfAGoneWriterOnThisMachineAreRemoved) {
  test::TempDir dir;
  const std::string folder = dir.str();
  // Temporary names are left for file systems that cannot hold files without a name; a table
  // of system calls of its own (as where faults are injected) has them made here too.
  Sysio table = system_sysio();
  table.open = [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); };
  ScopedSysio named(table);
  // A run killed while it copied: its process is gone, its temporary copy stays.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    StagedFile killed;
    ::_exit(killed.create(folder) && ::write(killed.fd(), "x", 1) == 1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(status, 0);
  StagedFile live;  // a run still writing into the folder
  ASSERT_TRUE(live.create(folder));
  const std::string elsewhere = ".cw-other_host-" + std::to_string(child) + "-1.part";
  write_file(folder + "/" + elsewhere, "y");
  write_file(folder + "/IMG_0001.JPG", "z");
  ASSERT_EQ(std::distance(fsys::directory_iterator(folder), fsys::directory_iterator()), 4);

  remove_stale_staged_files(folder);
  std::set<std::string> left;
  for (const auto& e : fsys::directory_iterator(folder)) left.insert(e.path().filename());
  EXPECT_EQ(left, (std::set<std::string>{fsys::path(live.temp_path()).filename(), elsewhere,
                                         "IMG_0001.JPG"}));
}

// A copy made through its folder's descriptor never replaces what holds its name, leaves nothing
// when dropped, and lands in the folder opened even when a link takes that folder's path.
TEST(FolderHandles, CopiesStayInTheOpenedFolderAndFaultTablesSeeEveryPath) {
  test::TempDir tmp;
  const std::string folder = tmp / "day", moved = tmp / "day.moved", other = tmp / "other";
  fsys::create_directories(other);
  write_file(folder + "/IMG_0001.JPG", "earlier");
  FolderHandles handles;
  const int fd = handles.get(folder);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(handles.get(folder), fd);  // kept, not opened again
  EXPECT_EQ(fd_path(fd), fsys::canonical(folder).string());
  {
    StagedFile taken;
    ASSERT_TRUE(taken.create(folder, fd));
    ASSERT_EQ(write_all(taken.fd(), "copy", 4), IoStatus::kOk);
    ASSERT_EQ(taken.close(), 0);
    std::optional<Fingerprint> not_named(std::in_place);
    EXPECT_FALSE(taken.commit(folder + "/IMG_0001.JPG", false, &not_named));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_FALSE(not_named);
    StagedFile dropped;
    ASSERT_TRUE(dropped.create(folder, fd));
  }
  EXPECT_EQ(files_below(folder), (std::map<std::string, std::string>{{"IMG_0001.JPG", "earlier"}}));

  fsys::rename(folder, moved);
  fsys::create_directory_symlink(other, folder);
  StagedFile copy;
  ASSERT_TRUE(copy.create(folder, handles.get(folder)));
  ASSERT_EQ(copy.close(), 0);
  std::optional<Fingerprint> named;
  ASSERT_TRUE(copy.commit(folder + "/IMG_0002.JPG", false, &named));
  struct stat there;
  ASSERT_EQ(::lstat((moved + "/IMG_0002.JPG").c_str(), &there), 0);
  // Named through its descriptor, which gave its fingerprint as named (the naming changed its
  // status time).
  if (copy.temp_path().empty()) {
    EXPECT_EQ(named, fingerprint_of(there));
  }
  EXPECT_TRUE(fsys::is_empty(other));

  static std::vector<std::string> opened;
  opened.clear();
  Sysio table = system_sysio();
  table.open = [](const char* path, int flags, mode_t mode) {
    opened.emplace_back(path);
    return system_sysio().open(path, flags, mode);
  };
  ScopedSysio watched(table);
  FolderHandles under_faults;
  EXPECT_EQ(under_faults.get(moved), -1);
  StagedFile seen;
  ASSERT_TRUE(seen.create(moved, fd));
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], seen.temp_path());
}

// Made through its folder's descriptor, a copy has no name until it is complete: the folder
// shows nothing of it while it is written, nothing after its writer is killed, and a copy that
// may replace a file does so whole.
TEST(StagedFile, ACopyWithoutANameShowsNothingUntilNamed) {
  test::TempDir tmp;
  const std::string folder = tmp / "day";
  write_file(folder + "/IMG_0001.JPG", "earlier");
  FolderHandles handles;
  const int fd = handles.get(folder);
  ASSERT_GE(fd, 0);
  const std::map<std::string, std::string> before{{"IMG_0001.JPG", "earlier"}};
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    StagedFile killed;
    ::_exit(killed.create(folder, fd) && ::write(killed.fd(), "x", 1) == 1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(files_below(folder), before);

  StagedFile copy;
  ASSERT_TRUE(copy.create(folder, fd));
  EXPECT_TRUE(copy.temp_path().empty());
  ASSERT_EQ(write_all(copy.fd(), "copy", 4), IoStatus::kOk);
  ASSERT_EQ(copy.close(), 0);
  EXPECT_EQ(files_below(folder), before);
  ASSERT_TRUE(copy.commit(folder + "/IMG_0002.JPG", false));

  StagedFile replacing;
  ASSERT_TRUE(replacing.create(folder, fd));
  ASSERT_EQ(write_all(replacing.fd(), "later", 5), IoStatus::kOk);
  ASSERT_EQ(replacing.close(), 0);
  ASSERT_TRUE(replacing.commit(folder + "/IMG_0001.JPG", true));
  // Made through the folder's path, without its descriptor, alike.
  StagedFile by_path;
  ASSERT_TRUE(by_path.create(folder));
  EXPECT_TRUE(by_path.temp_path().empty());
  ASSERT_EQ(write_all(by_path.fd(), "path", 4), IoStatus::kOk);
  ASSERT_EQ(by_path.close(), 0);
  EXPECT_FALSE(by_path.commit(folder + "/IMG_0002.JPG", false));
  EXPECT_EQ(errno, EEXIST);
  ASSERT_TRUE(by_path.commit(folder + "/IMG_0002.JPG", true));
  EXPECT_EQ(files_below(folder), (std::map<std::string, std::string>{{"IMG_0001.JPG", "later"},
                                                                     {"IMG_0002.JPG", "path"}}));
}

}  // namespace
}  // namespace cw
