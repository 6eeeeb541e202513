// HEIF item information, item locations and item bytes.
#include "imagefile/heif_items.h"

#include <cstring>
#include <map>

#include "imagefile/tv_reader.h"

namespace cw {

namespace {

// Big-endian fields of a box held in memory, every read checked against its end.
class Fields {
 public:
  explicit Fields(const std::string& bytes) : bytes_(bytes) {}
  bool u8(std::uint32_t& v) { return narrow(1, v); }
  bool u16(std::uint32_t& v) { return narrow(2, v); }
  bool u32(std::uint32_t& v) { return narrow(4, v); }
  // An unsigned field of 0, 1, 2, 4 or 8 bytes.
  bool sized(std::uint32_t n, std::uint64_t& v) {
    if (n != 0 && n != 1 && n != 2 && n != 4 && n != 8) return false;
    if (n > bytes_.size() - at_) return false;
    v = 0;
    for (std::uint32_t i = 0; i < n; ++i) v = v << 8 | static_cast<std::uint8_t>(bytes_[at_++]);
    return true;
  }
  bool skip(std::size_t n) {
    if (n > bytes_.size() - at_) return false;
    at_ += n;
    return true;
  }
  bool four(FourCC& type) {
    if (bytes_.size() - at_ < 4) return false;
    std::memcpy(type.data(), bytes_.data() + at_, 4);
    at_ += 4;
    return true;
  }
  // A text ending in a zero byte (or at the end of the data).
  std::string text() {
    std::string s;
    while (at_ < bytes_.size() && bytes_[at_] != '\0') s.push_back(bytes_[at_++]);
    if (at_ < bytes_.size()) ++at_;
    return s;
  }

 private:
  bool narrow(std::uint32_t n, std::uint32_t& v) {
    std::uint64_t wide = 0;
    if (!sized(n, wide)) return false;
    v = static_cast<std::uint32_t>(wide);
    return true;
  }
  const std::string& bytes_;
  std::size_t at_ = 0;
};

// A box's payload, at most kMaxHeifTableBytes of it (entries beyond are not read).
bool read_table(BoxWalker& walker, const Box& box, std::string& bytes) {
  const std::uint64_t n =
      box.payload_size() < kMaxHeifTableBytes ? box.payload_size() : kMaxHeifTableBytes;
  return walker.read_at(box.payload, n, bytes);
}

// One "infe" box. Versions 0 and 1 give no item type (only a content type); 2 and 3 give it,
// with a 16- or 32-bit item number.
bool read_item_entry(BoxWalker& walker, const Box& infe, HeifItem& item) {
  std::string bytes;
  // The fields needed come first; names and content types are short.
  constexpr std::uint64_t kEntryBytes = 1024;
  if (!walker.read_at(infe.payload,
                      infe.payload_size() < kEntryBytes ? infe.payload_size() : kEntryBytes, bytes))
    return false;
  Fields f(bytes);
  std::uint32_t version = 0, id = 0, protection = 0;
  if (!f.u8(version) || !f.skip(3)) return walker.fail("item information entry too short");
  if (version >= 3 ? !f.u32(id) : !f.u16(id))
    return walker.fail("item information entry too short");
  if (!f.u16(protection)) return walker.fail("item information entry too short");
  item.id = id;
  if (version >= 2) {
    if (!f.four(item.type)) return walker.fail("item information entry too short");
    f.text();  // item name
    if (item.type == fourcc("mime")) item.content_type = f.text();
  } else {
    f.text();  // item name
    item.content_type = f.text();
  }
  return true;
}

bool read_item_information(BoxWalker& walker, const Box& iinf, HeifMeta& out) {
  std::uint8_t version = 0;
  if (iinf.payload_size() < 4 || !walker.u8(iinf.payload, version))
    return walker.fail("item information box too short");
  const std::uint64_t first = iinf.payload + 4 + (version == 0 ? 2 : 4);
  if (first > iinf.end) return walker.fail("item information box too short");
  bool ok = true;
  const bool walked = walker.for_each(first, iinf.end, [&](const Box& box) {
    if (!box.is("infe")) return true;
    if (out.items.size() >= kMaxHeifItems) return false;
    HeifItem item;
    if (!read_item_entry(walker, box, item)) {
      ok = false;
      return false;
    }
    out.items.push_back(std::move(item));
    return true;
  });
  return walked && ok;
}

bool read_item_locations(BoxWalker& walker, const Box& iloc, HeifMeta& out) {
  std::string bytes;
  if (!read_table(walker, iloc, bytes)) return false;
  Fields f(bytes);
  std::uint32_t version = 0, sizes = 0, sizes2 = 0, count = 0;
  if (!f.u8(version) || !f.skip(3) || !f.u8(sizes) || !f.u8(sizes2))
    return walker.fail("item location box too short");
  if (version > 2) return walker.fail("item location box of an unknown version");
  const std::uint32_t offset_size = sizes >> 4, length_size = sizes & 15;
  const std::uint32_t base_offset_size = sizes2 >> 4;
  const std::uint32_t index_size = version >= 1 ? (sizes2 & 15) : 0;
  if (version < 2 ? !f.u16(count) : !f.u32(count))
    return walker.fail("item location box too short");

  std::map<std::uint32_t, HeifItem*> by_id;
  for (HeifItem& item : out.items) by_id.emplace(item.id, &item);
  const std::uint32_t entries = count < kMaxHeifItems ? count : kMaxHeifItems;
  for (std::uint32_t i = 0; i < entries; ++i) {
    std::uint32_t id = 0, method = 0, reference = 0, extent_count = 0;
    std::uint64_t base = 0;
    if (version < 2 ? !f.u16(id) : !f.u32(id)) return walker.fail("item location box too short");
    if (version >= 1) {
      if (!f.u16(method)) return walker.fail("item location box too short");
      method &= 15;
    }
    if (!f.u16(reference) || !f.sized(base_offset_size, base) || !f.u16(extent_count))
      return walker.fail("item location box too short");
    std::vector<HeifExtent> extents;
    const bool too_many = extent_count > kMaxHeifExtents;
    if (too_many) {
      // Every extent has the same size: passed over without reading them.
      const std::size_t each = std::size_t{index_size} + offset_size + length_size;
      if (!f.skip(each * extent_count)) return walker.fail("item location box too short");
    }
    for (std::uint32_t e = 0; !too_many && e < extent_count; ++e) {
      HeifExtent extent;
      std::uint64_t index = 0;
      if (!f.sized(index_size, index) || !f.sized(offset_size, extent.offset) ||
          !f.sized(length_size, extent.length))
        return walker.fail("item location box too short");
      extents.push_back(extent);
    }
    const auto found = by_id.find(id);
    // The first location given for an item counts; an item may be located only once.
    if (found == by_id.end() || found->second->construction_method >= 0) continue;
    HeifItem& item = *found->second;
    // Data in another file (a data reference) is not this file's.
    item.construction_method = reference != 0 ? 3 : static_cast<int>(method);
    item.base_offset = base;
    item.extents = std::move(extents);
    item.too_many_extents = too_many;
  }
  return true;
}

}  // namespace

bool read_heif_meta(BoxWalker& walker, const Box& meta, HeifMeta& out) {
  out = HeifMeta{};
  if (meta.payload_size() < 4) return walker.fail("meta box too short");
  Box iinf, iloc;
  bool have_iinf = false, have_iloc = false;
  const bool walked = walker.for_each(meta.payload + 4, meta.end, [&](const Box& box) {
    if (box.is("hdlr") && out.handler.empty() && box.payload_size() >= 12) {
      std::string h;
      if (walker.read_at(box.payload + 8, 4, h)) out.handler = h;
    } else if (box.is("iinf") && !have_iinf) {
      iinf = box;
      have_iinf = true;
    } else if (box.is("iloc") && !have_iloc) {
      iloc = box;
      have_iloc = true;
    } else if (box.is("idat") && !out.have_item_data) {
      out.item_data = box;
      out.have_item_data = true;
    }
    return true;
  });
  if (!walked) return false;
  if (have_iinf && !read_item_information(walker, iinf, out)) return false;
  if (have_iloc && !read_item_locations(walker, iloc, out)) return false;
  return true;
}

bool heif_item_bytes(BoxWalker& walker, const HeifMeta& meta, const HeifItem& item,
                     std::uint64_t limit, std::string& out) {
  out.clear();
  std::uint64_t area_start = 0, area_end = walker.size();
  if (item.construction_method == 1) {
    if (!meta.have_item_data) return walker.fail("item in a missing item data box");
    area_start = meta.item_data.payload;
    area_end = meta.item_data.end;
  } else if (item.construction_method != 0) {
    return walker.fail(item.construction_method < 0 ? "item has no location"
                                                    : "item stored in a way not read");
  }
  if (item.extents.empty()) return walker.fail("item has no extents");
  if (item.too_many_extents) return walker.fail("item has too many extents");
  for (const HeifExtent& extent : item.extents) {
    std::uint64_t start = 0, end = 0;
    const std::uint64_t area = area_end - area_start;
    if (!add_within(item.base_offset, extent.offset, area, start))
      return walker.fail("item extent beyond the end of the file");
    start += area_start;
    end = extent.length == 0 ? area_end : 0;
    if (extent.length != 0 && !add_within(start, extent.length, area_end, end))
      return walker.fail("item extent beyond the end of the file");
    if (end - start > limit - out.size()) return walker.fail("item too large to read");
    std::string piece;
    if (!walker.read_at(start, end - start, piece)) return false;
    out += piece;
  }
  return true;
}

}  // namespace cw
