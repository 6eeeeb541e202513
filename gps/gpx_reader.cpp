// Reads GPX track files into the store.
//
// Not a general XML parser: the text is cut into tags and the character data between them,
// which is all a track needs, so files with one tag per line and files with many tags on a
// line read alike. "trk" starts a track, its "name" (outside the segments) names it, and each
// "trkpt" with a time becomes a point; waypoints, routes and extensions are passed over.
// Latitude and longitude are attributes found by name, in either order and either quote; a
// point without both, or without a readable time, is dropped rather than placed at 0,0.
#include <new>
#include <optional>
#include <string>

#include "gps/gpx.h"
#include "gps/track_text.h"

namespace cw {

namespace {

using gps_text::trim;

// Tag names longer than this are not ours and are passed over.
constexpr std::size_t kMaxTagName = 49;

struct Tag {
  std::string_view name;        // without a namespace prefix
  std::string_view attributes;  // the text after the name, without a closing "/"
  std::string_view text_before; // character data since the previous tag
  bool closing = false;         // "</name>"
  bool empty = false;           // "<name ... />"
};

// Walks the tags of a text in order. Comments, processing instructions and declarations are
// skipped; the content of a CDATA section counts as character data.
class TagScanner {
 public:
  explicit TagScanner(std::string_view text) : text_(text) {}

  bool next(Tag& tag) {
    std::size_t text_start = pos_;
    for (;;) {
      std::size_t lt = text_.find('<', pos_);
      if (lt == std::string_view::npos) return false;
      std::string_view rest = text_.substr(lt);
      if (skip(rest, "<!--", "-->", lt) || skip(rest, "<?", "?>", lt)) {
        text_start = pos_;
        continue;
      }
      if (rest.substr(0, 9) == "<![CDATA[") {
        std::size_t end = text_.find("]]>", lt + 9);
        if (end == std::string_view::npos) return false;
        cdata_ = text_.substr(lt + 9, end - lt - 9);
        pos_ = text_start = end + 3;
        continue;
      }
      if (skip(rest, "<!", ">", lt)) {
        text_start = pos_;
        continue;
      }
      std::size_t gt = text_.find('>', lt);
      if (gt == std::string_view::npos) return false;
      tag = Tag{};
      tag.text_before = cdata_.empty() ? text_.substr(text_start, lt - text_start) : cdata_;
      cdata_ = {};
      parse(text_.substr(lt + 1, gt - lt - 1), tag);
      pos_ = gt + 1;
      return true;
    }
  }

 private:
  // Moves past a construct that opens with `open` at `at` and ends with `close`.
  bool skip(std::string_view rest, std::string_view open, std::string_view close,
            std::size_t at) {
    if (rest.substr(0, open.size()) != open) return false;
    std::size_t end = text_.find(close, at + open.size());
    pos_ = end == std::string_view::npos ? text_.size() : end + close.size();
    return true;
  }

  static void parse(std::string_view inside, Tag& tag) {
    if (!inside.empty() && inside.front() == '/') {
      tag.closing = true;
      inside.remove_prefix(1);
    }
    if (!inside.empty() && inside.back() == '/') {
      tag.empty = true;
      inside.remove_suffix(1);
    }
    std::size_t name_end = inside.find_first_of(" \t\r\n");
    if (name_end == std::string_view::npos) name_end = inside.size();
    std::string_view name = inside.substr(0, name_end);
    std::size_t colon = name.rfind(':');
    if (colon != std::string_view::npos) name.remove_prefix(colon + 1);
    tag.name = name.size() > kMaxTagName ? std::string_view() : name;
    tag.attributes = inside.substr(name_end);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string_view cdata_;
};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value of attribute `name` (without its quotes), or nothing.
std::optional<std::string_view> attribute(std::string_view attrs, std::string_view name) {
  std::size_t i = 0;
  auto skip_spaces = [&] {
    while (i < attrs.size() && is_space(attrs[i])) ++i;
  };
  while (i < attrs.size()) {
    skip_spaces();
    const std::size_t name_start = i;
    while (i < attrs.size() && attrs[i] != '=' && !is_space(attrs[i])) ++i;
    const std::string_view found = attrs.substr(name_start, i - name_start);
    skip_spaces();
    if (i >= attrs.size() || attrs[i] != '=') {
      if (found.empty()) ++i;  // a stray character: step over it
      continue;
    }
    ++i;
    skip_spaces();
    if (i >= attrs.size() || (attrs[i] != '"' && attrs[i] != '\'')) continue;
    const char quote = attrs[i++];
    const std::size_t end = attrs.find(quote, i);
    if (end == std::string_view::npos) return std::nullopt;
    if (found == name) return attrs.substr(i, end - i);
    i = end + 1;
  }
  return std::nullopt;
}

// Takes the digits at the front of `text` (one to `most` of them) as a number.
bool take_digits(std::string_view& text, std::size_t most, int& out) {
  std::size_t n = 0;
  int value = 0;
  for (; n < text.size() && n < most && text[n] >= '0' && text[n] <= '9'; ++n)
    value = value * 10 + (text[n] - '0');
  if (n == 0) return false;
  text.remove_prefix(n);
  out = value;
  return true;
}

bool take_char(std::string_view& text, std::string_view any_of) {
  if (text.empty() || any_of.find(text.front()) == std::string_view::npos) return false;
  text.remove_prefix(1);
  return true;
}

// "YYYY-MM-DDThh:mm:ss", an ignored fraction, then "Z", "+hh:mm", "-hhmm", "+hh" or nothing
// (taken as UTC).
bool parse_gpx_time(std::string_view text, std::int64_t& out) {
  text = trim(text);
  int y, mo, d, h, mi, s;
  if (!take_digits(text, 4, y) || !take_char(text, "-") || !take_digits(text, 2, mo) ||
      !take_char(text, "-") || !take_digits(text, 2, d) || !take_char(text, "Tt ") ||
      !take_digits(text, 2, h) || !take_char(text, ":") || !take_digits(text, 2, mi) ||
      !take_char(text, ":") || !take_digits(text, 2, s))
    return false;
  if (take_char(text, ".,"))
    while (take_char(text, "0123456789")) {
    }
  std::int64_t zone = 0;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    const int sign = text.front() == '-' ? -1 : 1;
    text.remove_prefix(1);
    int hours = 0, minutes = 0;
    if (!take_digits(text, 2, hours)) return false;
    take_char(text, ":");
    take_digits(text, 2, minutes);
    if (hours > 23 || minutes > 59) return false;
    zone = sign * (hours * 3600 + minutes * 60);
  } else {
    take_char(text, "Zz");
  }
  if (!trim(text).empty() || !gps_text::utc_seconds(y, mo, d, h, mi, s, out)) return false;
  out -= zone;  // 10:00+02:00 is 08:00 UTC
  return true;
}

// Character data with the five predefined entities resolved.
std::string decode_text(std::string_view raw) {
  static constexpr std::pair<std::string_view, char> kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    bool replaced = false;
    if (raw[i] == '&') {
      for (const auto& [entity, c] : kEntities)
        if (raw.substr(i, entity.size()) == entity) {
          out += c;
          i += entity.size() - 1;
          replaced = true;
          break;
        }
    }
    if (!replaced) out += raw[i];
  }
  return out;
}

bool in_range(double value, double limit) { return value >= -limit && value <= limit; }

// The point being read: its attributes and the texts of its children.
struct OpenPoint {
  bool open = false;
  std::string_view attributes;
  bool has_time = false, has_ele = false;
  std::string_view time, ele;
};

// Adds the point, or drops it when its time or position cannot be read.
void add_point(GpsTrack& track, const OpenPoint& p) {
  GpsPoint point;
  double lat = 0, lon = 0, ele = 0;
  auto lat_text = attribute(p.attributes, "lat");
  auto lon_text = attribute(p.attributes, "lon");
  if (!p.has_time || !parse_gpx_time(p.time, point.time) || !lat_text || !lon_text ||
      !gps_text::parse_double(*lat_text, lat) || !gps_text::parse_double(*lon_text, lon) ||
      !in_range(lat, 90) || !in_range(lon, 180))
    return;
  if (p.has_ele && !gps_text::parse_double(p.ele, ele)) ele = 0;
  point.lat = static_cast<float>(lat);
  point.lon = static_cast<float>(lon);
  point.ele = static_cast<float>(ele);
  track.points.push_back(point);
}

}  // namespace

bool GPX::load_gpx_text(std::string_view text, const std::string& path, std::string& message) {
  try {
    const std::string utf8 = gps_text::utf8_track_text(text);
    TagScanner scanner(utf8);
    Tag tag;
    GpsTrack* track = nullptr;  // the latest track: later points join it
    bool in_track = false, in_segment = false;
    OpenPoint point;
    while (scanner.next(tag)) {
      const std::string_view name = tag.name;
      if (!tag.closing) {
        if (name == "trk" && !tag.empty) {
          tracks.emplace_back();
          track = &tracks.back();
          track->file = path;
          in_track = true;
          in_segment = false;
        } else if (name == "trkseg") {
          in_segment = !tag.empty;
        } else if (name == "trkpt") {
          point = OpenPoint{};
          point.open = !tag.empty;  // an empty one has no time: nothing to add
          point.attributes = tag.attributes;
        }
        continue;
      }
      if (point.open) {
        if (name == "time") {
          point.time = tag.text_before;
          point.has_time = true;
        } else if (name == "ele") {
          point.ele = tag.text_before;
          point.has_ele = true;
        } else if (name == "trkpt") {
          if (point.has_time) {
            if (!track) {
              message = "Invalid GPX file -- missing <trk>";
              return false;
            }
            add_point(*track, point);
          }
          point.open = false;
        }
      } else if (name == "name" && in_track && !in_segment) {
        std::string title = decode_text(trim(tag.text_before));
        if (title.size() > kTrackNameMax) title.resize(kTrackNameMax);
        track->name = title;
      } else if (name == "trkseg") {
        in_segment = false;
      } else if (name == "trk") {
        in_track = false;
      }
    }
  } catch (const std::bad_alloc&) {
    message = "Can't allocate memory for track points";
    return false;
  }
  return true;
}

}  // namespace cw
