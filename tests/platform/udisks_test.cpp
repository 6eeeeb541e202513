// udisks2 through a fake service on a private system bus: names and devices of drives, and
// what eject asks of the service for each kind of drive and each reply.
#include "platform/udisks.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/eject.h"
#include "platform/linux_drive_source.h"
#include "tests/common/test_env.h"
#include "tests/platform/platform_env.h"

extern char** environ;

namespace cw {
namespace {

namespace fs = std::filesystem;

const std::string kBlocks = "/org/freedesktop/UDisks2/block_devices/";
const std::string kDrives = "/org/freedesktop/UDisks2/drives/";

// Block devices, each mounted at dir/NAME from /dev/cwfake-NAME, and their drives.
constexpr const char* kConfig = R"({
  "blocks": {
    "reader": {"device": "/dev/cwfake-reader", "label": "EOS_DIGITAL", "drive": "reader"},
    "slot1": {"device": "/dev/cwfake-slot1", "drive": "slot1"},
    "loop": {"device": "/dev/cwfake-loop", "loop": true},
    "internal": {"device": "/dev/cwfake-internal", "drive": "internal"},
    "busy": {"device": "/dev/cwfake-busy", "drive": "busy",
             "replies": {"Unmount": ["busy", "busy", "ok"]}},
    "denied": {"device": "/dev/cwfake-denied", "drive": "denied",
               "replies": {"Unmount": ["not_authorized"]}},
    "keeps": {"device": "/dev/cwfake-keeps", "drive": "keeps"}
  },
  "drives": {
    "reader": {"vendor": "Generic", "model": "Card Reader", "Removable": true,
               "Ejectable": true, "CanPowerOff": true},
    "slot1": {"Removable": true, "Ejectable": true, "CanPowerOff": true, "sibling": "usb-7"},
    "slot2": {"Removable": true, "Ejectable": true, "CanPowerOff": true, "sibling": "usb-7"},
    "internal": {"vendor": "ATA", "model": "SSD"},
    "busy": {"Removable": true, "Ejectable": true},
    "denied": {"Removable": true, "Ejectable": true},
    "keeps": {"MediaRemovable": true}
  }
})";

// A private bus with the fake service on it, stopped when the object goes.
class FakeUdisksService {
 public:
  explicit FakeUdisksService(const test::TempDir& dir) : dir_(dir) {}
  ~FakeUdisksService() {
    if (service_ > 0) kill(service_, SIGTERM), waitpid(service_, nullptr, 0);
    if (bus_ > 0) kill(bus_, SIGTERM), waitpid(bus_, nullptr, 0);
  }
  // True when there is the software to run it (dbus-daemon, Debian's python3 with its D-Bus
  // and GLib bindings).
  static bool available() {
    return test::have_program("dbus-daemon") &&
           test::run_command("/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null") == 0;
  }
  // Empty when started, else why not.
  std::string start() {
    test::write_file(dir_ / "config.json", kConfig);
    // The bus prints its address once it listens, and ends at once when it cannot start.
    int out[2];
    if (pipe(out) != 0) return "no pipe";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string config_arg =
        "--config-file=" CW_SOURCE_DIR "/tests/fixtures/private_system_bus.conf";
    std::string address = "unix:path=" + (dir_ / "bus");
    std::string address_arg = "--address=" + address;
    const char* bus_argv[] = {"dbus-daemon", "--nofork", "--print-address", config_arg.c_str(),
                              address_arg.c_str(), nullptr};
    int spawned = posix_spawnp(&bus_, "dbus-daemon", &actions, nullptr,
                               const_cast<char* const*>(bus_argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    char line[512];
    ssize_t n = spawned == 0 ? read(out[0], line, sizeof line) : -1;
    close(out[0]);
    if (n <= 0) return "dbus-daemon did not start";
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    std::string script = CW_SOURCE_DIR "/tests/fixtures/fake_udisks2.py";
    std::string config = dir_ / "config.json", log = dir_ / "calls", ready = dir_ / "ready";
    const char* argv[] = {"python3", script.c_str(), config.c_str(), log.c_str(), ready.c_str(),
                          nullptr};
    if (posix_spawn(&service_, "/usr/bin/python3", nullptr, nullptr,
                    const_cast<char* const*>(argv), environ) != 0)
      return "fake service did not start";
    for (int i = 0; i < 500 && !fs::exists(ready); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return fs::exists(ready) ? "" : "fake service not ready";
  }
  std::string calls() const { return test::read_file(dir_ / "calls"); }

 private:
  const test::TempDir& dir_;
  pid_t bus_ = 0;
  pid_t service_ = 0;
};

TEST(Udisks, NamesDrivesAndEjectsThroughTheService) {
  test::TempDir dir;
  test::ScopedEnv restore_bus("DBUS_SYSTEM_BUS_ADDRESS", "");
  if (!FakeUdisksService::available()) GTEST_SKIP() << "needs dbus-daemon, python3-dbus, python3-gi";
  FakeUdisksService service(dir);
  std::string why_not = service.start();
  ASSERT_EQ(why_not, "");
  std::string table;
  int id = 40;
  for (const char* name : {"reader", "slot1", "loop", "internal", "busy", "denied", "keeps"}) {
    fs::create_directories(dir / name);
    table += test::mount_line(id++, dir / name, "ext4", std::string("/dev/cwfake-") + name);
  }
  table += test::mount_line(id, dir / "shm", "tmpfs", "tmpfs");
  test::write_file(dir / "mountinfo", table);
  test::ScopedEnv mounts("CARDWRIGHT_MOUNTINFO", dir / "mountinfo");

  LinuxDriveSource drives;
  ASSERT_TRUE(drives.roots());
  EXPECT_TRUE(drives.udisks_answered());
  EXPECT_EQ(drives.volume_info(dir / "reader").name, "EOS_DIGITAL");
  DeviceRecord device = drives.device_record(dir / "reader");
  EXPECT_EQ(device.status, DeviceStatus::kFound);
  EXPECT_EQ(device.vendor + "|" + device.product, "Generic|Card Reader");
  EXPECT_EQ(drives.device_record(dir / "shm").status, DeviceStatus::kMissing);

  auto eject = [&](const char* name, int attempts = 20) {
    return EjectCard(dir / name, {attempts, std::chrono::milliseconds(1), nullptr});
  };
  EjectResult r = eject("reader");
  EXPECT_TRUE(r.handled);
  EXPECT_EQ(r.lines, "Media in Drive " + (dir / "reader") + " has been ejected safely.\n");
  EXPECT_EQ(eject("slot1").outcome, EjectOutcome::kEjected);
  EXPECT_EQ(eject("loop").outcome, EjectOutcome::kEjected);
  r = eject("internal");
  EXPECT_FALSE(r.handled);
  EXPECT_EQ(r.lines, "Cannot eject.  Drive type is incorrect.\n");
  r = eject("busy", 2);  // busy through both tries: left mounted, still handled, no line
  EXPECT_TRUE(r.handled);
  EXPECT_EQ(r.outcome, EjectOutcome::kLeftMounted);
  EXPECT_EQ(r.unmount_attempts, 2);
  EXPECT_EQ(r.lines, "");
  EXPECT_EQ(eject("busy").outcome, EjectOutcome::kEjected);
  r = eject("denied");
  EXPECT_TRUE(r.handled);
  EXPECT_EQ(r.outcome, EjectOutcome::kLeftMounted);
  EXPECT_EQ(r.unmount_attempts, 1);
  r = eject("keeps");  // neither ejectable nor able to power off
  EXPECT_EQ(r.lines, "Media in Drive " + (dir / "keeps") + " can be safely removed.\n");

  // The reader with a sibling slot is ejected but not powered off.
  EXPECT_EQ(service.calls(),
            "Unmount " + kBlocks + "reader\nEject " + kDrives + "reader\nPowerOff " + kDrives +
                "reader\n"
                "Unmount " + kBlocks + "slot1\nEject " + kDrives + "slot1\n"
                "Unmount " + kBlocks + "loop\nDelete " + kBlocks + "loop\n"
                "Unmount " + kBlocks + "busy\nUnmount " + kBlocks + "busy\n"
                "Unmount " + kBlocks + "busy\nEject " + kDrives + "busy\n"
                "Unmount " + kBlocks + "denied\n"
                "Unmount " + kBlocks + "keeps\n");
}

}  // namespace
}  // namespace cw
