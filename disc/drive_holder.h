// Who holds a recorder that cannot be taken. A recorder is taken for exclusive use by opening
// its device exclusively; when that is refused because the device is busy, another program
// (a second burner, a player, the disc's mount) has it, and the writer names that program
// when the system lets it be seen, else the device.
#pragma once

#include <string>

namespace cw {

// Whether the device at `path` is held exclusively by someone else: an exclusive open of it
// is refused as busy. False for anything that is not a block device (an image file).
bool device_held_exclusively(const std::string& path);

// The process that has `path` open, as "NAME (process PID)", found through the process
// table at `proc`; empty when none can be seen (other users' processes keep their files
// to themselves).
std::string device_holder(const std::string& path, const std::string& proc = "/proc");

}  // namespace cw
