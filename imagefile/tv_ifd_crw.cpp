// Reading Canon CRW heaps: the directory at the block's end, values in the heap or in the
// entry, sub-heaps, and the few fields the program records (Make, Model, Artist, ISO, focal
// length, capture time).
#include "imagefile/tv_ifd_crw.h"

#include <algorithm>
#include <ctime>
#include <memory>
#include <span>

#include "imagefile/tag_tables.h"

namespace cw {
namespace {

constexpr std::uint32_t kCrwEntrySize = 10;
// Bytes of a heap value read for showing or recording it (long values are not needed whole).
constexpr std::uint32_t kMaxCrwValueBytes = 4096;
constexpr std::uint16_t kLocationHeap = 0, kLocationEntry = 1;

constexpr const char* kShotInfoNames[] = {
    "Size", "AutoISO", "BaseISO", "MeasuredEV", "TargetAperture", "TargetExposureTime",
    "ExposureCompensation", "WhiteBalance", "SlowShutter", "SequenceNumber", "OpticalZoomCode",
    "?", "?", "FlashGuideNumber", "AFPointsUsed2", "FlashExposureComp",
    "AutoExposureBracketing", "AEBBracketValue", "?", "FocusDistanceUpper",
    "FocusDistanceLower", "FNumber", "ExposureTime", "?", "BulbDuration", "?", "CameraType",
    "AutoRotate", "NDFilter"};
constexpr const char* kCameraSettingsNames[] = {
    "Size", "MacroMode", "Self-timer", "Quality", "CanonFlashMode", "ContinuousDrive", "?",
    "FocusMode", "?", "RecordMode", "CanonImageSize", "EasyMode", "DigitalZoom", "Contrast",
    "Saturation", "Sharpness", "CameraISO", "MeteringMode", "FocusRange", "AFPoint",
    "CanonExposureMode", "?", "LensType", "LongFocal", "ShortFocal", "FocalUnits",
    "MaxAperture", "MinAperture", "FlashActivity", "FlashBits", "?", "?", "FocusContinuous",
    "AESetting", "ImageStabilization", "DisplayAperture", "ZoomSourceWidth",
    "ZoomTargetWidth", "?", "?", "PhotoEffect", "?", "ColorTone"};
constexpr const char* kImageInfoNames[] = {"ImageWidth",       "ImageHeight ",
                                           "PixelAspectRatio", "Rotation",
                                           "ComponentBitDepth", "ColorBitDepth"};

std::string crw_string(const std::vector<std::uint8_t>& v, std::size_t from) {
  std::string s;
  for (std::size_t i = from; i < v.size() && v[i] != 0; ++i) s.push_back(static_cast<char>(v[i]));
  return s;
}

}  // namespace

bool TV_IFD_CRW::read(std::uint32_t) {
  out("TV_IFD_CRW::read not supported\n");
  return fail("TV_IFD_CRW::read not supported");
}

bool TV_IFD_CRW::read_all(std::uint32_t offset, const char* kind, bool quick, bool macros) {
  const std::uint64_t block = offset;
  if (!enter(block, "CRW heap", length_)) return true;
  position = block;
  ByteSource& src = source();
  std::uint8_t b[kCrwEntrySize];
  std::uint64_t end_field = 0;
  if (length_ < 4 || !add_within(block, length_ - 4u, src.size(), end_field) ||
      !src.seek(end_field))
    return fail("Seek error (to end of block) - file may be short");
  if (src.read(b, 4) != 4) return fail("Read error - file may be short (reading DirStart)");
  const std::uint32_t dir_start = get32(b, false);
  std::uint64_t dir = 0;
  if (!add_within(block, dir_start, src.size(), dir) || !src.seek(dir))
    return fail("Seek error (to DirStart) - file may be short");
  if (src.read(b, 2) != 2) return fail("Read error - file may be short (reading num_entries)");
  entries = get16(b, false);
  out("\n%s Directory Block at offset %d (%d entries)\n", kind, static_cast<int>(offset),
      static_cast<int>(entries));

  for (std::uint32_t i = 0; i < entries; ++i) {
    if (src.read(b, kCrwEntrySize) != kCrwEntrySize)
      return fail("Read error - file may be short (reading directory entry)");
    const std::uint16_t tag = get16(b, false);
    const std::uint32_t size = get32(b + 2, false);
    const std::uint32_t value_offset = get32(b + 6, false);
    const std::uint16_t location = tag >> 14;
    const std::uint16_t data_type = tag & 0x3800;
    const std::uint16_t id = tag & 0x3fff;
    if (location != kLocationHeap && location != kLocationEntry)
      return fail("Read error - invalid DataLocation value");
    const std::uint64_t bookmark = src.tell();
    std::uint64_t value_start = 0;
    const bool in_file = add_within(block, value_offset, UINT64_MAX, value_start);

    if (location == kLocationHeap && (data_type == 0x2800 || data_type == 0x3000)) {
      TV_IFD_CRW child(reader_, depth_ + 1, size);
      if (!in_file) return fail("Seek error (for value) - file may be short");
      if (value_start > UINT32_MAX) return fail("Seek error (for value) - file may be short");
      if (!child.read_all(static_cast<std::uint32_t>(value_start), tag_def_CRW().name(id).c_str(),
                          quick, macros))
        return false;
      if (!src.seek(bookmark)) return fail("Seek error (returning) - file may be short");
      continue;
    }

    // The camera's thumbnail (0x2008) and its large JPEG (0x2007) are the file's previews,
    // kept smallest first as the preview choice expects.
    std::uint64_t value_end = 0;
    if (location == kLocationHeap && (id == 0x2007 || id == 0x2008) && in_file && size > 2 &&
        add_within(value_start, size, src.size(), value_end)) {
      auto preview = std::make_unique<TV_IFD>(reader_, depth_ + 1);
      preview->embedded_jpeg_position = value_start;
      preview->embedded_jpeg_length = size;
      auto& previews = image().previews;
      const auto at = std::find_if(previews.begin(), previews.end(), [&](const auto& d) {
        return d->embedded_jpeg_length > size;
      });
      previews.insert(at, std::move(preview));
    }

    std::vector<std::uint8_t> value;
    std::uint32_t value_size = size;
    if (location == kLocationEntry) {
      value.assign(b + 2, b + kCrwEntrySize);
      value_size = 8;
    } else {
      const std::uint32_t want = size < kMaxCrwValueBytes ? size : kMaxCrwValueBytes;
      std::uint64_t value_end = 0;
      if (!in_file || !src.seek(value_start))
        return fail("Seek error (for value) - file may be short");
      if (!add_within(value_start, want, src.size(), value_end))
        return fail("Read error - file may be short (reading value)");
      value.resize(want);
      if (want && src.read(value.data(), want) != want)
        return fail("Read error - file may be short (reading value)");
      if (!src.seek(bookmark)) return fail("Seek error (returning) - file may be short");
    }
    if (!handle(id, value, value_size, macros)) return false;
  }
  return true;
}

bool TV_IFD_CRW::handle(std::uint16_t id, const std::vector<std::uint8_t>& v,
                        std::uint32_t size, bool macros) {
  TV_Image& im = image();
  const std::string name = tag_def_CRW().name(id);
  auto u16 = [&](std::size_t i) -> unsigned { return 2 * i + 2 <= v.size() ? get16(v.data() + 2 * i, false) : 0; };
  auto u32 = [&](std::size_t i) -> std::uint32_t { return 4 * i + 4 <= v.size() ? get32(v.data() + 4 * i, false) : 0; };
  auto record = [&](const char* pair_name, std::string value) {
    if (!macros) return;
    MacroPair p;
    p.name = pair_name;
    p.value = std::move(value);
    im.add_pair(std::move(p));
  };
  auto print_elements = [&](std::span<const char* const> names, bool wide) {
    out("\t\t%s (size=%d):\n", name.c_str(), static_cast<int>(size));
    const std::size_t n = v.size() / (wide ? 4 : 2);
    for (std::size_t i = 0; i < n; ++i)
      out("\t\t\t%s: %d\n", i < names.size() ? names[i] : "?",
          wide ? static_cast<int>(u32(i)) : static_cast<int>(static_cast<std::int16_t>(u16(i))));
  };

  switch (id) {
    case 0x80a: {
      std::string make = crw_string(v, 0);
      std::string model = crw_string(v, make.size() + 1);
      out("\t\t%s: %s - %s\n", name.c_str(), make.c_str(), model.c_str());
      im.make = make.substr(0, 24);
      im.model = model.substr(0, 24);
      record("Make", make);
      record("Model", model);
      return true;
    }
    case 0x810:
      record("Artist", crw_string(v, 0));
      [[fallthrough]];
    case 0x805: case 0x80b: case 0x80c: case 0x80d: case 0x815: case 0x816: case 0x817:
      out("\t\t%s: %s\n", name.c_str(), crw_string(v, 0).c_str());
      return true;
    case 0x101c: {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%d", static_cast<int>(u16(0)));
      out("\t\t%s: %d\n", name.c_str(), static_cast<int>(u16(0)));
      record("ISOSpeedRatings", buf);
      return true;
    }
    case 0x1010: case 0x1011: case 0x1016: case 0x100a: case 0x10ae: case 0x10b4:
      out("\t\t%s: %d\n", name.c_str(), static_cast<int>(u16(0)));
      return true;
    case 0x1028:
    case 0x1029:
      out("\t\t%s: %d %d %d %d\n", name.c_str(), static_cast<int>(u16(0)),
          static_cast<int>(u16(1)), static_cast<int>(u16(2)), static_cast<int>(u16(3)));
      if (id == 0x1029) record("FocalLength", std::to_string(u16(1)));
      return true;
    case 0x102a: print_elements(kShotInfoNames, false); return true;
    case 0x102d: print_elements(kCameraSettingsNames, false); return true;
    case 0x1810: print_elements(kImageInfoNames, true); return true;
    case 0x180e: {
      const std::time_t seconds = static_cast<std::time_t>(u32(0));
      std::tm tm{};
      char date[32] = "";
      if (gmtime_r(&seconds, &tm)) std::strftime(date, sizeof date, "%Y:%m:%d %H:%M:%S", &tm);
      out("\t\t%s (size=%d):\n", name.c_str(), static_cast<int>(size));
      out("\t\t\tDateTimeOriginal: %s\n", date);
      out("\t\t\tTimeZoneCode: %d\n", static_cast<int>(u32(1)));
      out("\t\t\tTimeZoneInfo: %u\n", static_cast<unsigned>(u32(2)));
      record("DateTimeOriginal", date);
      return true;
    }
    case 0x1806: case 0x1807: case 0x180b: case 0x1814: case 0x1817: case 0x1834: case 0x183b:
      out("\t\t%s: %u\n", name.c_str(), static_cast<unsigned>(u32(0)));
      return true;
    default:
      out("\t%s: size=%u\n", name.c_str(), static_cast<unsigned>(size));
      return true;
  }
}

}  // namespace cw
