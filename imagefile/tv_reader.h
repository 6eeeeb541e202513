// The camera-file reader: finds the TIFF structure inside JPEG, TIFF-based raw, RAF and MRW
// files (and reads the CRW and X3F containers), walks its directories and, while doing so,
// can dump every entry, record the EXIF macro values as (name, value) pairs and keep the few
// values the rest of the program needs (geometry, strips, thumbnail, Make, Model, dates).
//
// Every offset is checked against what the source holds; directories already read are not
// read again; depth, directory count and element counts are capped, so that no file can make
// the reader loop, recurse without end or read outside the file.
#pragma once

#include <array>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "imagefile/byte_source.h"
#include "imagefile/print_sink.h"

namespace cw {

// Directories nested deeper than this (next chains included) are not followed.
inline constexpr int kMaxDirectoryDepth = 32;
// At most this many directories (or CRW heaps) are read from one file.
inline constexpr int kMaxDirectories = 512;
// Entries with more values than this are neither shown nor read.
inline constexpr std::uint32_t kMaxValueCount = 5000000;
// A directory may name at most this many SubIFDs.
inline constexpr int kMaxSubIFDs = 10;
// JPEG segments looked at when searching for the EXIF segment behind a JFIF header.
inline constexpr int kMaxJpegSegments = 100;
// MRW blocks looked at when searching for the TIFF block.
inline constexpr int kMaxMrwBlocks = 5;
// Elements shown for one value (characters for ASCII); more are shown as "...".
inline constexpr std::uint32_t kShownElements = 11;
inline constexpr std::uint32_t kShownCharacters = 201;
// RowsPerStrip when the tag is absent: the whole image is one strip.
inline constexpr std::uint32_t kRowsPerStripAbsent = 2147483647u;

// The kind of directory read for a maker's notes: shown, its tags by number, never taken as
// macro values.
inline constexpr char kMakerNotesKind[] = "Maker notes";

// Which directory a macro pair came from (the JPEG writer needs it).
enum MacroDirectory { kFromOther = 0, kFromIFD0 = 1, kFromExif = 2 };

struct MacroPair {
  std::string name;
  std::string value;
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::uint32_t first_value = 0;
  int directory = kFromOther;
};

class BoxWalker;
struct MovieFacts;
class TagTable;
class TV_IFD;
class TV_Reader;

// The state of one parsed file.
struct TV_Image {
  TV_Image();
  ~TV_Image();
  bool big_endian = false;
  std::uint64_t base = 0;  // position of the TIFF header; IFD and value offsets are relative
  bool jpeg = false;       // the file begins with a JPEG SOI marker
  std::string date_time_digitized;    // at most 99 characters
  std::string subsec_time_digitized;  // at most 19
  std::string date_time;              // at most 99
  std::string make;                   // at most 24
  std::string model;                  // at most 24
  std::string image_description;      // at most 999
  std::uint32_t orientation = 0;
  bool record_all = false;
  std::vector<MacroPair> macro_pairs;
  std::unique_ptr<TV_IFD> root;
  // Directories standing for previews a container holds beside its TIFF structures (their
  // embedded_jpeg fields and sizes set), smallest first.
  std::vector<std::unique_ptr<TV_IFD>> previews;

  // Guards of one read: directories already read (absolute position and, for heaps, length)
  // and how many.
  std::set<std::pair<std::uint64_t, std::uint64_t>> visited;
  int directories = 0;

  // The first pair with this name (compared without regard to case), or null.
  const MacroPair* find_pair(std::string_view name) const;
  void add_pair(MacroPair pair) { macro_pairs.push_back(std::move(pair)); }
};

// One image file directory. CRW and X3F containers derive from it.
class TV_IFD {
 public:
  TV_IFD(TV_Reader& reader, int depth);
  virtual ~TV_IFD();
  TV_IFD(const TV_IFD&) = delete;
  TV_IFD& operator=(const TV_IFD&) = delete;

  // Reads one directory's entries: no printing, no macro pairs, no offsets followed.
  virtual bool read(std::uint32_t offset);
  // Reads a directory and everything it points to; kind is the label printed for it
  // ("First", "Next", "EXIF", "GPS" or "Sub").
  virtual bool read_all(std::uint32_t offset, const char* kind, bool quick, bool macros);

  // Byte size of strip n (0 when n is outside the strip table).
  std::uint64_t strip_size(std::size_t n) const;
  // Reads strip n into `out`; the source position is restored. False on failure.
  bool read_strip(std::size_t n, std::vector<std::uint8_t>& out);

  std::uint64_t position = 0;  // absolute position; its length is 12 x entries + 6
  std::uint16_t entries = 0;
  std::unique_ptr<TV_IFD> next;
  std::unique_ptr<TV_IFD> exif;
  std::unique_ptr<TV_IFD> gps;
  int sub_ifd_count = 0;
  std::array<std::uint32_t, kMaxSubIFDs> sub_ifd_offsets{};
  std::array<std::unique_ptr<TV_IFD>, kMaxSubIFDs> sub_ifds;
  std::uint32_t exif_offset = 0;
  std::uint32_t gps_offset = 0;
  std::string xmp;

  std::uint32_t image_width = 0;
  std::uint32_t image_length = 0;
  std::array<std::uint32_t, 3> bits_per_sample{};
  int bits_per_sample_count = 0;
  std::uint32_t compression = 0;
  std::uint32_t photometric = 0;
  std::uint32_t samples_per_pixel = 0;
  std::uint32_t rows_per_strip = kRowsPerStripAbsent;
  std::vector<std::uint32_t> strip_offsets;
  std::uint32_t strip_byte_counts = 0;
  std::uint32_t jpeg_offset = 0;
  std::uint32_t jpeg_length = 0;
  std::uint32_t rw2_preview_offset = 0;
  std::uint32_t rw2_preview_size = 0;
  // A JPEG preview a container holds outside any TIFF structure (CR3's THMB and PRVW), by
  // absolute position in the file; its length is 0 when there is none.
  std::uint64_t embedded_jpeg_position = 0;
  std::uint64_t embedded_jpeg_length = 0;
  bool dng = false;

 protected:
  // Registers a directory (or a heap of `length` bytes) at an absolute position before reading
  // it. False, after printing a warning, when it was read already or the depth or count caps
  // are reached.
  bool enter(std::uint64_t absolute, const char* what, std::uint64_t length = 0);
  bool fail(const char* message);
  void out(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  TV_Image& image();
  ByteSource& source();

  TV_Reader& reader_;
  int depth_;
  bool quiet_ = false;  // plain read: nothing printed

 private:
  struct Entry;
  bool read_entries(std::uint32_t offset, const char* kind, bool quick, bool macros);
  // names: the table that names the tags in the dump; null to show them by number.
  bool read_entry(const Entry& e, bool quick, bool macros, const TagTable* names, int directory);
  bool fetch_value(const Entry& e, std::uint64_t want, std::vector<std::uint8_t>& data);
  bool handle_tag(const Entry& e, const std::vector<std::uint8_t>& data, bool quick);
  bool read_child(std::unique_ptr<TV_IFD>& child, std::uint32_t offset, const char* kind,
                  bool quick, bool macros);
  void dump_iptc(const std::vector<std::uint8_t>& data);
};

class TV_Reader {
 public:
  // prefer_largest: preview choice takes the largest JPEG (JPEG extraction sets it, the
  // thumbnail view does not).
  explicit TV_Reader(bool prefer_largest = false);
  ~TV_Reader();
  TV_Reader(const TV_Reader&) = delete;
  TV_Reader& operator=(const TV_Reader&) = delete;

  // Closes what was open, opens the path ("ptp/…" paths on the reader's camera) and reads
  // the file. Modes: quick and macros for EXIF macro values; quick alone for the capture
  // identity; none for the examination dump; macros and record_all for raw/JPEG handling.
  bool open(const std::string& path, bool quick, bool macros, bool record_all = false);
  // The same over bytes in memory; `name` gives the extension.
  bool open_bytes(std::string bytes, const std::string& name, bool quick, bool macros,
                  bool record_all = false);
  // Closes the byte source (the parsed image stays).
  void close_source();

  // Why the last operation failed ("" when nothing failed).
  const char* message() const { return message_; }
  bool is_open() const { return source_ != nullptr; }
  TV_Image* image() { return image_.get(); }
  const TV_Image* image() const { return image_.get(); }
  // The three characters after the last "." of the path, lowered; "jpg" without a ".".
  const std::string& extension() const { return extension_; }
  bool prefer_largest() const { return prefer_largest_; }
  void set_print(PrintSink sink) { print_ = std::move(sink); }
  // Movie times kept in UTC (the movie header's) are taken as the camera's local time rather
  // than shown in the computer's zone: many cameras write their local time there.
  void set_video_times_local(bool on) { video_times_local_ = on; }
  bool video_times_local() const { return video_times_local_; }
  // The camera "ptp/" paths are opened on (not owned; null, the default: no camera, and such a
  // path cannot be opened).
  void set_cameras(CameraSource* cameras) { cameras_ = cameras; }
  CameraSource* cameras() const { return cameras_; }

  // For the directory readers.
  ByteSource* source() { return source_.get(); }
  bool fail(const char* message) {
    message_ = message;
    return false;
  }
  bool printing() const { return static_cast<bool>(print_); }
  void print(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void vprint(const char* fmt, va_list ap);

 private:
  bool start(std::unique_ptr<ByteSource> source, const std::string& path, bool record_all);
  bool read_file(bool quick, bool macros);
  bool read_tiff_header(const std::uint8_t header[8], bool quick, bool macros);
  bool read_crw(bool quick, bool macros);
  bool read_x3f(bool quick, bool macros);
  // ISO base media files: the file type box decides the family (tv_bmff.cpp).
  bool read_bmff(bool quick, bool macros);
  // Canon's CR3/CRM raws and HEIF/HEIC/AVIF images (tv_stills.cpp).
  bool read_cr3(BoxWalker& walker, bool quick, bool macros);
  bool read_heif(BoxWalker& walker, bool quick, bool macros);
  // Reads a whole TIFF structure whose header lies at `base` (a CR3 metadata box, a HEIF Exif
  // item) into `directory`; kind is "First", "EXIF", "GPS" or a label for the dump.
  bool read_embedded_tiff(std::uint64_t base, const char* kind, bool quick, bool macros,
                          std::unique_ptr<TV_IFD>& directory);
  // Reads a TIFF structure held in memory (a HEIF item), with the reader's source swapped for
  // the bytes while it is read; previews of that structure are dropped (they are not in the
  // file).
  bool read_tiff_bytes(std::string bytes, std::uint64_t base, bool quick, bool macros);
  // MP4, MOV, M4V, 3GP and other movies (tv_movie.cpp).
  bool read_movie(BoxWalker& walker, bool quick, bool macros);
  // AVCHD transport streams, .MTS and .M2TS (tv_avchd.cpp).
  bool read_avchd(bool quick, bool macros);
  // Records what a movie or stream says about itself as EXIF pairs and image fields, and
  // prints it in the dump (tv_movie.cpp).
  void record_movie_facts(const MovieFacts& facts, bool macros);
  bool video_times_local_ = false;
  CameraSource* cameras_ = nullptr;
  std::string clip_path_;  // the movie's path on disk; "" for bytes and camera files

  bool prefer_largest_;
  const char* message_ = "";
  std::unique_ptr<ByteSource> source_;
  std::unique_ptr<TV_Image> image_;
  PrintSink print_;
  std::vector<char> print_buffer_;
  std::string extension_;
};

// File extension as the reader takes it.
std::string reader_extension(const std::string& path);

// Byte-order helpers.
inline std::uint16_t get16(const std::uint8_t* p, bool big) {
  return big ? static_cast<std::uint16_t>(p[0] << 8 | p[1])
             : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
}
inline std::uint32_t get32(const std::uint8_t* p, bool big) {
  return big ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
                p[3])
             : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 |
                p[0]);
}

// a + b when the sum stays at or below limit; false otherwise.
inline bool add_within(std::uint64_t a, std::uint64_t b, std::uint64_t limit, std::uint64_t& sum) {
  if (a > limit || b > limit - a) return false;
  sum = a + b;
  return true;
}

}  // namespace cw
