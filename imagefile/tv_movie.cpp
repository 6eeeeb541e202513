// Movies in ISO base media files (MP4, MOV, M4V, 3GP, INSV): the movie header's creation
// time, the QuickTime metadata keys (creation date with its zone, make, model), the user-data
// texts (©day, ©mak, ©mod, plain or as an item list), EXIF or XMP carried in uuid boxes, and
// the XML companion some cameras write beside a clip.
#include <cstring>
#include <string>
#include <vector>

#include "imagefile/bmff.h"
#include "imagefile/movie_facts.h"
#include "imagefile/tv_reader.h"

namespace cw {

namespace {

// Metadata keys read from one key table at most.
constexpr std::uint32_t kMaxMovieKeys = 1024;
// A metadata text (a date, a make, a model) is read up to this many bytes.
constexpr std::uint64_t kMaxMovieText = 1024;
// An XMP packet is read up to this many bytes.
constexpr std::uint64_t kMaxMovieXmp = 1u << 20;
// The length recorded in the image fields for make and model, as TIFF files give them.
constexpr std::size_t kMakeModelField = 24;
// EXIF tags of the pairs a movie gives.
constexpr std::uint16_t kTagMake = 0x10f;
constexpr std::uint16_t kTagModel = 0x110;
constexpr std::uint16_t kTagDateTimeOriginal = 0x9003;
constexpr std::uint16_t kTagOffsetTimeOriginal = 0x9011;
constexpr std::uint16_t kTypeAscii = 2;

// The user-data texts: the copyright sign (0xa9) and three letters.
constexpr FourCC kItemDay{'\xa9', 'd', 'a', 'y'};
constexpr FourCC kItemMake{'\xa9', 'm', 'a', 'k'};
constexpr FourCC kItemModel{'\xa9', 'm', 'o', 'd'};

constexpr std::uint8_t kXmpUuid[16] = {0xbe, 0x7a, 0xcf, 0xcb, 0x97, 0xa9, 0x42, 0xe8,
                                       0x9c, 0x71, 0x99, 0x94, 0x91, 0xe3, 0xaf, 0xac};

// Trailing NULs and spaces dropped; control characters stay (the printers escape them).
std::string clean_text(std::string s) {
  while (!s.empty() && (s.back() == '\0' || s.back() == ' ')) s.pop_back();
  const std::size_t nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
  return s;
}

// The value of an XMP property written as an attribute (name="value") or an element
// (<name>value</name>); "" when absent.
std::string xmp_property(const std::string& xmp, const std::string& name) {
  std::size_t at = 0;
  while ((at = xmp.find(name, at)) != std::string::npos) {
    std::size_t p = at + name.size();
    at = p;
    if (p < xmp.size() && xmp[p] == '=' && p + 1 < xmp.size() &&
        (xmp[p + 1] == '"' || xmp[p + 1] == '\'')) {
      const std::size_t close = xmp.find(xmp[p + 1], p + 2);
      if (close != std::string::npos) return xmp.substr(p + 2, close - p - 2);
    } else if (p < xmp.size() && xmp[p] == '>' && at >= name.size() + 1 &&
               xmp[at - name.size() - 1] == '<') {
      const std::size_t close = xmp.find('<', p + 1);
      if (close != std::string::npos) return xmp.substr(p + 1, close - p - 1);
    }
  }
  return {};
}

// One walk over a movie's boxes, gathering what each form gives; the choice between the
// forms is made afterwards.
class MovieScan {
 public:
  MovieScan(BoxWalker& walker, TV_Reader& reader) : w_(walker), r_(reader) {}

  std::uint64_t mvhd_time = 0;
  std::string key_date, key_make, key_model;     // the QuickTime metadata keys
  std::string item_date, item_make, item_model;  // ©day, ©mak, ©mod
  std::string xmp;
  std::vector<std::uint64_t> tiff_positions;  // TIFF headers found in uuid boxes

  bool top_level() {
    bool have_movie = false;
    const bool ok = w_.for_each(0, w_.size(), [&](const Box& box) {
      if (box.is("moov")) {
        have_movie = true;
        movie(box);
      } else if (box.is("uuid")) {
        uuid(box);
      } else if (box.is("moof") && have_movie) {
        return false;  // a fragmented movie: thousands of fragments follow, no metadata
      }
      return !failed_;
    });
    if (!ok || failed_) return false;
    if (!have_movie) return w_.fail("no movie box (moov) in the file");
    return true;
  }

 private:
  bool movie(const Box& moov) {
    return w_.for_each(moov.payload, moov.end, [&](const Box& box) {
      if (box.is("mvhd")) return header(box);
      if (box.is("meta")) return meta(box);
      if (box.is("udta")) return user_data(box);
      if (box.is("uuid")) return uuid(box);
      return true;
    }) || stop();
  }

  bool stop() {
    failed_ = true;
    return false;
  }

  // Version 0 keeps the times in 32 bits, version 1 in 64, after the version and flags.
  bool header(const Box& box) {
    std::uint8_t version = 0;
    if (box.payload_size() < 8 || !w_.u8(box.payload, version) ||
        (version == 1 && box.payload_size() < 12))
      return w_.fail("movie header box too short") || stop();
    if (version == 1) {
      if (!w_.u64(box.payload + 4, mvhd_time)) return stop();
    } else {
      std::uint32_t t = 0;
      if (!w_.u32(box.payload + 4, t)) return stop();
      mvhd_time = t;
    }
    std::int64_t unix_seconds = 0;
    std::string date, offset;
    if (movie_time_to_unix(mvhd_time, unix_seconds) &&
        utc_to_exif(unix_seconds, true, date, offset)) {
      r_.print("\tMovie header creation time: %s UTC\n", date.c_str());
    } else {
      r_.print("\tMovie header creation time: not set (%llu)\n",
               static_cast<unsigned long long>(mvhd_time));
    }
    return true;
  }

  bool user_data(const Box& udta) {
    return w_.for_each(udta.payload, udta.end, [&](const Box& box) {
      if (box.is("meta")) return meta(box);
      if (box.is("uuid")) return uuid(box);
      if (box.is("XMP_")) return read_xmp(box.payload, box.payload_size());
      std::string* item = item_slot(box);
      if (!item) return true;
      std::string text;
      if (!international_text(box, text)) return stop();
      r_.print("\tUser data \u00a9%s: %s\n", fourcc_text(box.type).substr(1).c_str(), text.c_str());
      if (item->empty()) *item = text;
      return true;
    }) || stop();
  }

  std::string* item_slot(const Box& box) {
    if (box.type == kItemDay) return &item_date;
    if (box.type == kItemMake) return &item_make;
    if (box.type == kItemModel) return &item_model;
    return nullptr;
  }

  // A user-data text: a 16-bit length, a 16-bit language code, the text; some writers put
  // an item-list data box there instead. A text whose length does not fit its box is left
  // out (the box structure around it is sound, and the movie's other values still count).
  bool international_text(const Box& box, std::string& text) {
    text.clear();
    std::string head;
    if (box.payload_size() >= 16 && w_.read_at(box.payload + 4, 4, head) && head == "data")
      return data_value(box, text);
    std::uint16_t length = 0;
    if (box.payload_size() < 4 || !w_.u16(box.payload, length) || length > box.payload_size() - 4)
      return true;
    if (!w_.read_at(box.payload + 4, length < kMaxMovieText ? length : kMaxMovieText, text))
      return false;
    text = clean_text(std::move(text));
    return true;
  }

  // The value of an item-list entry: its "data" box holds a type, a locale and the bytes.
  bool data_value(const Box& item, std::string& text) {
    text.clear();
    Box data;
    bool found = false;
    if (!w_.for_each(item.payload, item.end, [&](const Box& child) {
          found = child.is("data");
          if (found) data = child;
          return !found;
        }))
      return false;
    if (!found || data.payload_size() < 8) return true;  // no value
    const std::uint64_t n = data.payload_size() - 8;
    if (!w_.read_at(data.payload + 8, n < kMaxMovieText ? n : kMaxMovieText, text)) return false;
    text = clean_text(std::move(text));
    return true;
  }

  // QuickTime's meta is a plain box; the ISO one has a version and flags first.
  bool meta(const Box& box) {
    std::uint64_t children = box.payload;
    std::string probe;
    if (box.payload_size() >= 8 && w_.read_at(box.payload + 4, 4, probe) && probe != "hdlr" &&
        probe != "keys" && probe != "ilst")
      children += 4;
    std::vector<std::string> keys;
    Box list;
    bool have_list = false;
    const bool ok = w_.for_each(children, box.end, [&](const Box& child) {
      if (child.is("keys")) return read_keys(child, keys);
      if (child.is("ilst")) {
        list = child;
        have_list = true;
      }
      return true;
    });
    if (!ok || failed_) return stop();
    return !have_list || item_list(list, keys) || stop();
  }

  // The key table: version and flags, a count, then per key its size (header included), a
  // namespace and the name.
  bool read_keys(const Box& box, std::vector<std::string>& keys) {
    std::uint32_t count = 0;
    if (box.payload_size() < 8 || !w_.u32(box.payload + 4, count))
      return w_.fail("metadata key table too short") || stop();
    if (count > kMaxMovieKeys) return w_.fail("too many metadata keys") || stop();
    std::uint64_t p = box.payload + 8;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint32_t size = 0;
      if (box.end - p < 8 || !w_.u32(p, size) || size < 8 || size > box.end - p)
        return w_.fail("metadata key beyond its table") || stop();
      std::string name;
      if (!w_.read_at(p + 8, (size - 8) < kMaxMovieText ? size - 8 : kMaxMovieText, name))
        return stop();
      keys.push_back(std::move(name));
      p += size;
    }
    return true;
  }

  // Entries named by a key's index (1-based) when the meta has a key table, by their own
  // type (©mak...) otherwise.
  bool item_list(const Box& list, const std::vector<std::string>& keys) {
    return w_.for_each(list.payload, list.end, [&](const Box& item) {
      std::string* slot = item_slot(item);
      if (!slot && !keys.empty()) {
        const auto* t = reinterpret_cast<const std::uint8_t*>(item.type.data());
        const std::uint32_t index =
            std::uint32_t{t[0]} << 24 | std::uint32_t{t[1]} << 16 | std::uint32_t{t[2]} << 8 | t[3];
        if (index >= 1 && index <= keys.size()) {
          const std::string& key = keys[index - 1];
          if (key == "com.apple.quicktime.creationdate")
            slot = &key_date;
          else if (key == "com.apple.quicktime.make")
            slot = &key_make;
          else if (key == "com.apple.quicktime.model")
            slot = &key_model;
          if (slot) r_.print("\t%s: ", key.c_str());
        }
      } else if (slot) {
        r_.print("\tItem \u00a9%s: ", fourcc_text(item.type).substr(1).c_str());
      }
      if (!slot) return true;
      std::string text;
      if (!data_value(item, text)) return stop();
      r_.print("%s\n", text.c_str());
      if (slot->empty()) *slot = text;
      return true;
    });
  }

  bool uuid(const Box& box) {
    if (std::memcmp(box.uuid.data(), kXmpUuid, sizeof kXmpUuid) == 0)
      return read_xmp(box.payload, box.payload_size());
    // A TIFF structure, bare or behind the EXIF segment's "Exif\0\0".
    std::string head;
    if (box.payload_size() < 14 || !w_.read_at(box.payload, 14, head)) return true;
    std::uint64_t at = box.payload;
    if (head.compare(0, 6, std::string("Exif\0\0", 6)) == 0) {
      at += 6;
      head.erase(0, 6);
    }
    if (head.compare(0, 4, "II*\0", 4) == 0 || head.compare(0, 4, "MM\0*", 4) == 0)
      tiff_positions.push_back(at);
    return true;
  }

  bool read_xmp(std::uint64_t at, std::uint64_t n) {
    if (!xmp.empty()) return true;
    if (!w_.read_at(at, n < kMaxMovieXmp ? n : kMaxMovieXmp, xmp)) return stop();
    r_.print("\tXMP packet: %llu bytes\n", static_cast<unsigned long long>(xmp.size()));
    return true;
  }

  BoxWalker& w_;
  TV_Reader& r_;
  bool failed_ = false;
};

void set_pair(TV_Image& im, const char* name, const std::string& value, std::uint16_t tag,
              int directory) {
  MacroPair pair;
  pair.name = name;
  pair.value = value;
  pair.tag = tag;
  pair.type = kTypeAscii;
  pair.count = static_cast<std::uint32_t>(value.size() + 1);
  pair.directory = directory;
  for (MacroPair& p : im.macro_pairs)
    if (p.name == name) {
      p = std::move(pair);
      return;
    }
  im.add_pair(std::move(pair));
}

}  // namespace

void TV_Reader::record_movie_facts(const MovieFacts& facts, bool macros) {
  TV_Image& im = *image_;
  if (!facts.date.empty()) {
    print("\tRecording date: %s%s%s (%s)\n", facts.date.c_str(), facts.offset.empty() ? "" : " ",
          facts.offset.c_str(), facts.date_source.c_str());
    im.date_time = facts.date;
    im.date_time_digitized = facts.date;
  }
  if (!facts.make.empty()) {
    print("\tMake: %s\n", facts.make.c_str());
    im.make = facts.make.substr(0, kMakeModelField);
  }
  if (!facts.model.empty()) {
    print("\tModel: %s\n", facts.model.c_str());
    im.model = facts.model.substr(0, kMakeModelField);
  }
  if (!macros) return;
  if (!facts.make.empty() && !im.find_pair("Make"))
    set_pair(im, "Make", facts.make, kTagMake, kFromIFD0);
  if (!facts.model.empty() && !im.find_pair("Model"))
    set_pair(im, "Model", facts.model, kTagModel, kFromIFD0);
  if (!facts.date.empty()) {
    set_pair(im, "DateTimeOriginal", facts.date, kTagDateTimeOriginal, kFromExif);
    if (!facts.offset.empty())
      set_pair(im, "OffsetTimeOriginal", facts.offset, kTagOffsetTimeOriginal, kFromExif);
  }
}

bool TV_Reader::read_movie(BoxWalker& walker, bool quick, bool macros) {
  print("Movie\n");
  MovieScan scan(walker, *this);
  const bool walked = scan.top_level();
  const char* walk_error = walker.error();

  MovieFacts facts;
  // The clip's XML companion speaks for the clip with its zone; then the keys' local time
  // with its zone; then the texts; the movie header's UTC time last.
  if (!clip_path_.empty()) read_clip_companion(clip_path_, facts);
  std::string date, offset;
  if (iso_datetime_to_exif(scan.key_date, date, offset))
    facts.offer_date(date, offset, "com.apple.quicktime.creationdate");

  // EXIF in a uuid box: its own pairs, and its date before the movie's other texts.
  for (std::uint64_t at : scan.tiff_positions) {
    std::uint8_t h[8];
    if (!source_->seek(at) || source_->read(h, 8) != 8) continue;
    image_->base = at;
    print("EXIF structure in a uuid box at %llu\n", static_cast<unsigned long long>(at));
    if (!read_tiff_header(h, quick, macros)) print("\tnot readable: %s\n", message_);
    message_ = "";
    break;
  }
  if (const MacroPair* p = image_->find_pair("DateTimeOriginal"))
    facts.offer_date(p->value, "", "EXIF");
  else if (!image_->date_time.empty())
    facts.offer_date(image_->date_time, "", "EXIF");

  if (!scan.xmp.empty()) {
    for (const char* name : {"exif:DateTimeOriginal", "photoshop:DateCreated", "xmp:CreateDate"})
      if (iso_datetime_to_exif(xmp_property(scan.xmp, name), date, offset)) {
        facts.offer_date(date, offset, "XMP");
        break;
      }
  }
  if (iso_datetime_to_exif(scan.item_date, date, offset))
    facts.offer_date(date, offset, "user-data \u00a9day");
  std::int64_t unix_seconds = 0;
  if (movie_time_to_unix(scan.mvhd_time, unix_seconds) &&
      utc_to_exif(unix_seconds, video_times_local_, date, offset)) {
    facts.offer_date(date, offset,
                     video_times_local_ ? "movie header, taken as local time"
                                        : "movie header, UTC in this computer's zone");
  }

  if (facts.make.empty()) facts.make = !scan.key_make.empty() ? scan.key_make : scan.item_make;
  if (facts.model.empty()) facts.model = !scan.key_model.empty() ? scan.key_model : scan.item_model;
  if (facts.make.empty()) facts.make = clean_text(xmp_property(scan.xmp, "tiff:Make"));
  if (facts.model.empty()) facts.model = clean_text(xmp_property(scan.xmp, "tiff:Model"));
  record_movie_facts(facts, macros);
  if (!walked) return fail(*walk_error ? walk_error : "movie boxes not readable");
  return true;
}

}  // namespace cw
