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

// The value of attribute `name` (without its quotes), or nothing.
std::optional<std::string_view> attribute(std::string_view attrs, std::string_view name) {
  std::size_t i = 0;
  while (i < attrs.size()) {
    while (i < attrs.size() && std::string_view(" \t\r\n").find(attrs[i]) != std::string_view::npos)
      ++i;
    std::size_t name_start = i;
    while (i < attrs.size() && attrs[i] != '=' &&
           std::string_view(" \t\r\n").find(attrs[i]) == std::string_view::npos)
      ++i;
    std::string_view found = attrs.substr(name_start, i - name_start);
    while (i < attrs.size() && (attrs[i] == ' ' || attrs[i] == '\t' || attrs[i] == '\r' ||
                                attrs[i] == '\n'))
      ++i;
    if (i >= attrs.size() || attrs[i] != '=') {
      if (found.empty()) ++i;  // a stray character: step over it
      continue;
    }
    ++i;
    while (i < attrs.size() && (attrs[i] == ' ' || attrs[i] == '\t' || attrs[i] == '\r' ||
                                attrs[i] == '\n'))
      ++i;
    if (i >= attrs.size() || (attrs[i] != '"' && attrs[i] != '\'')) continue;
    char quote = attrs[i++];
    std::size_t end = attrs.find(quote, i);
    if (end == std::string_view::npos) return std::nullopt;
    if (found == name) return attrs.substr(i, end - i);
    i = end + 1;
  }
  return std::nullopt;
}

// "YYYY-MM-DDThh:mm:ss", an ignored fraction, then "Z", "+hh:mm", "-hhmm", "+hh" or nothing
// (taken as UTC).
bool parse_gpx_time(std::string_view text, std::int64_t& out) {
  text = trim(text);
  int field[6];
  const char separators[] = "--T::";
  for (int f = 0; f < 6; ++f) {
    std::size_t n = 0;
    if (!gps_text::parse_digits(text, field[f])) return false;
    while (n < text.size() && text[n] >= '0' && text[n] <= '9') ++n;
    text.remove_prefix(n);
    if (f < 5) {
      if (text.empty() || (text.front() != separators[f] &&
                           !(f == 2 && (text.front() == 't' || text.front() == ' '))))
        return false;
      text.remove_prefix(1);
    }
  }
  if (!text.empty() && (text.front() == '.' || text.front() == ',')) {
    text.remove_prefix(1);
    while (!text.empty() && text.front() >= '0' && text.front() <= '9') text.remove_prefix(1);
  }
  std::int64_t zone = 0;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    const int sign = text.front() == '-' ? -1 : 1;
    text.remove_prefix(1);
    int hours = 0, minutes = 0;
    if (text.size() < 2 || !gps_text::parse_digits(text.substr(0, 2), hours)) return false;
    text.remove_prefix(2);
    if (!text.empty() && text.front() == ':') text.remove_prefix(1);
    if (text.size() >= 2 && gps_text::parse_digits(text.substr(0, 2), minutes))
      text.remove_prefix(2);
    if (hours > 23 || minutes > 59) return false;
    zone = sign * (hours * 3600 + minutes * 60);
  } else if (!text.empty() && (text.front() == 'Z' || text.front() == 'z')) {
    text.remove_prefix(1);
  }
  if (!trim(text).empty()) return false;
  if (!gps_text::utc_seconds(field[0], field[1], field[2], field[3], field[4], field[5], out))
    return false;
  out -= zone;  // 10:00+02:00 is 08:00 UTC
  return true;
}

// Character data with the five predefined entities and numeric ASCII references resolved.
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
    TagScanner scanner(text);
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
