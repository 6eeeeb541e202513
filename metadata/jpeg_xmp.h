// XMP inside JPEG files: merging an XMP sidecar into the JPEG beside it, and writing a new JPEG
// (a raw file's embedded preview) with an EXIF segment made from the raw's recorded entries and
// an optional XMP segment. Both work on the marker structure only; no image data is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace cw {

// The identifier that opens an XMP APP1 payload: 28 characters, then one zero byte.
inline constexpr char kXmpNamespaceId[] = "http://ns.adobe.com/xap/1.0/";
inline constexpr std::size_t kXmpNamespaceIdLength = 28;
// The largest packet one APP1 segment can carry (65535 - 2 length bytes - 29 identifier bytes).
inline constexpr std::size_t kMaxXmpPacket = 65504;
// The identifier that opens each segment of an extended packet: 34 characters, one zero byte.
inline constexpr char kXmpExtensionId[] = "http://ns.adobe.com/xmp/extension/";
inline constexpr std::size_t kXmpExtensionIdLength = 34;
// The most of the extended part one segment carries: 65533 payload bytes less the identifier,
// the 32-digit GUID and the two 4-byte numbers (full length, offset).
inline constexpr std::size_t kMaxXmpExtensionChunk = 65533 - 35 - 32 - 8;

// The APP1 segments (markers and lengths included) that carry `packet`. A packet of at most
// kMaxXmpPacket bytes goes into one segment as it is. A larger one goes in the multi-segment
// form: a small main packet naming the extended part by its GUID (xmpNote:HasExtendedXMP, the
// MD5 of the extended part in 32 upper-case hexadecimal digits), then the extended part (the
// packet without its xpacket wrapper) in pieces, each segment giving the GUID, the full length
// and its offset. Empty when even that cannot hold it (over 4 GiB).
std::string xmp_app1_segments(const std::string& packet);

// What a JPEG carries as XMP: the main packet and, when it names an extended part whose
// segments are all there and whose MD5 matches, that part put together. Nothing when the file
// cannot be read or has no XMP packet before its image data.
struct JpegXmpPackets {
  std::string main;
  std::string extended;  // empty when the main packet names none (or it is incomplete)
};
std::optional<JpegXmpPackets> read_jpeg_xmp(const std::string& jpeg_path);

// What becomes of the sidecar once merged: deleted, its text now being in the JPEG, or kept
// for another image of the same name (a raw beside its JPEG) that uses it too.
enum class SidecarAfterMerge { kDelete, kKeep };

// Merges the sidecar "<name>.xmp" (the JPEG path with its last four characters replaced) into
// the JPEG, replacing any XMP packet it had (extended parts included; a large sidecar goes in
// as an extended packet), then deletes the sidecar unless it is to be kept.
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
