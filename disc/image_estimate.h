// An upper bound of the size of one disc's image as our writer builds it (ISO 9660 level 3
// with Rock Ridge and Joliet with long names), kept up to date while a plan adds folders and
// files, so that a planned disc never holds more than its capacity.
//
// What the image holds besides the files' data, each counted in 2 KiB sectors:
// - the system area (16 sectors) and the volume descriptors: primary, Joliet supplementary and
//   the set terminator; an image never has fewer than 32 sectors before the files' data;
// - for every folder, its ISO 9660 directory extent: the "." and ".." records and a record per
//   entry, each with its Rock Ridge fields (PX, TF and NM with the whole name; CL, PL and RE
//   for a folder moved out of a tree deeper than ISO 9660 allows), a record never crossing a
//   sector; a name too long for its record continues in the folder's continuation area, which
//   takes sectors of its own (the root's also holds the Rock Ridge extension reference);
// - for every folder, its Joliet directory extent likewise;
// - the path tables, both byte orders, of either tree;
// - each file's data from a sector of its own, a file over 4 GiB taking a record per extent,
//   and one zeroed sector that empty files point to;
// - the disc's proof at its root: the manifest, a line of hash and path per file, and the
//   provenance, counted at kProvenanceBytes (its text is kept within that);
// - the 300 KiB written after the image on an optical disc for readers that read ahead.
//
// The bound is deliberate where the writer's choice is not known ahead: an ISO 9660 name is
// counted at its longest (31 characters: names are shortened and made unique by the writer),
// a Joliet name at its length plus a dot and seven digits of a uniqueness suffix, a file name
// with the "_NNN" our layout may append, every folder deep enough to be moved as moved, and a
// folder's records at the worst packing the largest of them allows. For folders of camera
// files this comes to about sixty bytes per file above the real image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace cw {

inline constexpr std::uint64_t kSectorBytes = 2048;
// Zeros written after the image on an optical disc, for readers that read ahead.
inline constexpr std::uint64_t kReadAheadPadBytes = 300 * 1024;
// The most a disc's provenance text takes.
inline constexpr std::uint64_t kProvenanceBytes = 16 * 1024;
// A manifest line: 32 hexadecimal digits, two spaces, the path and a line break.
inline std::uint64_t manifest_line_bytes(std::size_t path_bytes) { return 32 + 2 + path_bytes + 1; }

class ImageEstimate {
 public:
  ImageEstimate();

  // Adds a folder of the disc ("/"-separated, no leading "/") and every parent it lacks.
  void add_folder(std::string_view path);
  // Adds a file of `size` bytes named `name` to the folder `folder` (added when new).
  void add_file(std::string_view folder, std::string_view name, std::uint64_t size);
  // The image's size were the file added; the estimate itself is unchanged. The folder must
  // have been added.
  std::uint64_t bytes_with_file(std::string_view folder, std::string_view name,
                                std::uint64_t size) const;
  // The image's size as the estimate holds it.
  std::uint64_t bytes() const;

 private:
  // The packing of one kind of record in a folder: their total and the largest one.
  struct Records {
    std::uint64_t bytes = 0;
    std::uint64_t largest = 0;
    void add(std::uint64_t size);
    std::uint64_t sectors() const;
  };
  // The continuation area of a folder: pieces that never cross a sector.
  struct Continuation {
    std::uint64_t pieces = 0;
    std::uint64_t bytes = 0;
    std::uint64_t largest = 0;
    void add(std::uint64_t size);
    std::uint64_t sectors() const;
  };
  struct Folder {
    Records iso;
    Continuation continued;
    Records joliet;
    std::uint64_t sectors() const;
  };
  // The sectors of the trees and path tables, everything but the files' data.
  std::uint64_t tree_sectors() const;
  // Adds one entry's records to `folder` (`is_file`: a file of `extents` extents; `extra`:
  // Rock Ridge bytes for a moved folder).
  static void add_entry(Folder& folder, std::string_view name, bool is_file,
                        std::uint64_t extents, std::uint64_t extra);

  std::map<std::string, Folder, std::less<>> folders_;
  std::uint64_t folder_sectors_ = 0;  // the sum of the folders' sectors()
  std::uint64_t iso_path_table_ = 0;
  std::uint64_t joliet_path_table_ = 0;
  std::uint64_t data_sectors_ = 0;
  std::uint64_t manifest_bytes_ = 0;  // the proof's manifest with the files added so far
};

// Sectors of data of a file of `size` bytes.
inline std::uint64_t data_sectors(std::uint64_t size) {
  return (size + kSectorBytes - 1) / kSectorBytes;
}

}  // namespace cw
