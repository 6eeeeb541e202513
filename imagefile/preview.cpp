// Preview choice among the directories of a raw file, and reading preview JPEG bytes.
#include "imagefile/preview.h"

namespace cw {
namespace {

// Length of the directory's JPEG stream, 0 when it has none.
std::uint64_t jpeg_stream_length(const TV_IFD& d) {
  if (d.embedded_jpeg_length > 0) return d.embedded_jpeg_length;
  if (d.rw2_preview_offset > 0 && d.rw2_preview_size > 0) return d.rw2_preview_size;
  if (d.compression == 6 && d.strip_offsets.size() == 1 && d.strip_byte_counts > 0)
    return d.strip_byte_counts;
  if (d.jpeg_offset > 0 && d.jpeg_length > 0) return d.jpeg_length;
  return 0;
}

struct Candidates {
  TV_IFD* jpeg = nullptr;
  std::uint64_t jpeg_length = 0;
  TV_IFD* rgb = nullptr;
};

void consider(TV_IFD& d, bool prefer_largest, Candidates& c) {
  const std::uint64_t length = jpeg_stream_length(d);
  if (length > 0 && (!c.jpeg || (prefer_largest && length > c.jpeg_length))) {
    c.jpeg = &d;
    c.jpeg_length = length;
  }
  // An uncompressed directory is a preview only when it holds RGB pixels: the sensor data of
  // a raw (one sample per pixel) is uncompressed too.
  if (d.compression == 1 && !d.strip_offsets.empty() && d.samples_per_pixel == 3 &&
      (!c.rgb || (prefer_largest && d.image_width > c.rgb->image_width &&
                  d.image_length > c.rgb->image_length)))
    c.rgb = &d;
}

}  // namespace

PreviewChoice choose_preview(TV_Reader& reader) {
  TV_Image* im = reader.image();
  if (!im || !im->root) return {};
  const std::string& ext = reader.extension();
  const bool prefer_largest = reader.prefer_largest() && ext != "mef";
  if (ext == "rw2") return {im->root.get(), true};

  Candidates c;
  for (TV_IFD* d = im->root.get(); d; d = d->next.get()) {
    if (d == im->root.get() && prefer_largest && ext == "cr2" && d->compression == 6)
      return {d, true};
    consider(*d, prefer_largest, c);
    for (int i = 0; i < d->sub_ifd_count; ++i)
      if (d->sub_ifds[i]) consider(*d->sub_ifds[i], prefer_largest, c);
  }
  for (const std::unique_ptr<TV_IFD>& d : im->previews) consider(*d, prefer_largest, c);
  if (c.jpeg && (!prefer_largest || !im->jpeg)) {
    if (!prefer_largest && c.rgb && c.rgb->image_width < kSmallRgbThumbnail &&
        c.rgb->image_length < kSmallRgbThumbnail)
      return {c.rgb, false};
    return {c.jpeg, true};
  }
  if (c.rgb) {
    const bool olympus = im->make.rfind("OLYMPUS", 0) == 0;
    if (olympus && (c.rgb->image_width > kLargestOlympusRgb ||
                    c.rgb->image_length > kLargestOlympusRgb))
      return {};
    return {c.rgb, false};
  }
  return {};
}

bool read_jpeg(TV_Reader& reader, TV_IFD* d, std::vector<std::uint8_t>& bytes) {
  TV_Image* im = reader.image();
  ByteSource* src = reader.source();
  if (!im || !src) return reader.fail("Seek error - file may be short");
  std::uint64_t start = 0, length = 0;
  if (!d) {
    if (!im->jpeg) return reader.fail("Seek error - file may be short");
    length = src->size();
  } else if (d->embedded_jpeg_length > 0) {
    start = d->embedded_jpeg_position;
    length = d->embedded_jpeg_length;
  } else {
    std::uint32_t offset = 0;
    if (d->rw2_preview_offset > 0) {
      offset = d->rw2_preview_offset;
      length = d->rw2_preview_size;
    } else if (d->strip_byte_counts > 0 && !d->strip_offsets.empty()) {
      offset = d->strip_offsets[0];
      length = d->strip_byte_counts;
    } else {
      offset = d->jpeg_offset;
      length = d->jpeg_length;
    }
    start = im->base + offset;
  }
  const std::uint64_t bookmark = src->tell();
  if (!src->seek(start)) return reader.fail("Seek error - file may be short");
  std::uint64_t end = 0;
  if (length == 0 || !add_within(start, length, src->size(), end))
    return reader.fail("Read error - file may be short (reading value)");
  bytes.resize(static_cast<std::size_t>(length));
  const std::size_t got = src->read(bytes.data(), bytes.size());
  if (got != bytes.size()) {
    bytes.clear();
    return reader.fail("Read error - file may be short (reading value)");
  }
  if (!src->seek(bookmark)) return reader.fail("Seek error - file may be short (seeking to bookmark)");
  return true;
}

}  // namespace cw
