// XMP inside JPEG files: merging an XMP sidecar into the JPEG beside it, and writing a new JPEG
// (a raw file's embedded preview) with an EXIF segment made from the raw's recorded entries and
// an optional XMP segment. Both work on the marker structure only; no image data is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cw {

// The identifier that opens an XMP APP1 payload: 28 characters, then one zero byte.
inline constexpr char kXmpNamespaceId[] = "http://ns.adobe.com/xap/1.0/";
inline constexpr std::size_t kXmpNamespaceIdLength = 28;
// The largest packet one APP1 segment can carry (65535 - 2 length bytes - 29 identifier bytes).
inline constexpr std::size_t kMaxXmpPacket = 65504;

// What becomes of the sidecar once merged: deleted, its text now being in the JPEG, or kept
// for another image of the same name (a raw beside its JPEG) that uses it too.
enum class SidecarAfterMerge { kDelete, kKeep };

// Merges the sidecar "<name>.xmp" (the JPEG path with its last four characters replaced) into
// the JPEG, replacing any XMP packet it had, then deletes the sidecar unless it is to be kept.
// The JPEG is replaced by renaming a complete, synced "<path>-cwtmp" over it and keeps its
// modification time. True when done or when there is no sidecar; false after a failure, whose
// message (starting with two line feeds) goes to the text pane and the log; the JPEG and
// sidecar are then left as they were.
bool merge_xmp_into_jpeg(const std::string& jpeg_path,
                         SidecarAfterMerge after = SidecarAfterMerge::kDelete);

// One EXIF entry recorded by the image reader from IFD0 or the EXIF directory.
struct RecordedExifEntry {
  std::string name;             // the macro name
  std::string value;            // the formatted value ("1/250", "Canon", "200")
  std::uint16_t tag = 0;
  std::uint16_t type = 0;       // TIFF type (2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL, 10 SRATIONAL)
  std::uint32_t count = 0;
  std::uint32_t first_value = 0;
  int directory = 0;            // 1 IFD0, 2 the EXIF directory
};

// Writes a JPEG: SOI, an EXIF APP1 built from `entries`, an XMP APP1 with the file at
// `xmp_path` when it can be read, then `jpeg` without its own SOI. On failure `message` holds
// "Error writing JPEG file (N)." and the result is false.
bool write_jpeg_with_metadata(std::FILE* out, const unsigned char* jpeg, std::size_t length,
                              const std::vector<RecordedExifEntry>& entries,
                              std::string& message, const std::string& xmp_path);

// The EXIF APP1 payload ("Exif\0\0" and a big-endian TIFF structure) that the writer embeds;
// entries that cannot be written are left out.
std::string build_exif_payload(const std::vector<RecordedExifEntry>& entries);

}  // namespace cw
