// Real mounts (root only): loop-mounted ext2 images with a DCIM folder are seen as drives with
// their labels, their arrival shows on the kernel's mount table, eject takes one away and a
// busy one stays mounted after the retries. Every loop device and mount made here is undone.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>

#include "platform/drive_watcher.h"
#include "platform/eject.h"
#include "platform/linux_drive_source.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/loop_card.h"

namespace cw {
namespace {

namespace fs = std::filesystem;
using test::LoopCard;
using test::mounted;

TEST(LoopMounts, CardsAreDetectedAndEjectedOrLeftMountedWhenBusy) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for loop devices and mounts";
  if (!test::have_program("mkfs.ext2") || !test::have_program("losetup"))
    GTEST_SKIP() << "needs e2fsprogs and losetup";
  test::TempDir dir;
  LinuxDriveSource drives;
  ASSERT_GE(drives.change_fd(), 0);
  DriveWatcher watcher(drives);
  LoopCard a(dir, "CARD_A");
  LoopCard b(dir, "CARD_B");
  if (!a.ok() || !b.ok()) GTEST_SKIP() << "loop devices cannot be attached and mounted here";

  ASSERT_TRUE(watcher.wait(std::chrono::seconds(5)));
  std::vector<std::string> arrived;  // other mounts on this machine may come and go meanwhile
  for (const MediaNotification& n : watcher.take_changes())
    if (n.event == MediaEvent::kInserted && n.path.starts_with(dir.str()))
      arrived.push_back(n.path);
  EXPECT_EQ(arrived, (std::vector<std::string>{a.root(), b.root()}));
  EXPECT_EQ(drives.device_record(a.root()).status, DeviceStatus::kFound);
  EXPECT_EQ(drives.volume_info(a.root()).name, "CARD_A");
  EXPECT_EQ(drives.volume_info(b.root()).name, "CARD_B");

  EjectOptions quick{3, std::chrono::milliseconds(10), nullptr};
  EjectResult ra = EjectCard(a.root(), quick);
  EXPECT_EQ(ra.lines, "Media in Drive " + a.root() + " has been ejected safely.\n");
  EXPECT_FALSE(mounted(a.root()));

  // This process working inside B keeps it busy through every try.
  int here = open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(chdir(b.root().c_str()), 0);
  EjectResult rb = EjectCard(b.root(), quick);
  EXPECT_EQ(fchdir(here), 0);
  close(here);
  EXPECT_TRUE(rb.handled && rb.outcome == EjectOutcome::kLeftMounted);
  EXPECT_EQ(rb.unmount_attempts, 3);
  EXPECT_TRUE(mounted(b.root()));
}

}  // namespace
}  // namespace cw
