// The disk manager of the desktop (udisks2) reached over the system bus: the block devices and
// drives it knows (labels, vendors and models, which drives can be ejected or powered off),
// and the requests that take a card away safely (unmount, eject, power off, detach a loop
// device). It runs on desktop systems and acts for a normal user; where it does not answer,
// the callers fall back to the kernel's own interfaces.
//
// The bus is the system bus, or the one DBUS_SYSTEM_BUS_ADDRESS names.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sd_bus;

namespace cw {

struct UdisksBlock {
  std::string object_path;
  std::string device;                 // "/dev/sdb1"
  std::vector<std::string> symlinks;  // "/dev/disk/by-label/EOS_DIGITAL", ...
  std::uint64_t device_number = 0;
  std::string label;
  std::string uuid;
  std::string drive;  // object path of its drive; "/" or empty when none
  bool has_filesystem = false;
  std::vector<std::string> mount_points;
  bool is_loop = false;
  std::string partition_table;  // object path of the whole-disk block of a partition
};

struct UdisksDrive {
  std::string object_path;
  std::string vendor;
  std::string model;
  bool removable = false;
  bool media_removable = false;
  bool ejectable = false;
  bool can_power_off = false;
  bool optical = false;
  std::string sibling_id;  // shared by the drives of one multi-slot reader
};

struct UdisksObjects {
  std::vector<UdisksBlock> blocks;
  std::vector<UdisksDrive> drives;

  // The block device a mount source names (its device path or one of its links), or whose
  // device number is `device_number` (0: not compared).
  const UdisksBlock* block_for(const std::string& source, std::uint64_t device_number) const;
  const UdisksBlock* block_at(const std::string& object_path) const;
  const UdisksDrive* drive_at(const std::string& object_path) const;
};

enum class UdisksReply { kOk, kBusy, kNotAuthorized, kNotMounted, kFailed };

// One connection to the system bus.
class Udisks {
  struct Key {};

 public:
  // Null when there is no system bus to connect to.
  static std::unique_ptr<Udisks> connect();
  Udisks(Key, sd_bus* bus) : bus_(bus) {}
  ~Udisks();
  Udisks(const Udisks&) = delete;
  Udisks& operator=(const Udisks&) = delete;

  // Every block device and drive the service knows; nothing when it does not answer.
  std::optional<UdisksObjects> objects();

  // The requests. `message` receives the service's error text on failure. None of them asks
  // the user to authenticate: a refusal comes back as kNotAuthorized.
  UdisksReply unmount(const std::string& block_path, std::string& message);
  UdisksReply delete_loop(const std::string& block_path, std::string& message);
  UdisksReply eject(const std::string& drive_path, std::string& message);
  UdisksReply power_off(const std::string& drive_path, std::string& message);

 private:
  UdisksReply call(const std::string& path, const char* interface, const char* member,
                   std::string& message);
  sd_bus* bus_;
};

}  // namespace cw
