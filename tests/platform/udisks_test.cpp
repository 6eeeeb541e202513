// The mount table, parsed and made into the drive list, and the Linux drive source with udisks2
// as a fake service on a private system bus.
#include "platform/udisks.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/eject.h"
#include "platform/linux_drive_source.h"
#include "platform/mountinfo.h"
#include "tests/common/test_env.h"

extern char** environ;

namespace cw {
namespace {

namespace fs = std::filesystem;

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
  const MountEntry& card = table[2];
  EXPECT_EQ(card.fs_type + " " + std::to_string(card.major) + ":" + std::to_string(card.minor),
            "vfat 8:17");
  EXPECT_EQ(unescape_mount_field("a\\04"), "a\\04");

  std::vector<std::string> roots;
  for (const MountEntry& e : drive_mounts(table)) roots.push_back(e.mount_point + "=" + e.source);
  EXPECT_EQ(roots, (std::vector<std::string>{"/=/dev/vda", "/media/ann/EOS DIGITAL=/dev/sdb1",
                                             "/mnt/tab\tand\\back=me@host:/photos x",
                                             "/mnt/over=/dev/sdd1", "/media/auto=/dev/sde1"}));
}

const std::string kBlocks = "/org/freedesktop/UDisks2/block_devices/";
const std::string kDrives = "/org/freedesktop/UDisks2/drives/";

// One mount-table line; paths must not need escapes.
std::string mount_line(int id, const std::string& point, const std::string& type,
                       const std::string& source) {
  return std::to_string(id) + " 1 0:" + std::to_string(id) + " / " + point + " rw - " + type +
         " " + source + " rw\n";
}

// Block devices, each mounted at dir/NAME from /dev/cwfake-NAME, and their drives.
constexpr const char* kConfig = R"({"blocks": {
  "reader": {"label": "EOS_DIGITAL", "drive": "reader"}, "slot1": {"drive": "slot1"},
  "loop": {"loop": true}, "internal": {"drive": "internal"}, "keeps": {"drive": "keeps"},
  "busy": {"drive": "busy", "replies": {"Unmount": ["busy", "busy", "ok"]}},
  "denied": {"drive": "busy", "replies": {"Unmount": ["not_authorized"]}}}, "drives": {
  "reader": {"vendor": "Generic", "model": "Card Reader", "Removable": true, "Ejectable": true,
             "CanPowerOff": true},
  "slot1": {"Removable": true, "Ejectable": true, "CanPowerOff": true, "sibling": "usb-7"},
  "slot2": {"Removable": true, "Ejectable": true, "CanPowerOff": true, "sibling": "usb-7"},
  "internal": {"vendor": "ATA", "model": "SSD"}, "keeps": {"MediaRemovable": true},
  "busy": {"Removable": true, "Ejectable": true}}})";

TEST(Udisks, NamesDrivesAndEjectsThroughTheService) {
  if (!test::have_program("dbus-daemon") ||
      test::run_command("/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null") != 0)
    GTEST_SKIP() << "needs dbus-daemon, python3-dbus and python3-gi";
  test::TempDir dir;
  test::write_file(dir / "config.json", kConfig);
  std::string script = CW_SOURCE_DIR "/tests/fixtures/fake_udisks2.py";
  std::string config = dir / "config.json", calls = dir / "calls", address = dir / "bus";
  const char* argv[] = {"python3", script.c_str(), config.c_str(), calls.c_str(),
                        address.c_str(), nullptr};
  pid_t service = 0;
  ASSERT_EQ(posix_spawn(&service, "/usr/bin/python3", nullptr, nullptr,
                        const_cast<char* const*>(argv), environ), 0);
  struct Stop {  // the service, and the settings that lead to it
    pid_t pid;
    ~Stop() {
      unsetenv("DBUS_SYSTEM_BUS_ADDRESS"), unsetenv("CARDWRIGHT_MOUNTINFO");
      kill(pid, SIGTERM), waitpid(pid, nullptr, 0);
    }
  } stop{service};
  for (int i = 0; i < 500 && !fs::exists(address); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(fs::exists(address)) << "the fake service did not start";
  setenv("DBUS_SYSTEM_BUS_ADDRESS", test::read_file(address).c_str(), 1);
  std::string table;
  int id = 40;
  for (const char* name : {"reader", "slot1", "loop", "internal", "busy", "denied", "keeps"})
    fs::create_directory(dir / name),
        table += mount_line(id++, dir / name, "ext4", std::string("/dev/cwfake-") + name);
  fs::create_directories(dir / "shm/DCIM");
  table += mount_line(90, dir / "shm", "tmpfs", "tmpfs") +
           mount_line(91, dir / "gone", "ext4", "/dev/cwfake-gone");
  test::write_file(dir / "mountinfo", table);
  setenv("CARDWRIGHT_MOUNTINFO", (dir / "mountinfo").c_str(), 1);

  LinuxDriveSource drives;
  ASSERT_TRUE(drives.roots());
  EXPECT_EQ(drives.volume_info(dir / "reader").name, "EOS_DIGITAL");
  DeviceRecord device = drives.device_record(dir / "reader");
  EXPECT_EQ(device.vendor + "|" + device.product, "Generic|Card Reader");
  EXPECT_EQ(drives.device_record(dir / "shm").status, DeviceStatus::kMissing);  // not a device
  EXPECT_TRUE(drives.has_dcim(dir / "shm"));
  EXPECT_FALSE(drives.has_dcim(dir / "reader"));
  EXPECT_EQ(drives.volume_info(dir / "gone").status, VolumeStatus::kNotReady);

  auto eject = [&](const char* name, int attempts = 20) {
    return EjectCard(dir / name, {attempts, std::chrono::milliseconds(1), nullptr});
  };
  EjectResult r = eject("reader");
  EXPECT_EQ(r.lines, "Media in Drive " + (dir / "reader") + " has been ejected safely.\n");
  EXPECT_EQ(eject("slot1").outcome, EjectOutcome::kEjected);
  EXPECT_EQ(eject("loop").outcome, EjectOutcome::kEjected);
  for (const char* name : {"internal", "shm", "unmounted"}) {
    r = eject(name);
    EXPECT_TRUE(!r.handled && r.lines == "Cannot eject.  Drive type is incorrect.\n") << name;
  }
  r = eject("busy", 2);  // busy through both tries: left mounted, still handled, no line
  EXPECT_TRUE(r.handled && r.outcome == EjectOutcome::kLeftMounted && r.unmount_attempts == 2 &&
              r.lines.empty());
  EXPECT_EQ(eject("busy").outcome, EjectOutcome::kEjected);
  r = eject("denied");
  EXPECT_TRUE(r.handled && r.outcome == EjectOutcome::kLeftMounted && r.unmount_attempts == 1);
  r = eject("keeps");  // neither ejectable nor able to power off
  EXPECT_EQ(r.lines, "Media in Drive " + (dir / "keeps") + " can be safely removed.\n");

  // The reader with a sibling slot is ejected but not powered off.
  EXPECT_EQ(test::read_file(calls),
            "Unmount " + kBlocks + "reader\nEject " + kDrives + "reader\nPowerOff " + kDrives +
                "reader\nUnmount " + kBlocks + "slot1\nEject " + kDrives + "slot1\nUnmount " +
                kBlocks + "loop\nDelete " + kBlocks + "loop\nUnmount " + kBlocks +
                "busy\nUnmount " + kBlocks + "busy\nUnmount " + kBlocks + "busy\nEject " +
                kDrives + "busy\nUnmount " + kBlocks + "denied\nUnmount " + kBlocks + "keeps\n");
}

}  // namespace
}  // namespace cw
