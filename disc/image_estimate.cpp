// The image size bound: record sizes of either tree, their packing into sectors, path tables
// and the fixed parts of the image. The sizes are those the image writer uses for the options
// our recorders set (ISO level 3, Rock Ridge 1.12 without ACLs or extended attributes, Joliet
// with long names, version numbers on files, deep folders moved to the root).
#include "disc/image_estimate.h"

#include <algorithm>

namespace cw {

namespace {

// The image's fixed parts.
constexpr std::uint64_t kSystemAreaSectors = 16;
constexpr std::uint64_t kDescriptorSectors = 3;  // primary, Joliet, set terminator
constexpr std::uint64_t kMinimumHeadSectors = 32;  // the writer pads a small image's head to this
constexpr std::uint64_t kReadAheadPadSectors = kReadAheadPadBytes / kSectorBytes;
constexpr std::uint64_t kEmptyFileSectors = 1;  // the zeroed sector empty files point to

// ISO 9660 directory records.
constexpr std::uint64_t kRecordHeader = 33;      // a record without its name
constexpr std::uint64_t kIsoNameMax = 31;        // level 3 names, made unique within that
constexpr std::uint64_t kVersionSuffix = 2;      // ";1" after a file's name
constexpr std::uint64_t kRecordMax = 254;        // records are even, at most 255 bytes
// Rock Ridge fields of a record.
constexpr std::uint64_t kPosixAndTimes = 44 + 26;  // PX with inode number, TF with three times
constexpr std::uint64_t kNameHeader = 5;           // NM before the name
constexpr std::uint64_t kContinuationEntry = 28;   // CE pointing at the continuation area
constexpr std::uint64_t kChildLink = 12;           // CL of a moved folder's placeholder
constexpr std::uint64_t kRelocatedMark = 4;        // RE of a moved folder at its new place
constexpr std::uint64_t kRootDot = 144;            // "." of the root: PX TF NM SP CE
constexpr std::uint64_t kDot = 110;                // "." of another folder: PX TF NM
constexpr std::uint64_t kDotDot = 110 + 12;        // "..", with PL when the folder was moved
constexpr std::uint64_t kRootDotDot = 110;
constexpr std::uint64_t kExtensionReference = 182;  // ER in the root's continuation area
// A folder this deep, or one whose children's ISO 9660 paths could pass 255 characters, is
// moved to the root with a placeholder left behind. With names counted at 31 characters the
// second condition starts at depth 7, before the first (depth 8).
constexpr std::size_t kMovedDepth = 7;

// Joliet directory records.
constexpr std::uint64_t kJolietHeader = 34;         // a record without its name, padded
constexpr std::uint64_t kJolietVersion = 4;         // ";1" after a file's name, UCS-2
constexpr std::uint64_t kJolietFileChars = 104;     // 103 characters and a dot
constexpr std::uint64_t kJolietFolderChars = 103;
constexpr std::uint64_t kJolietUniqueChars = 1 + 7;  // a forced dot, a uniqueness number
// Path table entries: 8 bytes and the even-padded name; the root's name is one byte.
constexpr std::uint64_t kPathEntryHeader = 8;
constexpr std::uint64_t kRootPathEntry = 10;

// A name our layout may make unique with "_NNN".
constexpr std::uint64_t kLayoutSuffix = 4;

// Files larger than this take more than one extent, each with its own records.
constexpr std::uint64_t kExtentBytes = 0xFFFFF800ULL;

constexpr std::uint64_t even(std::uint64_t n) { return n + (n & 1); }

std::uint64_t extents_of(std::uint64_t size) {
  if (size <= kExtentBytes) return 1;
  return 1 + (size - kExtentBytes + kExtentBytes - 1) / kExtentBytes;
}

std::uint64_t joliet_chars(std::uint64_t name_bytes, bool is_file) {
  // A UTF-8 name has at least as many bytes as UCS-2 characters.
  return std::min(name_bytes + kJolietUniqueChars, is_file ? kJolietFileChars : kJolietFolderChars);
}

std::size_t depth_of(std::string_view path) {
  if (path.empty()) return 0;
  return static_cast<std::size_t>(std::count(path.begin(), path.end(), '/')) + 1;
}

std::string_view parent_of(std::string_view path) {
  std::size_t sep = path.rfind('/');
  return sep == std::string_view::npos ? std::string_view() : path.substr(0, sep);
}

std::string_view leaf_of(std::string_view path) {
  std::size_t sep = path.rfind('/');
  return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

// The whole image: its head (system area, descriptors, trees and path tables), the files'
// data and the padding after it.
std::uint64_t image_bytes(std::uint64_t tree_sectors, std::uint64_t data) {
  const std::uint64_t head =
      std::max(kSystemAreaSectors + kDescriptorSectors + tree_sectors, kMinimumHeadSectors);
  return (head + kEmptyFileSectors + data + kReadAheadPadSectors) * kSectorBytes;
}

// The manifest line of a file, its name counted with the "_NNN" a layout may append.
std::uint64_t line_of(std::string_view folder, std::string_view name) {
  return manifest_line_bytes(folder.size() + (folder.empty() ? 0 : 1) + name.size() + 4);
}

// Data sectors of the proof with a manifest of `manifest` bytes.
std::uint64_t proof_sectors(std::uint64_t manifest) {
  return data_sectors(manifest) + data_sectors(kProvenanceBytes);
}

}  // namespace

void ImageEstimate::Records::add(std::uint64_t size) {
  bytes += size;
  largest = std::max(largest, size);
}

// Records never cross a sector: a sector is left for the next one only when the record does
// not fit, so every sector but the last holds more than a sector less the largest record.
std::uint64_t ImageEstimate::Records::sectors() const {
  if (bytes == 0) return 0;
  if (bytes <= kSectorBytes) return 1;
  return (bytes - 1) / (kSectorBytes + 1 - largest) + 1;
}

void ImageEstimate::Continuation::add(std::uint64_t size) {
  ++pieces;
  bytes += size;
  largest = std::max(largest, size);
}

// A piece that would cross a sector, with a continuation entry, moves on: the writer then
// counts a continuation entry, the padding to the next sector and the padding the piece's
// start lacked, which skips up to a sector and a bit more. After such a move the area's end
// lies a little past the start of a sector, so the next move needs at least a sector less
// three pieces' worth of bytes in between.
std::uint64_t ImageEstimate::Continuation::sectors() const {
  if (bytes == 0) return 0;
  if (bytes + kContinuationEntry <= kSectorBytes) return 1;
  const std::uint64_t between = kSectorBytes - 3 * (largest + kContinuationEntry);
  const std::uint64_t moves = std::min(pieces, 1 + bytes / between);
  return data_sectors(bytes + moves * (kSectorBytes + 2 * kContinuationEntry));
}

std::uint64_t ImageEstimate::Folder::sectors() const {
  return iso.sectors() + continued.sectors() + joliet.sectors();
}

ImageEstimate::ImageEstimate() {
  Folder root;
  root.iso.add(kRootDot);
  root.iso.add(kRootDotDot);
  root.continued.add(kExtensionReference);
  root.joliet.add(kJolietHeader);
  root.joliet.add(kJolietHeader);
  // The proof's two files at the root (MANIFEST.xxh128, PROVENANCE.txt).
  add_entry(root, "MANIFEST.xxh128", true, 1, 0);
  add_entry(root, "PROVENANCE.txt", true, 1, 0);
  folder_sectors_ = root.sectors();
  folders_.emplace(std::string(), root);
  iso_path_table_ = kRootPathEntry;
  joliet_path_table_ = kRootPathEntry;
}

void ImageEstimate::add_entry(Folder& folder, std::string_view name, bool is_file,
                              std::uint64_t extents, std::uint64_t extra) {
  const std::uint64_t name_bytes = name.size() + (is_file ? kLayoutSuffix : 0);
  const std::uint64_t iso_part =
      even(kRecordHeader + kIsoNameMax + (is_file ? kVersionSuffix : 0));
  const std::uint64_t rock_ridge = even(kPosixAndTimes + extra + kNameHeader + name_bytes);
  const std::uint64_t joliet =
      kJolietHeader + 2 * joliet_chars(name_bytes, is_file) + (is_file ? kJolietVersion : 0);
  for (std::uint64_t i = 0; i < extents; ++i) {
    if (iso_part + rock_ridge <= kRecordMax) {
      folder.iso.add(iso_part + rock_ridge);
    } else {
      // The record is filled up with a continuation entry and the name goes on in the area.
      folder.iso.add(kRecordMax);
      folder.continued.add(kNameHeader + name_bytes);
    }
    folder.joliet.add(joliet);
  }
}

void ImageEstimate::add_folder(std::string_view path) {
  if (path.empty() || folders_.find(path) != folders_.end()) return;
  const std::string_view parent_path = parent_of(path);
  add_folder(parent_path);
  const std::string_view name = leaf_of(path);
  const bool moved = depth_of(path) >= kMovedDepth;

  Folder& parent = folders_.find(parent_path)->second;
  folder_sectors_ -= parent.sectors();
  add_entry(parent, name, false, 1, moved ? kChildLink : 0);
  folder_sectors_ += parent.sectors();
  if (moved) {
    Folder& root = folders_.find(std::string_view())->second;
    folder_sectors_ -= root.sectors();
    add_entry(root, name, false, 1, kRelocatedMark);
    folder_sectors_ += root.sectors();
  }

  Folder folder;
  folder.iso.add(kDot);
  folder.iso.add(kDotDot);
  folder.joliet.add(kJolietHeader);
  folder.joliet.add(kJolietHeader);
  folder_sectors_ += folder.sectors();
  folders_.emplace(std::string(path), folder);
  iso_path_table_ += even(kPathEntryHeader + kIsoNameMax);
  joliet_path_table_ += kPathEntryHeader + 2 * joliet_chars(name.size(), false);
}

void ImageEstimate::add_file(std::string_view folder, std::string_view name,
                             std::uint64_t size) {
  add_folder(folder);
  Folder& f = folders_.find(folder)->second;
  folder_sectors_ -= f.sectors();
  add_entry(f, name, true, extents_of(size), 0);
  folder_sectors_ += f.sectors();
  data_sectors_ += data_sectors(size);
  manifest_bytes_ += line_of(folder, name);
}

std::uint64_t ImageEstimate::bytes_with_file(std::string_view folder, std::string_view name,
                                             std::uint64_t size) const {
  auto found = folders_.find(folder);
  if (found == folders_.end()) {
    ImageEstimate copy = *this;
    copy.add_file(folder, name, size);
    return copy.bytes();
  }
  Folder f = found->second;
  add_entry(f, name, true, extents_of(size), 0);
  return image_bytes(tree_sectors() - found->second.sectors() + f.sectors(),
                     data_sectors_ + data_sectors(size) +
                         proof_sectors(manifest_bytes_ + line_of(folder, name)));
}

std::uint64_t ImageEstimate::tree_sectors() const {
  return folder_sectors_ + 2 * data_sectors(iso_path_table_) +
         2 * data_sectors(joliet_path_table_);
}

std::uint64_t ImageEstimate::bytes() const {
  return image_bytes(tree_sectors(), data_sectors_ + proof_sectors(manifest_bytes_));
}

}  // namespace cw
