// XMP inside JPEG files (see jpeg_xmp.h).
//
// The merge copies the JPEG's head segment by segment into "<path>-cwtmp", leaving out any old
// XMP packet, puts the sidecar's packet right before the first table, frame header or EOI
// marker, and copies the rest unchanged. Only a complete, synced new file replaces the JPEG,
// by a rename over it, so a crash or a full disk at any point leaves the original intact.
#include "metadata/jpeg_xmp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include "foundation/log.h"
#include "foundation/md5.h"
#include "foundation/sysio.h"
#include "foundation/text.h"

namespace cw {
namespace {

constexpr unsigned char kSOI = 0xD8, kEOI = 0xD9, kSOS = 0xDA, kAPP1 = 0xE1;
constexpr std::size_t kCopyBlock = 65536;

// The segment before which the XMP packet goes: a frame header (SOFn), DHT, DQT or EOI.
bool is_insertion_point(int marker) {
  switch (marker) {
    case 0xC0: case 0xC1: case 0xC2: case 0xC3: case 0xC5: case 0xC6: case 0xC7:
    case 0xC9: case 0xCA: case 0xCB: case 0xCD: case 0xCE: case 0xCF:
    case 0xC4: case 0xDB: case kEOI:
      return true;
    default:
      return false;
  }
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void put16(std::string& s, unsigned v) {
  s += static_cast<char>((v >> 8) & 0xFF);
  s += static_cast<char>(v & 0xFF);
}
void put32(std::string& s, std::uint32_t v) {
  put16(s, v >> 16);
  put16(s, v & 0xFFFF);
}

// An APP1 segment: marker, length, then the payload.
std::string app1(const std::string& payload) {
  std::string segment = "\xFF\xE1";
  put16(segment, static_cast<unsigned>(payload.size() + 2));
  return segment + payload;
}

std::string main_payload(const std::string& packet) {
  return std::string(kXmpNamespaceId, kXmpNamespaceIdLength) + '\0' + packet;
}

// The packet without its xpacket processing instructions (the wrapper a packet has in a file
// of its own, which the extended part goes without).
std::string without_wrapper(const std::string& packet) {
  std::string out = packet;
  for (std::size_t at; (at = out.find("<?xpacket")) != std::string::npos;) {
    const std::size_t end = out.find("?>", at);
    if (end == std::string::npos) break;
    out.erase(at, end + 2 - at);
  }
  const std::size_t first = out.find_first_not_of(" \t\r\n");
  const std::size_t last = out.find_last_not_of(" \t\r\n");
  return first == std::string::npos ? std::string() : out.substr(first, last + 1 - first);
}

// The main packet of an extended one: nothing but the GUID of its extended part.
std::string main_packet_naming(const std::string& guid) {
  return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
         " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
         "  <rdf:Description rdf:about=\"\"\n"
         "    xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\"\n"
         "   xmpNote:HasExtendedXMP=\"" + guid + "\"/>\n"
         " </rdf:RDF>\n"
         "</x:xmpmeta>\n"
         "<?xpacket end=\"w\"?>";
}

bool starts_with(const std::string& payload, const char* id, std::size_t length) {
  return payload.size() >= length && payload.compare(0, length, id) == 0;
}

// The value of HasExtendedXMP in a main packet: 32 hexadecimal digits, or empty.
std::string extended_guid(const std::string& packet) {
  const std::size_t at = packet.find("HasExtendedXMP");
  if (at == std::string::npos) return "";
  std::size_t p = at + 14;
  while (p < packet.size() && (packet[p] == '=' || packet[p] == ' ' || packet[p] == '>')) ++p;
  if (p < packet.size() && (packet[p] == '"' || packet[p] == '\'')) ++p;
  if (p + 32 > packet.size()) return "";
  const std::string guid = packet.substr(p, 32);
  return guid.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos ? guid : "";
}

bool read_whole(std::FILE* f, std::string& text) {
  char block[4096];
  std::size_t n;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0) text.append(block, n);
  return !std::ferror(f);
}

// One merge: the open streams and the paths; the temporary file is removed unless it has
// been renamed over the JPEG.
class Merge {
 public:
  Merge(const std::string& jpeg, SidecarAfterMerge after)
      : jpeg_(jpeg), temp_(jpeg + "-cwtmp"), after_(after) {
    if (jpeg.size() > 4) xmp_ = jpeg.substr(0, jpeg.size() - 4) + ".xmp";
  }
  ~Merge() {
    out_.reset();
    if (temp_created_) unlink(temp_.c_str());
  }
  Merge(const Merge&) = delete;
  Merge& operator=(const Merge&) = delete;

  bool run();

 private:
  bool fail(const std::string& message) {
    ui_print(message);
    return false;
  }
  bool premature() { return fail("\n\nPremature EOF in JPEG file"); }
  bool write_error() { return fail("\n\nwrite error - possibly out of space"); }
  bool write(const void* data, std::size_t n) {
    return std::fwrite(data, 1, n, out_.get()) == n || write_error();
  }
  bool write(const std::string& s) { return write(s.data(), s.size()); }
  bool read_length(unsigned& length);
  bool copy_bytes(std::size_t n);
  bool copy_head(int& insertion_marker);
  bool finish_output();
  bool replace_jpeg();

  std::string jpeg_, temp_, xmp_;
  SidecarAfterMerge after_;
  File in_, out_;
  bool temp_created_ = false;
};

bool Merge::read_length(unsigned& length) {
  const int hi = std::getc(in_.get()), lo = std::getc(in_.get());
  if (hi == EOF || lo == EOF) return premature();
  length = (static_cast<unsigned>(hi) << 8) | static_cast<unsigned>(lo);
  if (length < 2) return fail("\n\nErroneous JPEG marker length");
  return true;
}

bool Merge::copy_bytes(std::size_t n) {
  char block[4096];
  while (n > 0) {
    const std::size_t want = n < sizeof block ? n : sizeof block;
    if (std::fread(block, 1, want, in_.get()) != want) return premature();
    if (!write(block, want)) return false;
    n -= want;
  }
  return true;
}

// Copies the segments before the insertion point (dropping old XMP packets, their extended
// parts and empty APP1 segments) and returns the insertion point's marker, which is not written yet.
bool Merge::copy_head(int& insertion_marker) {
  std::FILE* in = in_.get();
  for (;;) {
    int c = std::getc(in);
    if (c == EOF) return premature();
    if (c != 0xFF) return fail("\n\ngarbage data found in JPEG file\n");
    do c = std::getc(in);
    while (c == 0xFF);
    if (c == EOF) return premature();
    if (is_insertion_point(c)) {
      insertion_marker = c;
      return true;
    }
    if (c == kSOS) return fail("\n\nSOS without prior SOFn");
    unsigned length = 0;
    if (!read_length(length)) return false;
    const unsigned char marker_head[4] = {0xFF, static_cast<unsigned char>(c),
                                          static_cast<unsigned char>(length >> 8),
                                          static_cast<unsigned char>(length & 0xFF)};
    if (c != kAPP1) {
      if (!write(marker_head, 4) || !copy_bytes(length - 2)) return false;
      continue;
    }
    if (length == 2) continue;  // an empty APP1 is dropped
    std::string payload(length - 2, '\0');
    if (std::fread(payload.data(), 1, payload.size(), in) != payload.size()) return premature();
    const bool old_xmp = starts_with(payload, kXmpNamespaceId, kXmpNamespaceIdLength) ||
                         starts_with(payload, kXmpExtensionId, kXmpExtensionIdLength);
    if (!old_xmp && (!write(marker_head, 4) || !write(payload))) return false;
  }
}

// Flushes the new file to the disk and closes it; only then may it replace the JPEG.
bool Merge::finish_output() {
  std::FILE* out = out_.release();
  bool ok = std::fflush(out) == 0 && sysio().fsync(fileno(out)) == 0;
  ok = (std::fclose(out) == 0) && ok;
  return ok || write_error();
}

bool Merge::replace_jpeg() {
  struct stat st {};
  if (stat(jpeg_.c_str(), &st) != 0)
    return fail(format_limited(1000, "\n\ncan't get stat of %s", jpeg_.c_str()));
  chmod(temp_.c_str(), st.st_mode & 07777);
  if (rename(temp_.c_str(), jpeg_.c_str()) != 0)
    return fail(format_limited(1000, "\n\ncan't rename %s to %s", temp_.c_str(), jpeg_.c_str()));
  temp_created_ = false;
  // Make the rename itself durable.
  const std::string::size_type slash = jpeg_.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : jpeg_.substr(0, slash + 1);
  const int dir_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir_fd >= 0) {
    fsync(dir_fd);
    close(dir_fd);
  }
  const struct timespec times[2] = {st.st_mtim, st.st_mtim};
  if (utimensat(AT_FDCWD, jpeg_.c_str(), times, 0) != 0)
    ui_printf("\n\nWARNING: Failed to set modification time for %s\n", jpeg_.c_str());
  if (after_ == SidecarAfterMerge::kDelete && unlink(xmp_.c_str()) != 0)
    return fail(format_limited(1000, "\n\ncan't unlink %s", xmp_.c_str()));
  return true;
}

bool Merge::run() {
  struct stat st {};
  if (xmp_.empty() || stat(xmp_.c_str(), &st) != 0) return true;  // no sidecar: nothing to do
  if (stat(jpeg_.c_str(), &st) != 0) return fail("\n\nJPG or XMP file does not exist");
  in_.reset(std::fopen(jpeg_.c_str(), "rb"));
  if (!in_) return fail(format_limited(1000, "\n\ncan't open %s", jpeg_.c_str()));
  File xmp_file(std::fopen(xmp_.c_str(), "r"));
  if (!xmp_file) return fail(format_limited(1000, "\n\ncan't open %s", xmp_.c_str()));
  std::string packet;
  if (!read_whole(xmp_file.get(), packet)) return fail("\n\nError reading fileXMP");
  xmp_file.reset();
  const std::string segments = xmp_app1_segments(packet);
  if (!packet.empty() && segments.empty())
    return fail(format_limited(1000, "\n\nXMP file %s is too large for a JPEG (%zu bytes)",
                               xmp_.c_str(), packet.size()));

  if (std::getc(in_.get()) != 0xFF || std::getc(in_.get()) != kSOI)
    return fail("\n\nExpected SOI marker first");
  const int fd = open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) return fail(format_limited(1000, "\n\ncan't open %s", temp_.c_str()));
  temp_created_ = true;
  out_.reset(fdopen(fd, "wb"));
  if (!out_) {
    close(fd);
    return fail(format_limited(1000, "\n\ncan't open %s", temp_.c_str()));
  }
  if (!write("\xFF\xD8", 2)) return false;
  int insertion_marker = 0;
  if (!copy_head(insertion_marker)) return false;

  log_printf("Merging %s into %s\n", xmp_.c_str(), jpeg_.c_str());
  if (!write(segments)) return false;
  const unsigned char marker[2] = {0xFF, static_cast<unsigned char>(insertion_marker)};
  if (!write(marker, 2)) return false;
  std::vector<char> block(kCopyBlock);
  std::size_t n;
  while ((n = std::fread(block.data(), 1, block.size(), in_.get())) > 0)
    if (!write(block.data(), n)) return false;
  if (std::ferror(in_.get()))
    return fail(format_limited(1000, "\n\nread error in %s", jpeg_.c_str()));
  in_.reset();
  return finish_output() && replace_jpeg();
}

// ---- The writer's EXIF segment ----

enum : std::uint16_t { kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kSRational = 10 };
constexpr std::uint16_t kExifPointer = 0x8769, kGpsPointer = 0x8825;

// Entries that locate data in the raw file; in the new file they would point at nothing.
bool is_location_tag(std::uint16_t tag) {
  switch (tag) {
    case 0x0111: case 0x0117: case 0x0144: case 0x0145: case 0x014A: case 0x0201:
    case 0x0202: case kExifPointer: case 0xA005:
      return true;
    default:
      return false;
  }
}

// Rationals as the reader formats them: "num/den" (or a plain number), several separated by
// spaces or commas.
std::string encode_rationals(const std::string& text, bool is_signed, std::uint32_t& count) {
  std::string data;
  count = 0;
  const char* p = text.c_str();
  for (;;) {
    while (*p == ' ' || *p == ',') ++p;
    if (!*p) break;
    char* end = nullptr;
    const long long num = std::strtoll(p, &end, 10);
    if (end == p) break;
    long long den = 1;
    p = end;
    if (*p == '/') {
      den = std::strtoll(p + 1, &end, 10);
      if (end == p + 1) break;
      p = end;
    }
    if (!is_signed && (num < 0 || den < 0)) break;
    put32(data, static_cast<std::uint32_t>(num));
    put32(data, static_cast<std::uint32_t>(den));
    ++count;
  }
  return data;
}

struct OutEntry {
  const RecordedExifEntry* source;  // null for the EXIF IFD pointer
  std::uint16_t tag, type;
  std::uint32_t count;
  std::string data;  // big-endian value bytes
};

std::optional<OutEntry> encode_entry(const RecordedExifEntry& e) {
  OutEntry out{&e, e.tag, e.type, e.count, {}};
  switch (e.type) {
    case kAscii:
      if (e.value.empty()) return std::nullopt;
      out.data = e.value + '\0';
      out.count = static_cast<std::uint32_t>(out.data.size());
      return out;
    case kShort:
      if (e.count != 1) return std::nullopt;
      put16(out.data, e.first_value);
      return out;
    case kLong:
      if (e.count != 1) return std::nullopt;
      put32(out.data, e.first_value);
      return out;
    case kRational:
    case kSRational:
      out.data = encode_rationals(e.value, e.type == kSRational, out.count);
      if (out.count == 0) return std::nullopt;
      return out;
    default:
      return std::nullopt;
  }
}

// Appends one directory at the current end of `tiff` with its out-of-entry values after it.
void append_directory(std::string& tiff, std::vector<OutEntry>& entries) {
  const std::size_t dir_pos = tiff.size();
  std::size_t value_pos = dir_pos + 2 + 12 * entries.size() + 4;
  std::string dir, values;
  put16(dir, static_cast<unsigned>(entries.size()));
  for (const OutEntry& e : entries) {
    put16(dir, e.tag);
    put16(dir, e.type);
    put32(dir, e.count);
    if (e.data.size() <= 4) {
      dir += e.data + std::string(4 - e.data.size(), '\0');
    } else {
      put32(dir, static_cast<std::uint32_t>(value_pos + values.size()));
      values += e.data;
      if (values.size() & 1) values += '\0';
    }
  }
  put32(dir, 0);
  tiff += dir + values;
}

std::uint32_t get32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int k = 0; k < 4; ++k) v = (v << 8) | static_cast<unsigned char>(s[at + k]);
  return v;
}

}  // namespace

std::string xmp_app1_segments(const std::string& packet) {
  if (packet.empty()) return "";
  if (packet.size() <= kMaxXmpPacket) return app1(main_payload(packet));
  const std::string extended = without_wrapper(packet);
  if (extended.size() > UINT32_MAX) return "";
  const std::string guid = md5_hex_upper(extended);
  std::string out = app1(main_payload(main_packet_naming(guid)));
  for (std::size_t offset = 0; offset < extended.size(); offset += kMaxXmpExtensionChunk) {
    std::string payload(kXmpExtensionId, kXmpExtensionIdLength);
    payload += '\0';
    payload += guid;
    put32(payload, static_cast<std::uint32_t>(extended.size()));
    put32(payload, static_cast<std::uint32_t>(offset));
    payload.append(extended, offset, kMaxXmpExtensionChunk);
    out += app1(payload);
  }
  return out;
}

std::optional<JpegXmpPackets> read_jpeg_xmp(const std::string& jpeg_path) {
  File in(std::fopen(jpeg_path.c_str(), "rb"));
  if (!in || std::getc(in.get()) != 0xFF || std::getc(in.get()) != kSOI) return std::nullopt;
  std::optional<std::string> main;
  // Extension pieces by GUID: the full length and the pieces by offset.
  struct Pieces {
    std::uint32_t length = 0;
    std::map<std::uint32_t, std::string> at;
  };
  std::map<std::string, Pieces> pieces;
  for (;;) {
    int c = std::getc(in.get());
    if (c != 0xFF) break;
    do c = std::getc(in.get());
    while (c == 0xFF);
    if (c == EOF || c == kSOS || c == kEOI) break;
    const int hi = std::getc(in.get()), lo = std::getc(in.get());
    if (hi == EOF || lo == EOF) break;
    const std::size_t length = (static_cast<std::size_t>(hi) << 8) | static_cast<std::size_t>(lo);
    if (length < 2) break;
    std::string payload(length - 2, '\0');
    if (std::fread(payload.data(), 1, payload.size(), in.get()) != payload.size()) break;
    if (c != kAPP1) continue;
    if (!main && starts_with(payload, kXmpNamespaceId, kXmpNamespaceIdLength) &&
        payload.size() > kXmpNamespaceIdLength) {
      main = payload.substr(kXmpNamespaceIdLength + 1);
    } else if (starts_with(payload, kXmpExtensionId, kXmpExtensionIdLength) &&
               payload.size() >= kXmpExtensionIdLength + 1 + 32 + 8) {
      const std::size_t head = kXmpExtensionIdLength + 1;
      Pieces& p = pieces[payload.substr(head, 32)];
      p.length = get32(payload, head + 32);
      p.at[get32(payload, head + 36)] = payload.substr(head + 40);
    }
  }
  if (!main) return std::nullopt;
  JpegXmpPackets out;
  out.main = *main;
  const std::string guid = extended_guid(out.main);
  const auto found = pieces.find(guid);
  if (guid.empty() || found == pieces.end()) return out;
  std::string whole;
  for (const auto& [offset, piece] : found->second.at) {
    if (offset != whole.size()) return out;  // a piece is missing
    whole += piece;
  }
  if (whole.size() == found->second.length && md5_hex_upper(whole) == guid)
    out.extended = std::move(whole);
  return out;
}

bool merge_xmp_into_jpeg(const std::string& jpeg_path, SidecarAfterMerge after) {
  Merge merge(jpeg_path, after);
  return merge.run();
}

std::string build_exif_payload(const std::vector<RecordedExifEntry>& entries) {
  std::vector<OutEntry> ifd0, exif;
  for (const RecordedExifEntry& e : entries) {
    if (e.directory != 1 && e.directory != 2) continue;
    // The GPS directory is not carried over: its entries were not recorded.
    if (e.tag == kGpsPointer || is_location_tag(e.tag)) continue;
    if (auto out = encode_entry(e)) (e.directory == 1 ? ifd0 : exif).push_back(std::move(*out));
  }

  std::string tiff = "MM";
  put16(tiff, 42);
  put32(tiff, 8);
  std::size_t pointer_index = ifd0.size();
  if (!exif.empty()) {
    std::size_t i = 0;
    while (i < ifd0.size() && ifd0[i].tag <= kExifPointer) ++i;
    pointer_index = i;
    ifd0.insert(ifd0.begin() + static_cast<std::ptrdiff_t>(i),
                OutEntry{nullptr, kExifPointer, kLong, 1, std::string(4, '\0')});
  }
  append_directory(tiff, ifd0);
  if (!exif.empty()) {
    // The pointer's value field: 8 + 2 + 12 × index + 8 bytes of tag, type and count.
    const std::size_t field = 8 + 2 + 12 * pointer_index + 8;
    const std::uint32_t exif_pos = static_cast<std::uint32_t>(tiff.size());
    for (int k = 0; k < 4; ++k) tiff[field + k] = static_cast<char>(exif_pos >> (24 - 8 * k));
    append_directory(tiff, exif);
  }
  return std::string("Exif\0\0", 6) + tiff;
}

bool write_jpeg_with_metadata(std::FILE* out, const unsigned char* jpeg, std::size_t length,
                              const std::vector<RecordedExifEntry>& entries,
                              std::string& message, const std::string& xmp_path) {
  auto put = [out](const void* data, std::size_t n) {
    return n == 0 || std::fwrite(data, 1, n, out) == n;
  };
  auto error = [&message](int n) {
    message = "Error writing JPEG file (" + std::to_string(n) + ").";
    return false;
  };
  if (!put("\xFF\xD8", 2)) return error(1);

  const std::string exif = build_exif_payload(entries);
  std::string segment = "\xFF\xE1";
  put16(segment, static_cast<unsigned>(exif.size() + 2));
  if (exif.size() + 2 > 0xFFFF || !put(segment.data(), segment.size()) ||
      !put(exif.data(), exif.size()))
    return error(2);

  if (!xmp_path.empty()) {
    File xmp(std::fopen(xmp_path.c_str(), "r"));
    std::string packet;
    if (xmp && read_whole(xmp.get(), packet) && !packet.empty()) {
      const std::string segments = xmp_app1_segments(packet);
      if (segments.empty()) {
        message = "XMP file " + xmp_path + " is too large for a JPEG";
        return false;
      }
      if (!put(segments.data(), segments.size())) return error(4);
    }
  }

  if (length >= 2 && jpeg[0] == 0xFF && jpeg[1] == kSOI) {
    jpeg += 2;
    length -= 2;
  }
  if (!put(jpeg, length)) return error(8);
  return true;
}

}  // namespace cw
