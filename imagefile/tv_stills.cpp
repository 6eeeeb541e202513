// Canon's CR3/CRM raws and HEIF-family still images: both keep their EXIF data as whole TIFF
// structures inside boxes, which the TIFF directory reader reads where they lie (CR3) or from
// memory (HEIF items may be split into extents or kept in the item data box).
#include <cstring>

#include "imagefile/bmff.h"
#include "imagefile/heif_items.h"
#include "imagefile/tv_reader.h"

namespace cw {

namespace {

using Uuid = std::array<std::uint8_t, 16>;
// The metadata box inside "moov" holding CMT1-CMT4 and the thumbnail.
constexpr Uuid kCanonMetadataUuid = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                     0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};
// The top-level box holding the PRVW preview.
constexpr Uuid kCanonPreviewUuid = {0xea, 0xf4, 0x2b, 0x5e, 0x1c, 0x98, 0x4b, 0x88,
                                    0xb9, 0xfb, 0xb7, 0xdc, 0x40, 0x6e, 0x4d, 0x16};
// The top-level box holding an XMP packet.
constexpr Uuid kXmpUuid = {0xbe, 0x7a, 0xcf, 0xcb, 0x97, 0xa9, 0x42, 0xe8,
                           0x9c, 0x71, 0x99, 0x94, 0x91, 0xe3, 0xaf, 0xac};

// THMB and PRVW boxes: a 16-byte header (sizes of the image, the JPEG length) before the JPEG.
constexpr std::uint64_t kPreviewHeader = 16;
// XMP packets are read up to this size.
constexpr std::uint64_t kMaxXmpPacket = 4ull << 20;
// A TIFF header is looked for this far into an Exif item whose offset field is wrong.
constexpr std::size_t kExifHeaderSearch = 64;

bool is_tiff_header(const std::string& bytes, std::size_t at) {
  return bytes.size() >= 8 && at <= bytes.size() - 8 &&
         (bytes.compare(at, 4, std::string("II*\0", 4)) == 0 ||
          bytes.compare(at, 4, std::string("MM\0*", 4)) == 0);
}

// Where the TIFF header of an Exif item's bytes lies: after the 4-byte big-endian offset and
// the offset's count of bytes, and after an "Exif\0\0" some writers put there. npos when there
// is none.
std::size_t exif_tiff_start(const std::string& bytes) {
  if (bytes.size() < 4) return std::string::npos;
  const std::uint32_t skip = get32(reinterpret_cast<const std::uint8_t*>(bytes.data()), true);
  if (skip <= bytes.size() - 4) {
    std::size_t at = 4 + std::size_t{skip};
    if (bytes.compare(at, 6, std::string("Exif\0\0", 6)) == 0) at += 6;
    if (is_tiff_header(bytes, at)) return at;
  }
  for (std::size_t at = 0; at < kExifHeaderSearch && at < bytes.size(); ++at)
    if (is_tiff_header(bytes, at)) return at;
  return std::string::npos;
}

// The first track of a CR3 holds the camera's full-size JPEG as its one sample: the sample
// entry "CRAW" gives its size in pixels, the sample size table and chunk offsets where its
// bytes are. False when the track is not laid out so.
bool full_size_jpeg_track(BoxWalker& w, const Box& moov, std::uint64_t& position,
                          std::uint64_t& length, std::uint16_t& width, std::uint16_t& height) {
  Box trak, mdia, minf, stbl, stsd, entry, stsz;
  if (!w.find(moov.payload, moov.end, "trak", trak) ||
      !w.find(trak.payload, trak.end, "mdia", mdia) ||
      !w.find(mdia.payload, mdia.end, "minf", minf) ||
      !w.find(minf.payload, minf.end, "stbl", stbl) ||
      !w.find(stbl.payload, stbl.end, "stsd", stsd) || stsd.payload_size() <= 8 ||
      !w.read_header(stsd.payload + 8, stsd.end, entry) || !entry.is("CRAW") ||
      !w.u16(entry.payload + 24, width) || !w.u16(entry.payload + 26, height) ||
      !w.find(stbl.payload, stbl.end, "stsz", stsz))
    return false;
  // A size for every sample, or else one size per sample.
  std::uint32_t common = 0, first = 0;
  if (!w.u32(stsz.payload + 4, common) || (common == 0 && !w.u32(stsz.payload + 12, first)))
    return false;
  length = common ? common : first;
  Box offsets;
  if (w.find(stbl.payload, stbl.end, "co64", offsets))
    return length && w.u64(offsets.payload + 8, position);
  std::uint32_t short_position = 0;
  if (!w.find(stbl.payload, stbl.end, "stco", offsets) ||
      !w.u32(offsets.payload + 8, short_position))
    return false;
  position = short_position;
  return length > 0;
}

// Drops the preview fields of a directory tree read from memory: its offsets are not the
// file's.
void drop_previews(TV_IFD* d) {
  for (; d; d = d->next.get()) {
    d->jpeg_offset = d->jpeg_length = 0;
    d->rw2_preview_offset = d->rw2_preview_size = 0;
    d->strip_offsets.clear();
    d->strip_byte_counts = 0;
    for (auto& sub : d->sub_ifds) drop_previews(sub.get());
  }
}

// Swaps a reader's source for another while a scope lasts.
class SourceSwap {
 public:
  SourceSwap(std::unique_ptr<ByteSource>& slot, std::unique_ptr<ByteSource> replacement)
      : slot_(slot), saved_(std::move(slot)) {
    slot_ = std::move(replacement);
  }
  ~SourceSwap() { slot_ = std::move(saved_); }
  SourceSwap(const SourceSwap&) = delete;
  SourceSwap& operator=(const SourceSwap&) = delete;

 private:
  std::unique_ptr<ByteSource>& slot_;
  std::unique_ptr<ByteSource> saved_;
};

}  // namespace

bool TV_Reader::read_embedded_tiff(std::uint64_t base, const char* kind, bool quick, bool macros,
                                   std::unique_ptr<TV_IFD>& directory) {
  TV_Image& im = *image_;
  std::uint8_t h[8];
  if (!source_->seek(base) || source_->read(h, 8) != 8)
    return fail("Read error - file may be short (reading header)");
  if (std::memcmp(h, "II*\0", 4) == 0)
    im.big_endian = false;
  else if (std::memcmp(h, "MM\0*", 4) == 0)
    im.big_endian = true;
  else
    return fail("Bad header - invalid byte-order designation");
  im.base = base;
  print("Byte order: %s\n", im.big_endian ? "big endian (MM)" : "little endian (II)");
  const std::uint32_t offset = get32(h + 4, im.big_endian);
  if (offset == 0) return fail("Bad header - missing Image File Directory");
  directory = std::make_unique<TV_IFD>(*this, 0);
  return directory->read_all(offset, kind, quick, macros);
}

bool TV_Reader::read_tiff_bytes(std::string bytes, std::uint64_t base, bool quick, bool macros) {
  bool ok = false;
  {
    SourceSwap swap(source_, make_buffer_source(std::move(bytes)));
    ok = read_embedded_tiff(base, "First", quick, macros, image_->root);
  }
  drop_previews(image_->root.get());
  image_->base = 0;
  return ok;
}

bool TV_Reader::read_cr3(BoxWalker& walker, bool quick, bool macros) {
  TV_Image& im = *image_;
  print("Canon CR3 raw\n");
  Box moov, preview, xmp;
  bool have_moov = false, have_preview = false, have_xmp = false;
  const bool walked = walker.for_each(0, walker.size(), [&](const Box& box) {
    if (box.is("moov") && !have_moov) {
      moov = box;
      have_moov = true;
    } else if (box.is("uuid") && box.uuid == kCanonPreviewUuid && !have_preview) {
      preview = box;
      have_preview = true;
    } else if (box.is("uuid") && box.uuid == kXmpUuid && !have_xmp) {
      xmp = box;
      have_xmp = true;
    }
    return true;
  });
  // A damaged box after the movie box leaves what came before it readable.
  if (!have_moov) return fail(walked ? "CR3 file has no movie box" : walker.error());
  Box canon;
  bool have_canon = false;
  walker.for_each(moov.payload, moov.end, [&](const Box& box) {
    if (!box.is("uuid") || box.uuid != kCanonMetadataUuid) return true;
    canon = box;
    have_canon = true;
    return false;
  });
  if (!have_canon) return fail("CR3 file has no Canon metadata box");

  // Every part is read even when one fails; the first failure is what the read reports.
  const char* failure = nullptr;
  auto note = [&](bool ok) {
    if (!ok && !failure) failure = *message_ ? message_ : "Bad CR3 metadata";
  };
  std::unique_ptr<TV_IFD> ifd0, exif, gps, maker_notes;
  auto read_part = [&](const Box& box, const char* title, const char* kind, bool part_quick,
                       bool part_macros, std::unique_ptr<TV_IFD>& into) {
    print("\nCanon metadata %s: TIFF structure at offset %llu (%llu bytes)\n", title,
          static_cast<unsigned long long>(box.payload),
          static_cast<unsigned long long>(box.payload_size()));
    note(read_embedded_tiff(box.payload, kind, part_quick, part_macros, into));
  };
  // A JPEG preview whose bytes follow the header of a THMB or PRVW box; a length beyond the box
  // is cut to what the box holds.
  auto offer_preview = [&](const char* what, const Box& box, unsigned width, unsigned height,
                           std::uint32_t length) {
    const std::uint64_t room = box.payload_size() - kPreviewHeader;
    print("\nCanon %s: %ux%u JPEG of %u bytes at offset %llu\n", what, width, height, length,
          static_cast<unsigned long long>(box.payload + kPreviewHeader));
    auto d = std::make_unique<TV_IFD>(*this, 0);
    d->embedded_jpeg_position = box.payload + kPreviewHeader;
    d->embedded_jpeg_length = length < room ? length : room;
    d->image_width = width;
    d->image_length = height;
    im.previews.push_back(std::move(d));
  };
  const bool dumping = !quick && !macros;
  const bool walked_canon = walker.for_each(canon.payload, canon.end, [&](const Box& box) {
    if (box.is("CMT1") && !ifd0) {
      read_part(box, "CMT1 (IFD0)", "First", quick, macros, ifd0);
    } else if (box.is("CMT2") && !exif) {
      read_part(box, "CMT2 (EXIF IFD)", "EXIF", false, macros, exif);
    } else if (box.is("CMT3") && dumping && !maker_notes) {
      // The maker notes' tags are Canon's own: shown by number, never taken as EXIF values.
      read_part(box, "CMT3 (maker notes)", kMakerNotesKind, false, false, maker_notes);
    } else if (box.is("CMT4") && !gps) {
      read_part(box, "CMT4 (GPS IFD)", "GPS", false, false, gps);
    } else if (box.is("THMB") && box.payload_size() > kPreviewHeader) {
      std::uint16_t width = 0, height = 0;
      std::uint32_t length = 0;
      if (walker.u16(box.payload + 4, width) && walker.u16(box.payload + 6, height) &&
          walker.u32(box.payload + 8, length))
        offer_preview("thumbnail", box, width, height, length);
    }
    return true;
  });
  if (!walked_canon) note(fail(walker.error()));

  if (have_preview && preview.payload_size() > 8) {
    Box prvw;
    std::uint16_t width = 0, height = 0;
    std::uint32_t length = 0;
    if (walker.read_header(preview.payload + 8, preview.end, prvw) && prvw.is("PRVW") &&
        prvw.payload_size() > kPreviewHeader && walker.u16(prvw.payload + 6, width) &&
        walker.u16(prvw.payload + 8, height) && walker.u32(prvw.payload + 12, length))
      offer_preview("preview", prvw, width, height, length);
  }
  // Previews whose bytes are not a JPEG stream are not offered.
  auto drop_non_jpeg = [&] {
    std::erase_if(im.previews, [&](const std::unique_ptr<TV_IFD>& d) {
      std::uint8_t soi[2];
      return d->embedded_jpeg_length < 2 || !walker.read_at(d->embedded_jpeg_position, soi, 2) ||
             soi[0] != 0xFF || soi[1] != 0xD8;
    });
  };
  drop_non_jpeg();
  // Without a thumbnail or preview, the full-size JPEG of the first track stands for both: it
  // is large, so it is read only when nothing smaller is there.
  std::uint64_t track_position = 0, track_length = 0;
  std::uint16_t track_width = 0, track_height = 0;
  if (im.previews.empty() &&
      full_size_jpeg_track(walker, moov, track_position, track_length, track_width, track_height)) {
    std::uint64_t end = 0;
    print("\nCanon full-size JPEG: %ux%u, %llu bytes at offset %llu\n", track_width, track_height,
          static_cast<unsigned long long>(track_length),
          static_cast<unsigned long long>(track_position));
    if (add_within(track_position, track_length, walker.size(), end)) {
      auto d = std::make_unique<TV_IFD>(*this, 0);
      d->embedded_jpeg_position = track_position;
      d->embedded_jpeg_length = track_length;
      d->image_width = track_width;
      d->image_length = track_height;
      im.previews.push_back(std::move(d));
      drop_non_jpeg();
    }
  }

  // The directories hang where a TIFF file's would: IFD0 first, its EXIF and GPS children.
  im.root = ifd0 ? std::move(ifd0) : std::make_unique<TV_IFD>(*this, 0);
  im.root->exif = std::move(exif);
  im.root->gps = std::move(gps);
  // Offsets of the directories are relative to their own boxes; the previews are absolute.
  im.base = 0;
  if (have_xmp && !quick) {
    const std::uint64_t n = xmp.payload_size() < kMaxXmpPacket ? xmp.payload_size() : kMaxXmpPacket;
    std::string packet;
    if (walker.read_at(xmp.payload, n, packet)) {
      im.root->xmp = std::move(packet);
      print("\nXMP box:\n%s\n", im.root->xmp.c_str());
    }
  }
  if (failure) return fail(failure);
  message_ = "";
  return true;
}

bool TV_Reader::read_heif(BoxWalker& walker, bool quick, bool macros) {
  TV_Image& im = *image_;
  Box meta;
  if (!walker.find(0, walker.size(), "meta", meta))
    return fail(*walker.error() ? walker.error() : "HEIF file has no meta box");
  HeifMeta items;
  if (!read_heif_meta(walker, meta, items)) return fail(walker.error());
  print("HEIF image\n\tHandler: %s\n\tItems: %zu\n", items.handler.c_str(), items.items.size());

  const HeifItem* exif_item = nullptr;
  const HeifItem* xmp_item = nullptr;
  for (const HeifItem& item : items.items) {
    if (item.is_exif() && !exif_item) exif_item = &item;
    if (item.is_xmp() && !xmp_item) xmp_item = &item;
  }
  const char* failure = nullptr;
  if (exif_item) {
    std::string bytes;
    if (!heif_item_bytes(walker, items, *exif_item, kMaxHeifMetadataItem, bytes)) {
      failure = walker.error();
    } else {
      print("\tExif item %u: %zu bytes in %zu extent(s)\n", exif_item->id, bytes.size(),
            exif_item->extents.size());
      const std::size_t start = exif_tiff_start(bytes);
      if (start == std::string::npos)
        failure = "Bad header - Exif item holds no TIFF header";
      else if (!read_tiff_bytes(std::move(bytes), start, quick, macros))
        failure = message_;
    }
  } else {
    print("\tNo Exif item\n");
  }
  if (xmp_item && !quick) {
    std::string packet;
    if (heif_item_bytes(walker, items, *xmp_item, kMaxXmpPacket, packet)) {
      if (!im.root) im.root = std::make_unique<TV_IFD>(*this, 0);
      im.root->xmp = std::move(packet);
      print("\nXMP item %u:\n%s\n", xmp_item->id, im.root->xmp.c_str());
    } else if (!failure) {
      failure = walker.error();
    }
  }
  if (failure) return fail(failure);
  return true;
}

}  // namespace cw
