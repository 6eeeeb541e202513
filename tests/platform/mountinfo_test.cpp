// The mount table: parsing, the drive list made from it, and a replaced table read through
// the Linux drive source and watched on a timer.
#include "platform/mountinfo.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/drive_watcher.h"
#include "platform/eject.h"
#include "platform/linux_drive_source.h"
#include "tests/common/test_env.h"
#include "tests/platform/platform_env.h"

namespace cw {
namespace {

using test::mount_line;

TEST(Mountinfo, ParsesEscapedFieldsAndKeepsVisibleDriveMounts) {
  const std::string text =
      "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
      "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
      "51 27 8:17 / /media/ann/EOS\\040DIGITAL rw,nosuid shared:5 master:1 - vfat /dev/sdb1 rw\n"
      "52 27 0:41 / /mnt/tab\\011and\\134back rw - fuse.sshfs me@host:/photos\\040x rw\n"
      "this line is not a mount\n"
      "53 27 0:42 / /mnt/over rw - ext4 /dev/sdc1 rw\n"
      "54 27 0:43 / /media/auto rw - autofs systemd-1 rw\n"
      "55 53 8:33 / /mnt/over rw - ext4 /dev/sdd1 rw\n"
      "56 54 8:49 / /media/auto rw - vfat /dev/sde1 rw\n"
      "57 27 0:44 / /net rw - autofs auto.net rw\n";
  std::vector<MountEntry> table = parse_mountinfo(text);
  ASSERT_EQ(table.size(), 9u);
  EXPECT_EQ(table[2].mount_point, "/media/ann/EOS DIGITAL");
  EXPECT_EQ(table[2].source, "/dev/sdb1");
  EXPECT_EQ(table[2].fs_type, "vfat");
  EXPECT_EQ(table[2].major, 8u);
  EXPECT_EQ(table[2].minor, 17u);
  EXPECT_EQ(table[3].mount_point, "/mnt/tab\tand\\back");
  EXPECT_EQ(table[3].source, "me@host:/photos x");
  EXPECT_EQ(unescape_mount_field("a\\04"), "a\\04");

  std::vector<std::string> roots;
  for (const MountEntry& e : drive_mounts(table)) roots.push_back(e.mount_point + "=" + e.source);
  EXPECT_EQ(roots, (std::vector<std::string>{"/=/dev/vda", "/media/ann/EOS DIGITAL=/dev/sdb1",
                                             "/mnt/tab\tand\\back=me@host:/photos x",
                                             "/mnt/over=/dev/sdd1", "/media/auto=/dev/sde1"}));
}

TEST(LinuxDriveSource, ReadsAReplacedTableAndWatchesItOnATimer) {
  test::TempDir dir;
  std::filesystem::create_directories(dir / "card/DCIM");
  std::filesystem::create_directories(dir / "later");
  const std::string table = dir / "mountinfo";
  test::write_file(table, mount_line(40, dir / "card", "tmpfs", "tmpfs") +
                              mount_line(41, dir / "gone", "ext4", dir / "no-such-device") +
                              mount_line(42, dir / "card/proc", "proc", "proc"));
  test::ScopedEnv mounts("CARDWRIGHT_MOUNTINFO", table);
  test::ScopedEnv no_bus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (dir / "no-bus"));
  LinuxDriveSource drives;
  EXPECT_EQ(drives.change_fd(), -1);
  DriveWatcher watcher(drives);
  EXPECT_EQ(drives.roots(), (std::vector<std::string>{dir / "card", dir / "gone"}));
  EXPECT_TRUE(drives.has_dcim(dir / "card"));
  EXPECT_FALSE(drives.has_dcim(dir / "gone"));
  EXPECT_EQ(drives.volume_info(dir / "card").status, VolumeStatus::kOk);
  EXPECT_EQ(drives.volume_info(dir / "gone").status, VolumeStatus::kNotReady);
  EXPECT_EQ(drives.device_record(dir / "card").status, DeviceStatus::kMissing);  // tmpfs
  EXPECT_EQ(drives.device_record(dir / "gone").status, DeviceStatus::kMissing);

  // Neither a memory file system nor an unmounted folder is a drive that can be ejected.
  EjectResult r = EjectCard(dir / "card", {.output = nullptr});
  EXPECT_FALSE(r.handled);
  EXPECT_EQ(r.lines, "Cannot eject.  Drive type is incorrect.\n");
  EXPECT_FALSE(EjectCard(dir / "later", {.output = nullptr}).handled);

  test::write_file(table, mount_line(43, dir / "later", "tmpfs", "tmpfs") +
                              mount_line(41, dir / "gone", "ext4", dir / "no-such-device"));
  EXPECT_TRUE(watcher.wait(std::chrono::milliseconds(1)));
  std::vector<MediaNotification> changes = watcher.take_changes();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].event, MediaEvent::kRemoved);
  EXPECT_EQ(changes[0].path, dir / "card");
  EXPECT_EQ(changes[1].event, MediaEvent::kInserted);
  EXPECT_EQ(changes[1].path, dir / "later");
}

}  // namespace
}  // namespace cw
