// The mount table as the kernel shows it in /proc/self/mountinfo: one entry per mounted file
// system with its mount point, file-system type and source. Card detection builds its drive
// list from it, and mount-table changes are how card arrival and removal become visible.
//
// CARDWRIGHT_MOUNTINFO=FILE reads FILE instead (tests, unusual set-ups).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cw {

struct MountEntry {
  std::string mount_point;  // unescaped ("/media/ann/EOS DIGITAL")
  std::string root;         // the part of the file system mounted there ("/" for all of it)
  std::string fs_type;      // "vfat", "ext4", "fuse.sshfs", ...
  std::string source;       // unescaped; "/dev/sdb1" for a disk, "server:/share", "tmpfs"
  unsigned major = 0;       // device number field of the entry
  unsigned minor = 0;
};

// Path of the mount table: $CARDWRIGHT_MOUNTINFO when set and not empty, else
// /proc/self/mountinfo.
std::string mountinfo_path();
// True when CARDWRIGHT_MOUNTINFO replaces the kernel's table (which cannot be polled).
bool mountinfo_replaced();

// Turns the kernel's octal escapes ("\040" for a space, "\011", "\012", "\134") back into
// bytes; a backslash not followed by three octal digits stays as it is.
std::string unescape_mount_field(std::string_view field);

// Parses the table's text. Lines that do not have the kernel's layout are left out.
std::vector<MountEntry> parse_mountinfo(std::string_view text);

// File systems that never hold a card: kernel interfaces (proc, sysfs, cgroup, ...), read-only
// program images (squashfs), and autofs, whose mount points are placeholders that a mere stat
// would mount.
bool is_pseudo_filesystem(std::string_view fs_type);

// FUSE file systems: "fuse", "fuseblk" and "fuse.NAME" (the name the program gives). Cards are
// mounted this way where the kernel has no FAT or exFAT driver.
bool is_fuse_filesystem(std::string_view fs_type);

// FAT and exFAT, by the kernel's or libblkid's name ("vfat", "msdos", "exfat"): file systems
// that keep file times as the wall-clock time of whoever wrote them, not as absolute times.
bool is_fat_family(std::string_view fs_type);

// The entry mounted at `mount_point`; null when there is none.
const MountEntry* find_mount(const std::vector<MountEntry>& entries,
                             const std::string& mount_point);

// The entries of the table in effect; nothing when it cannot be read (errno says why).
std::optional<std::vector<MountEntry>> read_mountinfo();

// The mounted roots that can hold a card, in table order. A mount point mounted over again
// appears once, at its first place, with the entry that is visible now (the last one); it is
// left out when that entry is a pseudo file system.
std::vector<MountEntry> drive_mounts(const std::vector<MountEntry>& table);

}  // namespace cw
