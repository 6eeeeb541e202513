// Archive roots shared by stations under a name. A studio's shares are mounted wherever each
// station mounts them ("/mnt/studio" here, "/media/studio" there), so a copy below a named root
// is recorded as the root's name and its path inside the root, and every station reads it back
// below its own mount point. A path below no named root is recorded as it is.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cw {

class ArchiveRoots {
 public:
  // A path as a name and the path inside that root ("" for the root itself).
  struct Place {
    std::string name;
    std::string inside;
  };

  // Reads "name=/mount/point;name=/other/point" (the preference "ArchiveRoots"; empty: none).
  // A name is letters, digits, '-', '_' and '.', given once; a mount point is absolute and is
  // taken as the system resolves it. Nothing after `why` says what is wrong.
  static std::optional<ArchiveRoots> parse(const std::string& text, std::string& why);

  bool empty() const { return roots_.empty(); }
  // Where `path` (as the system resolves it) lies: the named root whose mount point holds it
  // (the deepest, when mount points nest). Nothing below none.
  std::optional<Place> place_of(const std::string& path) const;
  // This station's path of `inside` below the root `name`; nothing when this station does not
  // map that name.
  std::optional<std::string> path_of(const std::string& name, const std::string& inside) const;

 private:
  struct Root {
    std::string name;
    std::string mount;
  };
  std::vector<Root> roots_;
};

}  // namespace cw
