// Ejecting a card so that it can be pulled out without losing data. The card is named by its
// mount root. With udisks2 the volume is unmounted through it (which a normal desktop user
// may do), then the drive is ejected, and powered off when that leaves no other slot of a
// multi-slot reader without power; a loop device is detached. Without udisks2 the kernel is
// asked directly: umount2, then the removal and eject requests on the device. A card mounted
// through FUSE (its block device named in the mount table) is unmounted the same way; its
// program is given a few seconds to close the device before the eject or the detaching.
//
// Unmounting a volume that is in use is retried (20 tries, 500 ms apart, by default); a volume
// that stays busy, or that the system refuses to unmount, is left mounted and the request
// still counts as handled: the caller's following card detection shows what happened.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace cw {

struct EjectOptions {
  int attempts = 20;                        // unmount tries while the volume is busy
  std::chrono::milliseconds interval{500};  // pause after a busy try
  std::FILE* output = stdout;               // diagnostic lines (also logged); null: log only
};

enum class EjectOutcome {
  kWrongDriveType,  // not a removable or optical drive (or not mounted): nothing done
  kOpenFailed,      // the device could not be opened: nothing done
  kLeftMounted,     // busy through every try, or the unmount was refused
  kDismounted,      // unmounted; the medium can be pulled out but was not ejected
  kEjected,         // unmounted and ejected (or powered off, or the loop device detached)
  kCloseFailed,     // the device could not be closed
};

struct EjectResult {
  bool handled = false;  // false exactly for a wrong drive type, an open or a close failure
  EjectOutcome outcome = EjectOutcome::kWrongDriveType;
  int unmount_attempts = 0;
  std::string lines;  // the diagnostic lines as written
};

// Ejects the card mounted at `root`. Writes one of "Cannot eject.  Drive type is
// incorrect.", "Error %d: CreateFile", "Media in Drive ROOT has been ejected safely." or
// "Media in Drive ROOT can be safely removed."; nothing when the volume stayed mounted.
EjectResult EjectCard(const std::string& root, const EjectOptions& options = {});

}  // namespace cw
