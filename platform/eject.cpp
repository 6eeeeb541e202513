// The eject sequence: drive type, open, unmount with retries, eject, close, then the line
// that says what happened.
#include "platform/eject.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <linux/loop.h>
#include <scsi/scsi_ioctl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>
#include <thread>

#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/block_device.h"
#include "platform/mountinfo.h"
#include "platform/udisks.h"

namespace cw {

namespace {

void say(EjectResult& result, const EjectOptions& options, const std::string& line) {
  result.lines += line;
  if (options.output) {
    std::fputs(line.c_str(), options.output);
    std::fflush(options.output);
  }
  log_printf("%.*s", static_cast<int>(line.size() - (line.ends_with('\n') ? 1 : 0)), line.c_str());
}

enum class UnmountTry { kDone, kBusy, kRefused };

// The "lock": tries the unmount until it succeeds, fails for another reason than being
// busy, or the tries run out. True when the volume is no longer mounted.
bool unmount_with_retries(EjectResult& result, const EjectOptions& options,
                          const std::function<UnmountTry()>& attempt) {
  for (int i = 0; i < std::max(options.attempts, 1); ++i) {
    if (i > 0) std::this_thread::sleep_for(options.interval);
    ++result.unmount_attempts;
    UnmountTry t = attempt();
    if (t == UnmountTry::kDone) return true;
    if (t == UnmountTry::kRefused) return false;
  }
  return false;
}

bool has_sibling(const UdisksObjects& objects, const UdisksDrive& drive) {
  if (drive.sibling_id.empty()) return false;
  for (const UdisksDrive& d : objects.drives)
    if (d.object_path != drive.object_path && d.sibling_id == drive.sibling_id) return true;
  return false;
}

// True when another file system of the same drive is still mounted (a second partition):
// ejecting or powering off would pull it away.
bool drive_still_in_use(const UdisksObjects& objects, const UdisksBlock& block) {
  for (const UdisksBlock& b : objects.blocks)
    if (b.object_path != block.object_path && b.drive == block.drive && !b.mount_points.empty())
      return true;
  return false;
}

void eject_with_udisks(EjectResult& result, const EjectOptions& options, Udisks& udisks,
                       const UdisksObjects& objects, const UdisksBlock& block,
                       const std::string& root) {
  const UdisksDrive* drive = objects.drive_at(block.drive);
  const UdisksBlock* loop = block.is_loop ? &block : nullptr;
  if (!loop)
    if (const UdisksBlock* table = objects.block_at(block.partition_table); table && table->is_loop)
      loop = table;
  bool removable = loop || (drive && (drive->removable || drive->media_removable ||
                                      drive->ejectable || drive->optical));
  if (!removable) {
    say(result, options, "Cannot eject.  Drive type is incorrect.\n");
    return;
  }
  result.handled = true;
  std::string message;
  bool dismounted = unmount_with_retries(result, options, [&] {
    switch (udisks.unmount(block.object_path, message)) {
      case UdisksReply::kOk:
      case UdisksReply::kNotMounted:
        return UnmountTry::kDone;
      case UdisksReply::kBusy:
        return UnmountTry::kBusy;
      default:
        return UnmountTry::kRefused;
    }
  });
  if (!dismounted) {
    log_printf("Eject %s: left mounted after %d tries: %s", root.c_str(),
               result.unmount_attempts, message.c_str());
    result.outcome = EjectOutcome::kLeftMounted;
    return;
  }
  bool ejected = false;
  if (loop) {
    ejected = udisks.delete_loop(loop->object_path, message) == UdisksReply::kOk;
  } else if (drive && !drive_still_in_use(objects, block)) {
    bool tried = false;
    bool ok = true;
    if (drive->ejectable) {
      tried = true;
      ok = udisks.eject(drive->object_path, message) == UdisksReply::kOk;
    }
    // Powering off a multi-slot reader would take its other cards with it.
    if (drive->can_power_off && !has_sibling(objects, *drive)) {
      tried = true;
      ok = udisks.power_off(drive->object_path, message) == UdisksReply::kOk && ok;
    }
    ejected = tried && ok;
  }
  if (!ejected && !message.empty()) log_printf("Eject %s: %s", root.c_str(), message.c_str());
  result.outcome = ejected ? EjectOutcome::kEjected : EjectOutcome::kDismounted;
}

// How long the FUSE program of an unmounted card may take to let go of its device.
constexpr auto kFuseReleaseLimit = std::chrono::seconds(5);
constexpr auto kFuseReleasePoll = std::chrono::milliseconds(20);

bool all_digits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
}

// True when a process other than this one has the device node open: one of its descriptors
// links to the node. Only the links are read, never the files behind them.
bool opened_by_another_process(const std::string& node) {
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  const std::string self = std::to_string(getpid());
  bool found = false;
  while (!found) {
    const dirent* p = readdir(proc);
    if (!p) break;
    if (!all_digits(p->d_name) || self == p->d_name) continue;
    const std::string fds = std::string("/proc/") + p->d_name + "/fd";
    DIR* dir = opendir(fds.c_str());
    if (!dir) continue;  // gone meanwhile, or not ours to look at
    while (const dirent* f = readdir(dir)) {
      if (!all_digits(f->d_name)) continue;
      char target[PATH_MAX];
      const ssize_t n = readlink((fds + "/" + f->d_name).c_str(), target, sizeof target);
      if (n > 0 && std::string_view(target, static_cast<std::size_t>(n)) == node) {
        found = true;
        break;
      }
    }
    closedir(dir);
  }
  closedir(proc);
  return found;
}

// A FUSE program reads and writes the card's device itself, and it may still be writing (and
// holding the device) for a moment after the unmount has returned: the card is ejected or
// its loop device detached once the program has closed the device, or after a few seconds.
void wait_for_fuse_program(const std::string& source) {
  char real[PATH_MAX];
  if (!realpath(source.c_str(), real)) return;
  const auto give_up = std::chrono::steady_clock::now() + kFuseReleaseLimit;
  while (opened_by_another_process(real) && std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(kFuseReleasePoll);
}

void eject_with_kernel(EjectResult& result, const EjectOptions& options, const MountEntry& mount) {
  struct stat dev {};
  bool block_device = stat(mount.source.c_str(), &dev) == 0 && S_ISBLK(dev.st_mode);
  BlockDeviceInfo info;
  if (block_device) info = block_device_info(dev.st_rdev);
  if (!block_device || info.kind == DriveKind::kFixed) {
    say(result, options, "Cannot eject.  Drive type is incorrect.\n");
    return;
  }
  int fd = open(mount.source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    say(result, options, format_limited(200, "Error %d: %s\n", errno, "CreateFile"));
    result.outcome = EjectOutcome::kOpenFailed;
    return;
  }
  int error = 0;
  bool dismounted = unmount_with_retries(result, options, [&] {
    if (umount2(mount.mount_point.c_str(), 0) == 0) return UnmountTry::kDone;
    error = errno;
    return error == EBUSY ? UnmountTry::kBusy : UnmountTry::kRefused;
  });
  bool ejected = false;
  if (dismounted && is_fuse_filesystem(mount.fs_type)) wait_for_fuse_program(mount.source);
  if (!dismounted) {
    log_printf("Eject %s: left mounted after %d tries: %s", mount.mount_point.c_str(),
               result.unmount_attempts, std::strerror(error));
  } else if (info.kind == DriveKind::kLoop) {
    ejected = ioctl(fd, LOOP_CLR_FD, 0) == 0;
  } else {
    int allow = info.kind == DriveKind::kOptical ? ioctl(fd, CDROM_LOCKDOOR, 0)
                                                 : ioctl(fd, SCSI_IOCTL_DOORUNLOCK, 0);
    ejected = allow == 0 && ioctl(fd, CDROMEJECT, 0) == 0;
  }
  if (close(fd) != 0) {
    result.outcome = EjectOutcome::kCloseFailed;
    return;
  }
  result.handled = true;
  result.outcome = !dismounted ? EjectOutcome::kLeftMounted
                   : ejected   ? EjectOutcome::kEjected
                               : EjectOutcome::kDismounted;
}

}  // namespace

EjectResult EjectCard(const std::string& root, const EjectOptions& options) {
  EjectResult result;
  std::optional<std::vector<MountEntry>> table = read_mountinfo();
  std::vector<MountEntry> mounts = table ? drive_mounts(*table) : std::vector<MountEntry>{};
  const MountEntry* mount = find_mount(mounts, root);
  if (!mount) {
    say(result, options, "Cannot eject.  Drive type is incorrect.\n");
    return result;
  }
  std::unique_ptr<Udisks> udisks = Udisks::connect();
  std::optional<UdisksObjects> objects;
  if (udisks) objects = udisks->objects();
  const UdisksBlock* block =
      objects ? objects->block_for(mount->source, makedev(mount->major, mount->minor)) : nullptr;
  if (block && block->has_filesystem)
    eject_with_udisks(result, options, *udisks, *objects, *block, root);
  else
    eject_with_kernel(result, options, *mount);

  if (result.outcome == EjectOutcome::kEjected)
    say(result, options, "Media in Drive " + root + " has been ejected safely.\n");
  else if (result.outcome == EjectOutcome::kDismounted)
    say(result, options, "Media in Drive " + root + " can be safely removed.\n");
  return result;
}

}  // namespace cw
