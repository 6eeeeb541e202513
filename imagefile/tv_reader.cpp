// Opening a camera file and locating its TIFF header: plain TIFF, JPEG/JFIF with an EXIF
// segment, JPEG in EXIF form, FUJIFILM RAF (TIFF at 160), Minolta MRW (the TTW block), and
// the hand-over to the CRW and X3F containers.
#include "imagefile/tv_reader.h"

#include <cstdio>
#include <cstring>

#include "imagefile/tv_ifd_crw.h"
#include "imagefile/tv_ifd_x3f.h"
#include "platform/camera_source.h"

namespace cw {

namespace {
constexpr std::uint64_t kFujiTiffPosition = 160;
constexpr std::uint32_t kTiffMagic = 42;
}  // namespace

std::string reader_extension(const std::string& path) {
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos) return "jpg";
  std::string ext = path.substr(dot + 1, 3);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

TV_Reader::TV_Reader(bool prefer_largest) : prefer_largest_(prefer_largest) {}
TV_Reader::~TV_Reader() = default;

void TV_Reader::print(const char* fmt, ...) {
  if (!print_) return;
  va_list ap;
  va_start(ap, fmt);
  vprint(fmt, ap);
  va_end(ap);
}

void TV_Reader::vprint(const char* fmt, va_list ap) {
  if (!print_) return;
  // One buffer per reader (not on the stack: the dump prints many small pieces).
  print_buffer_.resize(kPrintPieceLimit);
  const int n = std::vsnprintf(print_buffer_.data(), print_buffer_.size(), fmt, ap);
  if (n < 0) return;
  const std::size_t len = static_cast<std::size_t>(n) < print_buffer_.size()
                              ? static_cast<std::size_t>(n)
                              : print_buffer_.size() - 1;
  print_(std::string_view(print_buffer_.data(), len));
}

void TV_Reader::close_source() { source_.reset(); }

bool TV_Reader::start(std::unique_ptr<ByteSource> source, const std::string& path,
                      bool record_all) {
  message_ = "";
  image_.reset();
  source_ = std::move(source);
  if (!source_) return fail("Can't open file");
  extension_ = reader_extension(path);
  clip_path_.clear();
  image_ = std::make_unique<TV_Image>();
  image_->record_all = record_all;
  return true;
}

bool TV_Reader::open(const std::string& path, bool quick, bool macros, bool record_all) {
  close_source();
  if (!start(open_byte_source(path, cameras_), path, record_all)) return false;
  if (!is_camera_path(path)) clip_path_ = path;
  return read_file(quick, macros);
}

bool TV_Reader::open_bytes(std::string bytes, const std::string& name, bool quick, bool macros,
                           bool record_all) {
  close_source();
  if (!start(make_buffer_source(std::move(bytes)), name, record_all)) return false;
  return read_file(quick, macros);
}

bool TV_Reader::read_file(bool quick, bool macros) {
  ByteSource& src = *source_;
  TV_Image& im = *image_;
  std::uint8_t h[8];
  if (src.read(h, 8) != 8) return fail("Read error - file may be short (reading header)");

  if (std::memcmp(h, "FUJIFILM", 8) == 0) {
    print("FUJIFILM RAF: TIFF structure at offset %d\n", static_cast<int>(kFujiTiffPosition));
    if (!src.seek(kFujiTiffPosition)) return fail("seek error");
    if (src.read(h, 8) != 8) return fail("Read error - FUJI file may be short (reading header)");
    im.base = kFujiTiffPosition;
    return read_tiff_header(h, quick, macros);
  }

  if (h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF && h[3] == 0xE0 && h[6] == 'J' &&
      h[7] == 'F') {
    im.jpeg = true;
    std::uint8_t a[20];
    std::memcpy(a, h, 8);
    if (src.read(a + 8, 12) != 12) return fail("Read error - file may be short (reading header)");
    const unsigned app0_length = static_cast<unsigned>(a[4] << 8 | a[5]);
    print("JPEG/JFIF (not TIFF compatible)\n");
    print("\tHeader length: %u\n", app0_length);
    print("\tVersion: %u.%u\n", unsigned{a[11]}, unsigned{a[12]});
    print("\tUnits: %u\n", unsigned{a[13]});
    print("\tXdensity: %u\n", static_cast<unsigned>(a[14] << 8 | a[15]));
    print("\tYdensity: %u\n", static_cast<unsigned>(a[16] << 8 | a[17]));
    print("\tXthumbnail: %u\n", unsigned{a[18]});
    print("\tYthumbnail: %u\n", unsigned{a[19]});
    // Walk the segments after APP0 looking for the EXIF APP1 segment.
    std::uint64_t pos = app0_length + 4u;
    for (int i = 0; i < kMaxJpegSegments; ++i) {
      std::uint8_t s[10];
      if (!src.seek(pos) || src.read(s, 10) != 10) break;
      if (s[0] == 0xFF && s[1] == 0xE1 && std::memcmp(s + 4, "Exif", 4) == 0) {
        im.base = pos + 10;
        if (src.read(h, 8) != 8) return fail("Read error - file may be short (reading header)");
        return read_tiff_header(h, quick, macros);
      }
      if (s[5] == 0) break;
      pos += 2u + static_cast<unsigned>(s[2] << 8 | s[3]);
    }
    if (quick) return true;  // a JFIF file without EXIF has no values to give
    return read_tiff_header(h, quick, macros);
  }

  if (h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF && h[3] == 0xE1 && h[6] == 'E' &&
      h[7] == 'x') {
    im.jpeg = true;
    print("JPEG in EXIF format\n");
    print("\tLength in EXIF header: @4=0x%lx @5=0x%lx (%ld or %ld)\n",
          static_cast<unsigned long>(h[4]), static_cast<unsigned long>(h[5]),
          static_cast<long>(h[4] << 8 | h[5]), static_cast<long>(h[5] << 8 | h[4]));
    std::uint8_t rest[4];
    if (src.read(rest, 4) != 4 || std::memcmp(rest, "if\0\0", 4) != 0)
      return fail("Bad header - doesn't start with recognizable markers");
    if (src.read(h, 8) != 8) return fail("Read error - file may be short (reading header)");
    im.base = 12;
    return read_tiff_header(h, quick, macros);
  }

  if (h[0] == 0x00 && h[1] == 0x4D && h[2] == 0x52 && h[3] == 0x4D) {
    print("Minolta MRW\n");
    std::uint64_t pos = 8;
    for (int i = 0; i < kMaxMrwBlocks; ++i) {
      std::uint8_t b[8];
      if (!src.seek(pos) || src.read(b, 8) != 8) return fail("read error");
      if (std::memcmp(b, "\0TTW", 4) == 0) {
        im.base = pos + 8;
        if (src.read(h, 8) != 8) return fail("read error");
        return read_tiff_header(h, quick, macros);
      }
      if (!add_within(pos, 8ull + get32(b + 4, true), src.size(), pos)) return fail("read error");
    }
    return fail("read error");
  }

  if (std::memcmp(h + 4, "ftyp", 4) == 0) return read_bmff(quick, macros);
  // AVCHD streams are 192-byte packets: a 4-byte time code, then the 0x47 sync byte.
  if (h[4] == 0x47 && (extension_ == "mts" || extension_ == "m2t")) return read_avchd(quick, macros);
  if (std::memcmp(h, "II\x1a\0\0\0HE", 8) == 0) return read_crw(quick, macros);
  if (std::memcmp(h, "FOVb", 4) == 0) return read_x3f(quick, macros);
  return read_tiff_header(h, quick, macros);
}

bool TV_Reader::read_tiff_header(const std::uint8_t h[8], bool quick, bool macros) {
  TV_Image& im = *image_;
  if (h[0] == 0x4D && h[1] == 0x4D) im.big_endian = true;
  else if ((h[0] == 0x49 && h[1] == 0x49) || (h[0] == 0x4D && h[1] == 0x49)) im.big_endian = false;
  else return fail("Bad header - invalid byte-order designation");
  print("Byte order: %s\n", im.big_endian ? "big endian (MM)" : "little endian (II)");
  const std::uint32_t magic = get16(h + 2, im.big_endian);
  if (magic != kTiffMagic) print("Magic number (%d) not TIFF standard\n", static_cast<int>(magic));
  const std::uint32_t offset = get32(h + 4, im.big_endian);
  if (offset == 0) return fail("Bad header - missing Image File Directory");
  im.root = std::make_unique<TV_IFD>(*this, 0);
  return im.root->read_all(offset, "First", quick, macros);
}

bool TV_Reader::read_crw(bool quick, bool macros) {
  TV_Image& im = *image_;
  im.big_endian = false;
  std::uint8_t h[8];
  if (!source_->seek(0) || source_->read(h, 8) != 8)
    return fail("Read error - file may be short (reading header)");
  const std::uint32_t header_length = get32(h + 2, false);
  print("Canon CRW\n\tHeader length: %u\n", header_length);
  const std::uint64_t size = source_->size();
  if (header_length >= size) return fail("Read error - file may be short (reading header)");
  auto root = std::make_unique<TV_IFD_CRW>(*this, 0, static_cast<std::uint32_t>(
                                                         size - header_length > UINT32_MAX
                                                             ? UINT32_MAX
                                                             : size - header_length));
  TV_IFD_CRW* crw = root.get();
  im.root = std::move(root);
  return crw->read_all(header_length, "First", quick, macros);
}

bool TV_Reader::read_x3f(bool quick, bool macros) {
  TV_Image& im = *image_;
  im.big_endian = false;
  auto root = std::make_unique<TV_IFD_X3F>(*this, 0);
  TV_IFD_X3F* x3f = root.get();
  im.root = std::move(root);
  std::uint32_t directory_offset = 0;
  if (!x3f->read_header(directory_offset)) return false;
  return x3f->read_all(directory_offset, "First", quick, macros);
}

}  // namespace cw
