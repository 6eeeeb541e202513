// The items of a HEIF-family image (HEIC, HIF, AVIF): what the item information box says each
// item is, where the item location box puts its bytes (file extents or the item data box), and
// reading an item's bytes into memory. Counts and sizes are capped and every extent is checked
// against the file, so any input is read in bounded time and memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imagefile/bmff.h"

namespace cw {

// At most this many items are taken from the item information and location boxes.
inline constexpr std::uint32_t kMaxHeifItems = 1024;
// An item made of more extents than this is not read.
inline constexpr std::uint32_t kMaxHeifExtents = 64;
// The item information and location boxes are read into memory up to this size.
inline constexpr std::uint64_t kMaxHeifTableBytes = 4ull << 20;
// Metadata items (Exif, XMP) are read up to this size.
inline constexpr std::uint64_t kMaxHeifMetadataItem = 16ull << 20;

struct HeifExtent {
  std::uint64_t offset = 0;  // from the item's base (file start, or the item data box)
  std::uint64_t length = 0;  // 0: to the end of the file or of the item data box
};

struct HeifItem {
  std::uint32_t id = 0;
  FourCC type{};             // "Exif", "mime", "hvc1", "av01", ...; zero for version 0/1 entries
  std::string content_type;  // of "mime" items
  int construction_method = -1;  // 0 file offsets, 1 item data box; -1 not located
  std::uint64_t base_offset = 0;
  std::vector<HeifExtent> extents;
  bool too_many_extents = false;  // more than kMaxHeifExtents: not read

  bool is_exif() const { return type == fourcc("Exif"); }
  bool is_xmp() const { return type == fourcc("mime") && content_type == "application/rdf+xml"; }
};

struct HeifMeta {
  std::string handler;  // the handler type of "hdlr" ("pict" for images)
  std::vector<HeifItem> items;
  bool have_item_data = false;
  Box item_data;  // "idat"
};

// Reads the children of a meta box (a full box: its payload begins with version and flags):
// hdlr, iinf, iloc and idat. False, with the walker's error set, when they are malformed.
bool read_heif_meta(BoxWalker& walker, const Box& meta, HeifMeta& out);

// Assembles an item's bytes from its extents, at most `limit` bytes in all. False, with the
// walker's error set, when an extent lies outside the file or its item data box, the item
// uses a construction method other than file offsets or the item data box, or is too large.
bool heif_item_bytes(BoxWalker& walker, const HeifMeta& meta, const HeifItem& item,
                     std::uint64_t limit, std::string& out);

}  // namespace cw
