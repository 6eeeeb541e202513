// The name a first copy takes without ever replacing an existing file: when the wanted name is
// taken, either the file there is the same image (the copy is a duplicate) or a numeric suffix
// makes the name free. Every taken name on the way is compared with the source, so a copy
// that some run (this one before, or another one writing into the same tree at this moment)
// has already put under a suffixed name is recognised as well.
#pragma once

#include <optional>
#include <string>

namespace cw {

// Highest numeric suffix tried before giving up.
inline constexpr int kMaxUniqueSuffix = 99999;

// Where a copy wanted at a target path goes.
struct TargetName {
  std::string path;                      // the first free name
  int suffix = 0;                        // its suffix number (0: the wanted name itself)
  std::optional<std::string> duplicate;  // a taken name that holds the same image
  bool exhausted = false;                // every suffix up to kMaxUniqueSuffix is taken
};

// `target` with suffix n: "_%05d" placed before an extension of exactly three characters,
// else at the end; n = 0 gives `target` itself.
std::string suffixed_name(const std::string& target, int n);

// Looks at the names of `target` from suffix `from` on: the first one that is free, or the
// first taken one that holds the same image as `source`. `source_identity` caches the source's
// identity between calls (empty: not made yet). The caller holds databaseLock.
TargetName find_target_name(const std::string& target, const std::string& source, int from,
                            std::string& source_identity);

// The identity of an image file: its size, its modification time in local time and its
// capture identity ("[no exif time]" when the image has none). False when the file cannot be
// examined or the image reader fails on it.
bool file_identity(const std::string& path, std::string& identity);

}  // namespace cw
