// Reading TIFF image file directories: entries, their values and formatting, the rules of the
// tags the program uses, and the walk through next, EXIF, GPS and Sub directories.
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "imagefile/tag_tables.h"
#include "imagefile/tv_reader.h"

namespace cw {

struct TV_IFD::Entry {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  std::uint8_t raw[4];  // value or offset, as stored
  std::uint32_t value_offset;
};

namespace {

// Bytes per element of each TIFF type (index = type; 0 for unknown).
constexpr std::uint32_t kTypeSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

constexpr std::uint16_t kTypeByte = 1, kTypeAscii = 2, kTypeShort = 3, kTypeLong = 4,
                        kTypeRational = 5, kTypeSbyte = 6, kTypeUndefined = 7, kTypeSshort = 8,
                        kTypeSlong = 9, kTypeSrational = 10, kTypeFloat = 11, kTypeDouble = 12;

const char* subfile_type_text(std::uint32_t v) {
  switch (v) {
    case 1: return "reduced-resolution version";
    case 2: return "single page of multi-page image";
    case 4: return "transparency mask";
    default: return "Unknown";
  }
}

const char* compression_text(std::uint32_t v) {
  switch (v) {
    case 1: return "Uncompressed";
    case 2: return "CCITT_1D";
    case 3: return "Group_3_Fax";
    case 4: return "Group_4_Fax";
    case 5: return "LZW";
    case 6: return "JPEG";
    case 7: return "JPEG_DNG";
    case 0x8005: return "PackBits";
    default: return "Unknown";
  }
}

const char* orientation_text(std::uint32_t v) {
  static const char* const kNames[] = {"top left",    "top right",    "bottom right",
                                       "bottom left", "left top",     "right top",
                                       "right bottom", "left bottom"};
  return v >= 1 && v <= 8 ? kNames[v - 1] : "Unknown";
}

// Tags whose whole value the program keeps (the others need only what is shown).
bool needs_whole_value(std::uint16_t tag) {
  return tag == 0x111 || tag == 0x14a || tag == 700 || tag == 0x83bb || tag == 0x102;
}

// Characters copied from text tags into the image's fields.
std::string ascii_text(const std::vector<std::uint8_t>& data, std::size_t limit) {
  std::string s;
  for (std::uint8_t c : data) {
    if (c == 0 || s.size() >= limit) break;
    s.push_back(static_cast<char>(c));
  }
  return s;
}

// Formats a value the way the dump shows it: at most 11 elements (201 characters of ASCII),
// then "..." when there are more.
std::string format_value(std::uint16_t type, std::uint32_t count,
                         const std::vector<std::uint8_t>& data, bool big) {
  std::string s;
  if (count == 0) return "[NULL]";
  char buf[64];
  const std::uint32_t size = kTypeSize[type];
  if (type == kTypeAscii) {
    std::uint32_t n = count < kShownCharacters ? count : kShownCharacters;
    for (std::uint32_t i = 0; i < n && i < data.size(); ++i)
      if (data[i] != 0) s.push_back(static_cast<char>(data[i]));
    if (count > kShownCharacters) s += "...";
    return s;
  }
  std::uint32_t n = count < kShownElements ? count : kShownElements;
  for (std::uint32_t i = 0; i < n; ++i) {
    if ((i + 1) * static_cast<std::size_t>(size) > data.size()) break;
    const std::uint8_t* p = data.data() + static_cast<std::size_t>(i) * size;
    switch (type) {
      case kTypeByte:
      case kTypeUndefined: std::snprintf(buf, sizeof buf, "%u ", unsigned{p[0]}); break;
      case kTypeShort: std::snprintf(buf, sizeof buf, "%u ", unsigned{get16(p, big)}); break;
      case kTypeLong: std::snprintf(buf, sizeof buf, "%u ", get32(p, big)); break;
      case kTypeRational:
        std::snprintf(buf, sizeof buf, "%u/%u ", get32(p, big), get32(p + 4, big));
        break;
      case kTypeSbyte: std::snprintf(buf, sizeof buf, "%d ", int{static_cast<std::int8_t>(p[0])}); break;
      case kTypeSshort:
        std::snprintf(buf, sizeof buf, "%d ", int{static_cast<std::int16_t>(get16(p, big))});
        break;
      case kTypeSlong:
        std::snprintf(buf, sizeof buf, "%d ", static_cast<std::int32_t>(get32(p, big)));
        break;
      case kTypeSrational:
        std::snprintf(buf, sizeof buf, "%d/%d ", static_cast<std::int32_t>(get32(p, big)),
                      static_cast<std::int32_t>(get32(p + 4, big)));
        break;
      case kTypeFloat: {
        std::uint32_t bits = get32(p, big);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        std::snprintf(buf, sizeof buf, "%f ", static_cast<double>(f));
        break;
      }
      case kTypeDouble: {
        std::uint64_t hi = get32(p, big), lo = get32(p + 4, big);
        std::uint64_t bits = big ? (hi << 32 | lo) : (lo << 32 | hi);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        std::snprintf(buf, sizeof buf, "%f ", d);
        break;
      }
      default: std::snprintf(buf, sizeof buf, "[?] "); break;
    }
    s += buf;
  }
  if (count > kShownElements) s += "...";
  return s;
}

void trim_right(std::string& s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' ||
                        s.back() == '\r'))
    s.pop_back();
}

}  // namespace

TV_Image::TV_Image() = default;
TV_Image::~TV_Image() = default;

const MacroPair* TV_Image::find_pair(std::string_view name) const {
  for (const MacroPair& p : macro_pairs)
    if (p.name.size() == name.size() && strncasecmp(p.name.data(), name.data(), name.size()) == 0)
      return &p;
  return nullptr;
}

TV_IFD::TV_IFD(TV_Reader& reader, int depth) : reader_(reader), depth_(depth) {}
TV_IFD::~TV_IFD() = default;

TV_Image& TV_IFD::image() { return *reader_.image(); }
ByteSource& TV_IFD::source() { return *reader_.source(); }
bool TV_IFD::fail(const char* message) { return reader_.fail(message); }

void TV_IFD::out(const char* fmt, ...) {
  if (quiet_ || !reader_.printing()) return;
  va_list ap;
  va_start(ap, fmt);
  reader_.vprint(fmt, ap);
  va_end(ap);
}

bool TV_IFD::enter(std::uint64_t absolute, const char* what, std::uint64_t length) {
  TV_Image& im = image();
  if (depth_ > kMaxDirectoryDepth) {
    out("\nWARNING: %s nested too deeply; not read.\n", what);
    return false;
  }
  if (im.directories >= kMaxDirectories) {
    out("\nWARNING: too many %ss in the file; the rest is not read.\n", what);
    return false;
  }
  if (!im.visited.insert({absolute, length}).second) {
    out("\nWARNING: %s at position %llu was read already; not read again.\n", what,
        static_cast<unsigned long long>(absolute));
    return false;
  }
  ++im.directories;
  return true;
}

bool TV_IFD::read(std::uint32_t offset) {
  if (offset & 1) return fail("Image File Directory offset not at word boundary");
  quiet_ = true;
  bool ok = read_entries(offset, "First", false, false);
  quiet_ = false;
  return ok;
}

bool TV_IFD::read_child(std::unique_ptr<TV_IFD>& child, std::uint32_t offset, const char* kind,
                        bool quick, bool macros) {
  child = std::make_unique<TV_IFD>(reader_, depth_ + 1);
  return child->read_all(offset, kind, quick, macros);
}

bool TV_IFD::read_all(std::uint32_t offset, const char* kind, bool quick, bool macros) {
  if (offset & 1) out("\nWARNING: Image File Directory offset not at word boundary.\n");
  std::uint64_t absolute = 0;
  if (!add_within(image().base, offset, UINT64_MAX, absolute)) return fail("Seek error - file may be short");
  if (!enter(absolute, "Image File Directory")) return true;
  if (!read_entries(offset, kind, quick, macros)) return false;

  const bool stop_after_exif = quick && exif_offset > 0;
  if (!stop_after_exif) {
    std::uint8_t b[4];
    std::uint64_t at = position + 2 + 12ull * entries;
    if (!source().seek(at) || source().read(b, 4) != 4)
      return fail("Read error - file may be short (reading Image File Directory offset)");
    std::uint32_t next_offset = get32(b, image().big_endian);
    if (next_offset == 0) {
      out("\nNext Image File Directory offset is zero\n");
    } else if (!read_child(next, next_offset, "Next", false, false)) {
      return false;
    }
  }
  if (exif_offset > 0 && !read_child(exif, exif_offset, "EXIF", false, macros)) return false;
  if (gps_offset > 0 && !read_child(gps, gps_offset, "GPS", false, false)) return false;
  if (!stop_after_exif) {
    out("\nNumber of Sub IFDs: %d\n", sub_ifd_count);
    for (int i = 0; i < sub_ifd_count; ++i)
      if (!read_child(sub_ifds[i], sub_ifd_offsets[i], "Sub", false, false)) return false;
    if (!xmp.empty()) out("\nXMP entry:\n%s\n", xmp.c_str());
  }
  return true;
}

bool TV_IFD::read_entries(std::uint32_t offset, const char* kind, bool quick, bool macros) {
  TV_Image& im = image();
  position = im.base + offset;
  if (!source().seek(position)) return fail("Seek error - file may be short");
  std::uint8_t b[2];
  if (source().read(b, 2) != 2) return fail("Read error - file may be short (reading entry count)");
  entries = get16(b, im.big_endian);
  out("\n%s Image File Directory at offset %d (%d entries)\n", kind, static_cast<int>(offset),
      static_cast<int>(entries));
  if (entries == 0) return fail("Image File Directory has no entries");

  // All entries in one read; a short read still lets the complete entries be used first.
  std::uint64_t avail = source().size() > position + 2 ? source().size() - position - 2 : 0;
  std::size_t want = 12u * entries;
  if (want > avail) want = static_cast<std::size_t>(avail);
  std::vector<std::uint8_t> block(want);
  std::size_t got = want ? source().read(block.data(), want) : 0;

  // A maker's own directory (CR3's maker notes) reuses tag numbers for other things: its tags
  // are shown by number.
  const TagTable* names = std::strcmp(kind, "GPS") == 0 ? &tag_def_GPS()
                          : std::strcmp(kind, kMakerNotesKind) == 0 ? nullptr
                                                                     : &tag_def();
  const int directory = !macros ? kFromOther : (std::strcmp(kind, "EXIF") == 0 ? kFromExif : kFromIFD0);
  std::uint16_t previous = 0;
  for (std::uint32_t i = 0; i < entries; ++i) {
    if (12u * (i + 1) > got) return fail("Read error - file may be short (reading entry)");
    const std::uint8_t* p = block.data() + 12u * i;
    Entry e{};
    e.tag = get16(p, im.big_endian);
    e.type = get16(p + 2, im.big_endian);
    e.count = get32(p + 4, im.big_endian);
    std::memcpy(e.raw, p + 8, 4);
    e.value_offset = get32(p + 8, im.big_endian);
    if (i > 0 && e.tag < previous) out("\nWARNING: Tags are out of order.\n");
    previous = e.tag;
    if (!read_entry(e, quick, macros, names, directory)) return false;
  }
  return true;
}

bool TV_IFD::fetch_value(const Entry& e, std::uint64_t want, std::vector<std::uint8_t>& data) {
  TV_Image& im = image();
  const std::uint64_t total = std::uint64_t{e.count} * kTypeSize[e.type];
  if (total <= 4) {
    data.assign(e.raw, e.raw + 4);
    return true;
  }
  if (e.value_offset & 1) out("\nWARNING: Image File Directory value offset not at word boundary.\n");
  std::uint64_t start = 0, end = 0;
  if (!add_within(im.base, e.value_offset, UINT64_MAX, start) || !source().seek(start))
    return fail("Seek error - file may be short");
  if (!add_within(start, total, source().size(), end))
    return fail("Read error - file may be short (reading value)");
  data.resize(static_cast<std::size_t>(want < total ? want : total));
  if (source().read(data.data(), data.size()) != data.size())
    return fail("Read error - file may be short (reading value)");
  return true;
}

bool TV_IFD::read_entry(const Entry& e, bool quick, bool macros, const TagTable* names,
                        int directory) {
  TV_Image& im = image();
  if (e.type < 1 || e.type > 12) {
    out("Unknown type = %d\n", static_cast<int>(e.type));
    return true;
  }
  const char* macro_name = nullptr;
  if (macros) {
    macro_name = tag_def_EXIF().find(e.tag);
    if (!macro_name && e.tag != 0x8769 && !im.record_all) return true;
  }
  const bool record = macros && (macro_name || im.record_all);
  const bool show = !macros && !quiet_ && reader_.printing();
  if (show && names) out("\t%s: ", names->name(e.tag).c_str());
  if (show && !names) out("\t[Tag 0x%04x]: ", static_cast<unsigned>(e.tag));
  if (e.count > kMaxValueCount) {
    if (show) out("[>5000000 values - not displayed]\n");
    return true;
  }

  const std::uint32_t size = kTypeSize[e.type];
  std::uint64_t want = e.type == kTypeAscii ? 1000 : std::uint64_t{kShownElements} * size;
  if (needs_whole_value(e.tag)) want = UINT64_MAX;
  std::vector<std::uint8_t> data;
  if (!fetch_value(e, want, data)) return false;

  if (show || record) {
    std::string text = format_value(e.type, e.count, data, im.big_endian);
    if (record) {
      trim_right(text);
      MacroPair pair;
      pair.name = macro_name ? macro_name : tag_def().name(e.tag);
      pair.value = std::move(text);
      pair.tag = e.tag;
      pair.type = e.type;
      pair.count = e.count;
      if (size == 1) pair.first_value = data.empty() ? 0 : data[0];
      else if (size == 2) pair.first_value = data.size() >= 2 ? get16(data.data(), im.big_endian) : 0;
      else if (data.size() >= 4) pair.first_value = get32(data.data(), im.big_endian);
      pair.directory = directory;
      im.add_pair(std::move(pair));
    } else {
      out("%s\n", text.c_str());
    }
  }
  return handle_tag(e, data, quick);
}

bool TV_IFD::handle_tag(const Entry& e, const std::vector<std::uint8_t>& data, bool quick) {
  TV_Image& im = image();
  const bool big = im.big_endian;
  const std::uint32_t size = kTypeSize[e.type];
  const std::uint64_t total = std::uint64_t{e.count} * size;
  const bool one_inline = e.count == 1 && total <= 4;
  auto number = [&](std::size_t i) -> std::uint32_t {
    const std::size_t at = i * size;
    if (at + size > data.size()) return 0;
    if (size == 1) return data[at];
    if (size == 2) return get16(data.data() + at, big);
    return get32(data.data() + at, big);
  };
  auto need_one_inline = [&](std::uint32_t& field) {
    if (!one_inline) return fail("Tag is missing value");
    field = number(0);
    return true;
  };

  switch (e.tag) {
    case 0x2e:
      rw2_preview_offset = e.value_offset;
      rw2_preview_size = total > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(total);
      return true;
    case 0xfe:
      out("\t\t(Subfile Type: %s)\n", subfile_type_text(number(0)));
      return true;
    case 0x100: return need_one_inline(image_width);
    case 0x101: return need_one_inline(image_length);
    case 0x102:
      if (one_inline) {
        bits_per_sample[0] = number(0);
        bits_per_sample_count = 1;
        return true;
      }
      if (e.count != 3) return fail("BitsPerSample has other than 1 or 3 values");
      if (e.type != kTypeShort) return fail("BitsPerSample has other than 16-bit values");
      for (int i = 0; i < 3; ++i) bits_per_sample[i] = number(static_cast<std::size_t>(i));
      bits_per_sample_count = 3;
      return true;
    case 0x103:
      if (!need_one_inline(compression)) return false;
      out("\t\t(Compression: %s)\n", compression_text(compression));
      return true;
    case 0x106: return need_one_inline(photometric);
    case 0x115: return need_one_inline(samples_per_pixel);
    case 0x116: return need_one_inline(rows_per_strip);
    case 0x10e:
      if (e.type == kTypeAscii) im.image_description = ascii_text(data, 999);
      return true;
    case 0x10f:
      if (e.type == kTypeAscii) im.make = ascii_text(data, 24);
      return true;
    case 0x110:
      if (e.type == kTypeAscii) im.model = ascii_text(data, 24);
      return true;
    case 0x111:
      if (e.type != kTypeShort && e.type != kTypeLong) return fail("StripOffsets type not 3 or 4");
      if (!quick) {
        strip_offsets.resize(e.count);
        for (std::uint32_t i = 0; i < e.count; ++i) strip_offsets[i] = number(i);
      }
      return true;
    case 0x112:
      im.orientation = number(0);
      out("\t\t(Orientation: %s)\n", orientation_text(im.orientation));
      return true;
    case 0x117:
      if (one_inline) strip_byte_counts = number(0);
      return true;
    case 0x132:
      if (e.type == kTypeAscii) im.date_time = ascii_text(data, 99);
      return true;
    case 0x14a:
      if (e.count > static_cast<std::uint32_t>(kMaxSubIFDs)) return fail("Too many SubIFDs");
      if (e.type != kTypeLong) return fail("SubIFD offset is not signed 32-bit number (type 4)");
      sub_ifd_count = static_cast<int>(e.count);
      for (std::uint32_t i = 0; i < e.count; ++i) sub_ifd_offsets[i] = number(i);
      return true;
    case 0x201:
    case 0x202:
      if (e.count != 1) return true;
      if (e.type != kTypeShort && e.type != kTypeLong)
        return fail(e.tag == 0x201 ? "JPEGInterchangeFormat type not 3 or 4"
                                   : "JPEGInterchangeFormatLength type not 3 or 4");
      (e.tag == 0x201 ? jpeg_offset : jpeg_length) = number(0);
      return true;
    case 700:
      if (!quick) xmp.assign(data.begin(), data.end());
      return true;
    case 0x83bb:
      if (!quiet_ && reader_.printing()) dump_iptc(data);
      return true;
    case 0x8769:
    case 0x8825:
      if (e.type != kTypeLong || e.count != 1)
        return fail(e.tag == 0x8769 ? "Exif_IFD is not type 4 and/or has more than one value"
                                    : "GPS_IFD is not type 4 and/or has more than one value");
      (e.tag == 0x8769 ? exif_offset : gps_offset) = number(0);
      return true;
    case 0x9004:
      if (e.type == kTypeAscii) im.date_time_digitized = ascii_text(data, 99);
      return true;
    case 0x9292:
      if (e.type == kTypeAscii) im.subsec_time_digitized = ascii_text(data, 19);
      return true;
    case 0xc612:
      dng = true;
      return true;
    default:
      return true;
  }
}

// IPTC datasets of tag 0x83bb: record version and keywords by name, the others by number.
void TV_IFD::dump_iptc(const std::vector<std::uint8_t>& data) {
  std::size_t i = 0;
  while (data.size() - i >= 5) {
    const std::uint8_t marker = data[i], record = data[i + 1], dataset = data[i + 2];
    const std::size_t length = static_cast<std::size_t>(data[i + 3] << 8 | data[i + 4]);
    i += 5;
    if (length > data.size() - i) break;
    if (record == 2 && dataset == 0 && length == 2) {
      out("\t\t\t\tRecord Version = %d\n", data[i] << 8 | data[i + 1]);
    } else if (record == 2 && dataset == 25) {
      std::string keyword(data.begin() + static_cast<std::ptrdiff_t>(i),
                          data.begin() + static_cast<std::ptrdiff_t>(i + length));
      out("\t\t\t\tKeyword: %s\n", keyword.c_str());
    } else {
      out("\t\t\ttag=%d rcd=%d ds=%d count=%u\n", marker, record, dataset,
          static_cast<unsigned>(length));
    }
    i += length;
  }
}

std::uint64_t TV_IFD::strip_size(std::size_t n) const {
  if (n >= strip_offsets.size()) return 0;
  const std::uint64_t bits = bits_per_sample_count > 0 ? bits_per_sample[0] : 0;
  std::uint64_t row_bits = 0, before = 0, size = 0;
  std::uint64_t rows = rows_per_strip;
  if (rows_per_strip == kRowsPerStripAbsent || rows > image_length) rows = image_length;
  // Sizes that do not fit are no strip at all (the values come from the file).
  if (__builtin_mul_overflow(std::uint64_t{samples_per_pixel} * bits, image_width, &row_bits) ||
      __builtin_mul_overflow(rows, std::uint64_t{n}, &before) || before >= image_length)
    return 0;
  if (image_length - before < rows) rows = image_length - before;
  if (__builtin_mul_overflow(row_bits / 8, rows, &size)) return 0;
  return size;
}

bool TV_IFD::read_strip(std::size_t n, std::vector<std::uint8_t>& out_bytes) {
  const std::uint64_t size = strip_size(n);
  std::uint64_t start = 0, end = 0;
  if (size == 0 || !add_within(image().base, strip_offsets[n], UINT64_MAX, start) ||
      !add_within(start, size, source().size(), end))
    return fail("Read error - file may be short (reading value)");
  const std::uint64_t bookmark = source().tell();
  if (!source().seek(start)) return fail("Seek error - file may be short");
  out_bytes.resize(static_cast<std::size_t>(size));
  if (source().read(out_bytes.data(), out_bytes.size()) != out_bytes.size())
    return fail("Read error - file may be short (reading value)");
  if (!source().seek(bookmark)) return fail("Seek error - file may be short (seeking to bookmark)");
  return true;
}

}  // namespace cw
