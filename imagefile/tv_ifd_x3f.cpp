// Reading Sigma X3F files: header, section directory and the PROP section.
#include "imagefile/tv_ifd_x3f.h"

#include <cstring>
#include <ctime>

namespace cw {
namespace {

constexpr std::size_t kX3fHeaderSize = 224;  // after the mark and the version
constexpr std::size_t kX3fEntrySize = 12;
constexpr std::size_t kPropHeaderSize = 24;
constexpr std::size_t kMaxPropertyText = 199;

constexpr const char* kAdjustLabels[] = {
    "Exposure adjust", "Contrast adjust", "Shadow adjust", "Highlight adjust",
    "Saturation adjust", "Sharpness adjust", "Color adjust red", "Color adjust green",
    "Color adjust blue", "X3 Fill Light adjust"};

// Property names and the macro names their values are recorded under.
struct PropertyMacro {
  const char* property;
  const char* macro;
};
constexpr PropertyMacro kPropertyMacros[] = {
    {"CAMMANUF", "Make"},          {"CAMMODEL", "Model"},
    {"ISO", "ISOSpeedRatings"},    {"FIRMVERS", "Software"},
    {"SH_DESC", "ShutterSpeedValue"}, {"AP_DESC", "FNumber"},
    {"FLENGTH", "FocalLength"},    {"WB_DESC", "WhiteBalance"},
    {"FLASH", "Flash"},
};

bool same_text(const std::string& a, const char* b) {
  return a.size() == std::strlen(b) && strncasecmp(a.c_str(), b, a.size()) == 0;
}

}  // namespace

bool TV_IFD_X3F::read(std::uint32_t) {
  out("TV_IFD_X3F::read not supported\n");
  return fail("TV_IFD_X3F::read not supported");
}

bool TV_IFD_X3F::read_header(std::uint32_t& directory_offset) {
  ByteSource& src = source();
  std::uint8_t v[4];
  std::uint8_t h[kX3fHeaderSize];
  if (!src.seek(4) || src.read(v, 4) != 4 || src.read(h, sizeof h) != sizeof h)
    return fail("Read error - file may be short (reading header)");
  const unsigned major = get16(v, false), minor = get16(v + 2, false);
  out("X3F\n");
  out("File Format Version: %d.%d\n", static_cast<int>(major), static_cast<int>(minor));
  out("Unique Identifier: ");
  for (int i = 0; i < 16; ++i) out("%02x", h[i]);
  out("\n");
  out("Image Columns: %d\n", static_cast<int>(get32(h + 20, false)));
  out("Image Rows: %d\n", static_cast<int>(get32(h + 24, false)));
  out("Rotation: %d\n", static_cast<int>(get32(h + 28, false)));
  if (major > 2 || (major == 2 && minor != 0)) {
    char label[33];
    std::memcpy(label, h + 32, 32);
    label[32] = 0;
    out("White Balance Label: %s\n", label);
    for (int i = 0; i < 32; ++i) {
      const unsigned type = h[64 + i];
      if (type < 1 || type > 10) continue;
      const std::uint32_t bits = get32(h + 96 + 4 * i, false);
      float f;
      std::memcpy(&f, &bits, sizeof f);
      out("%s: %f\n", kAdjustLabels[type - 1], static_cast<double>(f));
    }
  }
  std::uint8_t d[4];
  if (src.size() < 4 || !src.seek(src.size() - 4) || src.read(d, 4) != 4)
    return fail("Read error - file may be short (reading X3F DirectoryPointer)");
  directory_offset = get32(d, false);
  if (directory_offset == 0) return fail("Bad header - missing DirectoryPointer");
  return true;
}

bool TV_IFD_X3F::read_all(std::uint32_t offset, const char*, bool, bool macros) {
  ByteSource& src = source();
  out("Directoryoffset = %d\n", static_cast<int>(offset));
  if (!enter(offset, "X3F directory")) return true;
  position = offset;
  if (offset >= src.size() || !src.seek(offset))
    return fail("Seek error (Directory) - file may be short");
  std::uint8_t h[12];
  if (src.read(h, sizeof h) != sizeof h)
    return fail("Read error - file may be short (reading directory header)");
  const std::uint32_t count = get32(h + 8, false);
  out("Directory Section: %c%c%c%c\n", h[0], h[1], h[2], h[3]);
  out("Number of Entries: %d\n", static_cast<int>(count));
  std::uint32_t prop_offset = 0, prop_length = 0;
  bool have_prop = false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t e[kX3fEntrySize];
    if (src.read(e, sizeof e) != sizeof e)
      return fail("Read error - file may be short (reading directory entry)");
    const std::uint32_t entry_offset = get32(e, false), length = get32(e + 4, false);
    char type[5];
    std::memcpy(type, e + 8, 4);
    type[4] = 0;
    out("Entry %d: offset: %u; length: %u; type: %s\n", static_cast<int>(i),
        static_cast<unsigned>(entry_offset), static_cast<unsigned>(length), type);
    if (std::memcmp(type, "PROP", 4) == 0) {
      have_prop = true;
      prop_offset = entry_offset;
      prop_length = length;
    }
  }
  if (have_prop && prop_length > 0) return read_properties(prop_offset, prop_length, macros);
  return true;
}

bool TV_IFD_X3F::read_properties(std::uint32_t offset, std::uint32_t length, bool macros) {
  ByteSource& src = source();
  TV_Image& im = image();
  if (offset >= src.size() || !src.seek(offset))
    return fail("Seek error (PROP section) - file may be short");
  std::uint8_t h[kPropHeaderSize];
  if (src.read(h, sizeof h) != sizeof h)
    return fail("Read error - file may be short (reading PROP header)");
  const std::uint32_t n = get32(h + 8, false);
  const std::uint32_t chars = get32(h + 20, false);
  // The table and the characters must lie in the file; checked before anything is allocated.
  const std::uint64_t bytes = 8ull * n + 2ull * chars;
  std::uint64_t end = 0;
  if (!add_within(offset + std::uint64_t{kPropHeaderSize}, bytes, src.size(), end))
    return fail("Read error - file may be short (reading PROP data)");
  std::vector<std::uint8_t> data(static_cast<std::size_t>(bytes));
  if (!data.empty() && src.read(data.data(), data.size()) != data.size())
    return fail("Read error - file may be short (reading PROP data)");
  out("Number of Properties: %d; Property Table Size = %d; Block Size = %d\n",
      static_cast<int>(n), static_cast<int>(chars), static_cast<int>(length));
  const std::uint8_t* text = data.data() + 8ull * n;
  auto string_at = [&](std::uint32_t index) {
    std::string s;
    for (std::uint64_t i = index; i < chars && s.size() < kMaxPropertyText; ++i) {
      std::uint8_t low = text[2 * i];
      if (low == 0 && text[2 * i + 1] == 0) break;
      s.push_back(static_cast<char>(low));
    }
    return s;
  };
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t name_at = get32(data.data() + 8ull * i, false);
    const std::uint32_t value_at = get32(data.data() + 8ull * i + 4, false);
    const std::string name = string_at(name_at), value = string_at(value_at);
    out("Property %d: name offset %d; value offset %d\n", static_cast<int>(i),
        static_cast<int>(name_at), static_cast<int>(value_at));
    out("\t%s = %s\n", name.c_str(), value.c_str());
    if (same_text(name, "CAMMANUF")) im.make = value.substr(0, 24);
    if (same_text(name, "CAMMODEL")) im.model = value.substr(0, 24);
    if (!macros) continue;
    for (const PropertyMacro& pm : kPropertyMacros) {
      if (!same_text(name, pm.property)) continue;
      MacroPair p;
      p.name = pm.macro;
      p.value = value;
      im.add_pair(std::move(p));
    }
    if (same_text(name, "TIME")) {
      const std::time_t t = static_cast<std::time_t>(std::strtoll(value.c_str(), nullptr, 10));
      std::tm tm{};
      char stamp[32] = "";
      if (gmtime_r(&t, &tm)) std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", &tm);
      for (const char* macro : {"DateTimeOriginal", "DateTimeDigitized"}) {
        MacroPair p;
        p.name = macro;
        p.value = stamp;
        im.add_pair(std::move(p));
      }
    }
  }
  return true;
}

}  // namespace cw
