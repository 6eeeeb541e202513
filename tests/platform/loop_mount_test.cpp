// Real loop and FUSE mounts (root only): detection, labels, eject and busy cards; all undone.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>

#include "platform/drive_watcher.h"
#include "platform/eject.h"
#include "platform/linux_drive_source.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/fuse_card.h"
#include "tests/fixtures/loop_card.h"

namespace cw {
namespace {

namespace fs = std::filesystem;
using test::CardFs;
using test::FuseCard;
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

TEST(LoopMounts, FuseCardsAreDetectedWithLabelAndUuidAndEjectedWithTheirLoopDevices) {
  for (CardFs fs : {CardFs::kExfat, CardFs::kFat32})
    if (std::string why = FuseCard::unavailable(fs); !why.empty()) GTEST_SKIP() << why;
  test::TempDir dir;
  fs::create_directories(dir / "content/DCIM/100CANON");
  LinuxDriveSource drives;
  DriveWatcher watcher(drives);
  FuseCard ex(dir, CardFs::kExfat, "EOS_EXFAT", dir / "content");
  FuseCard fat(dir, CardFs::kFat32, "EOS_FAT32", dir / "content");
  LoopCard ext(dir, "EXT_CARD");
  // A FUSE mount of an image file, as sshfs or gvfs are FUSE mounts of something else: no
  // block device is behind it, so it holds no card even with a DCIM folder.
  ASSERT_EQ(test::run_command("cp " + dir / "EOS_FAT32.img " + dir / "file.img"), 0);
  fs::create_directory(dir / "file");
  const bool file_mounted = test::run_command("timeout 20 fusefat -o ro " + dir / "file.img " +
                                              dir / "file >/dev/null 2>&1") == 0;
  struct Lazy {
    std::string at;
    ~Lazy() { umount2(at.c_str(), MNT_DETACH); }
  } file_mount{dir / "file"};
  if (!ext.ok()) GTEST_SKIP() << "loop devices cannot be attached and mounted here";
  ASSERT_TRUE(ex.ok() && fat.ok() && file_mounted);
  ASSERT_TRUE(fs::is_directory(dir / "file/DCIM"));

  std::string table = test::read_file("/proc/self/mountinfo");
  EXPECT_NE(table.find(" " + ex.root() + " rw"), std::string::npos);
  EXPECT_NE(table.find(" - fuseblk " + ex.device() + " "), std::string::npos) << table;
  EXPECT_NE(table.find(" - fuse " + fat.device() + " "), std::string::npos) << table;

  ASSERT_TRUE(watcher.wait(std::chrono::seconds(5)));
  std::vector<std::string> arrived;
  for (const MediaNotification& n : watcher.take_changes())
    if (n.event == MediaEvent::kInserted && n.path.starts_with(dir.str()))
      arrived.push_back(n.path);
  EXPECT_EQ(arrived, (std::vector<std::string>{ex.root(), fat.root(), ext.root(), dir / "file"}));
  EXPECT_FALSE(drives.has_dcim(dir / "file"));

  for (const FuseCard* card : {&ex, &fat}) {
    SCOPED_TRACE(card->root());
    EXPECT_TRUE(drives.has_dcim(card->root()));
    EXPECT_EQ(drives.device_record(card->root()).status, DeviceStatus::kFound);
    EXPECT_TRUE(drives.keeps_local_times(card->root()));
    std::string uuid;
    test::run_command("blkid -p -s UUID -o value " + card->device(), &uuid);
    uuid = uuid.substr(0, uuid.find('\n'));
    EXPECT_FALSE(uuid.empty());
    EXPECT_EQ(drives.volume_uuid(card->root()), uuid);
  }
  EXPECT_EQ(drives.volume_info(ex.root()).name, "EOS_EXFAT");
  EXPECT_EQ(drives.volume_info(fat.root()).name, "EOS_FAT32");
  EXPECT_FALSE(drives.keeps_local_times(ext.root()));

  EjectOptions quick{3, std::chrono::milliseconds(10), nullptr};
  for (const FuseCard* card : {&ex, &fat}) {
    SCOPED_TRACE(card->root());
    EXPECT_EQ(EjectCard(card->root(), quick).lines,
              "Media in Drive " + card->root() + " has been ejected safely.\n");
    EXPECT_FALSE(mounted(card->root()));
    EXPECT_FALSE(card->attached());
  }
}

}  // namespace
}  // namespace cw
