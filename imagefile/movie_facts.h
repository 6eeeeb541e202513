// What the readers of movies and video streams find about a recording (its date and zone, the
// camera's make and model), and the conversions of the date forms they carry into the EXIF
// form the rest of the program reads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace cw {

struct MovieFacts {
  std::string date;         // "YYYY:MM:DD hh:mm:ss", the recording's local time; "" when unknown
  std::string offset;       // "+hh:mm" of that local time; "" when unknown
  std::string date_source;  // where the date came from, for the dump
  std::string make;
  std::string model;

  // Takes a date (and its offset) unless one was taken already.
  void offer_date(const std::string& when, const std::string& zone, std::string source) {
    if (!date.empty() || when.empty()) return;
    date = when;
    offset = zone;
    date_source = std::move(source);
  }
};

// An ISO 8601 date and time ("2021-05-12T12:21:21+0200", "2024-03-15T10:20:30+01:00",
// "2021-05-12 10:21:21Z", fractions of a second allowed) as the EXIF date of its own local
// time and the offset ("+02:00"; "+00:00" for Z; "" when the text gives no zone). False when
// the text is not a whole date and time.
bool iso_datetime_to_exif(std::string_view text, std::string& date, std::string& offset);

// A UTC time as an EXIF date: in the computer's zone with that zone's offset, or, with
// `as_local`, its fields taken as the camera's local time (offset unknown). False for times
// outside the years 1 to 9999.
bool utc_to_exif(std::int64_t unix_seconds, bool as_local, std::string& date, std::string& offset);

// The value of `attribute` of the first `element` of an XML text; "" when absent. Enough for
// the flat documents cameras write, not a parser of XML.
std::string xml_attribute(std::string_view xml, std::string_view element,
                          std::string_view attribute);

// The creation date of a clip's XML companion (a NonRealTimeMeta document: the CreationDate
// element's value attribute) among the first bytes of `xml`; false when there is none.
bool companion_creation_date(std::string_view xml, std::string& date, std::string& offset);

// The companion beside a clip: "C0001M01.XML" (any case) in the folder of ".../C0001.MP4";
// "" when there is none.
std::string find_clip_companion(const std::string& clip_path);

// What the companion beside a clip says of it, from its first bytes: the creation date with
// its zone, the Device element's manufacturer and modelName. Nothing without a companion.
void read_clip_companion(const std::string& clip_path, MovieFacts& facts);

}  // namespace cw
