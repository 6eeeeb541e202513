// Reads LOG track files into the store: one track per file.
//
// A file whose first line begins with "@Sonygps" holds NMEA sentences: "$GPGGA" gives the
// elevation that later fixes carry, "$GPRMC" gives the fixes. Any other file is read for
// Magellan "$PMGNTRK" fixes, and its other lines are dropped; only a file without any
// "$PMGNTRK" fix is read for NMEA fixes, so a logger that writes plain NMEA without that
// header line is not read as an empty track, while a Magellan file that also carries NMEA
// sentences does not get every fix twice. The file may be UTF-16 and may end its lines with
// CR LF.
//
// Fields are positional: empty fields keep their place (a "$GPRMC" with empty speed and course
// still has its date in field 9). A checksum ("*hh") is cut off before the split. A "$GPRMC"
// fix whose status is not "A" (valid) is dropped; a "$PMGNTRK" fix whose status is not "A"
// is kept under the date "010107", so such fixes stay visibly apart from the day's track.
//
// A file whose only fixes are "$GPGGA" sentences (time of day, no date) is read from those:
// each takes the date last given before it by a "$GPZDA" or "$GPRMC" line, fixes before the
// first such line take the first date in the file, and a file without any date takes the
// store's `undated_fix_date`. A time of day that falls back more than twelve hours under one
// date has passed midnight and moves to the next day. Fixes of quality 0 (no fix) are dropped.
#include <cstdint>
#include <ctime>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gps/gpx.h"
#include "gps/track_text.h"

namespace cw {

namespace {

using gps_text::trim;

constexpr double kFeetToMetres = 0.3048;
// Stands for a date or time the line does not give.
constexpr std::string_view kNoDateOrTime = "010101";
// The date of a "$PMGNTRK" fix whose status is not "A".
constexpr std::string_view kInvalidFixDate = "010107";
constexpr std::int64_t kSecondsPerDay = 86400;

std::vector<std::string_view> split_fields(std::string_view line) {
  std::size_t star = line.find('*');
  if (star != std::string_view::npos) line = line.substr(0, star);
  std::vector<std::string_view> fields;
  for (;;) {
    std::size_t comma = line.find(',');
    fields.push_back(trim(line.substr(0, comma)));
    if (comma == std::string_view::npos) return fields;
    line.remove_prefix(comma + 1);
  }
}

std::string_view field(const std::vector<std::string_view>& fields, std::size_t n) {
  return n < fields.size() ? fields[n] : std::string_view();
}

// "ddmm.mmmm" (latitude, 2 degree digits) or "dddmm.mmmm" (longitude, 3): degrees.
bool parse_degrees(std::string_view text, std::size_t degree_digits, double& out) {
  int degrees = 0;
  double minutes = 0;
  if (text.size() <= degree_digits ||
      text.substr(0, degree_digits).find_first_not_of("0123456789") != std::string_view::npos ||
      !gps_text::parse_digits(text.substr(0, degree_digits), degrees) ||
      !gps_text::parse_double(text.substr(degree_digits), minutes) || minutes < 0 ||
      minutes >= 60)
    return false;
  out = degrees + minutes / 60.0;
  return true;
}

// Date "ddmmyy" and time "hhmmss[.fff]" as UTC; a fraction above one half adds a second.
bool parse_fix_time(std::string_view date, std::string_view time, std::int64_t& out) {
  if (date.empty()) date = kNoDateOrTime;
  if (time.empty()) time = kNoDateOrTime;
  if (date.size() < 6 || time.size() < 6 || date.substr(0, 6).find_first_not_of("0123456789") !=
                                                 std::string_view::npos ||
      time.substr(0, 6).find_first_not_of("0123456789") != std::string_view::npos)
    return false;
  auto two = [](std::string_view s, std::size_t at) { return (s[at] - '0') * 10 + s[at + 1] - '0'; };
  const int yy = two(date, 4);
  const int year = yy < 69 ? 2000 + yy : 1900 + yy;  // the two-digit-year rule of strptime's %y
  if (!gps_text::utc_seconds(year, two(date, 2), two(date, 0), two(time, 0), two(time, 2),
                             two(time, 4), out))
    return false;
  double fraction = 0;
  if (time.size() > 7 && gps_text::parse_double(std::string("0") += time.substr(6), fraction) &&
      fraction > 0.5)
    ++out;
  return true;
}

// A fix from its fields; false drops it.
bool make_point(std::string_view lat, std::string_view ns, std::string_view lon,
                std::string_view ew, std::string_view date, std::string_view time, double ele,
                GpsPoint& point) {
  double la = 0, lo = 0;
  if (!parse_degrees(lat, 2, la) || !parse_degrees(lon, 3, lo) || la > 90 || lo > 180 ||
      !parse_fix_time(date, time, point.time))
    return false;
  if (ns == "S") la = -la;
  if (ew == "W") lo = -lo;
  point.lat = static_cast<float>(la);
  point.lon = static_cast<float>(lo);
  point.ele = static_cast<float>(ele);
  return true;
}

// "$GPGGA" fix kept until the file's dates are known.
struct UndatedFix {
  std::string lat, ns, lon, ew, time;
  double ele = 0;
  std::string date;  // the date in force at its line; empty before the first one
};

bool is_date(std::string_view text) {
  return text.size() == 6 && text.find_first_not_of("0123456789") == std::string_view::npos;
}

class LogReader {
 public:
  LogReader(GpsTrack& track, bool nmea_only) : track_(track), nmea_only_(nmea_only) {}

  void line(std::string_view text) {
    text = trim(text);
    if (text.empty() || text.front() != '$') return;
    const std::vector<std::string_view> f = split_fields(text);
    if (f[0] == "$GPGGA") gga(f);
    else if (f[0] == "$GPRMC") rmc(f);
    else if (f[0] == "$GPZDA") zda(f);
    else if (f[0] == "$PMGNTRK" && !nmea_only_) magellan(f);
  }

  // Settles which fixes make the track: the "$PMGNTRK" ones, else the "$GPRMC" ones, else the
  // "$GPGGA" ones; false (with `message`) when those need a date that neither the file nor
  // `fallback_date` gives.
  bool finish(std::string_view fallback_date, std::string& message) {
    if (!track_.points.empty()) return true;
    if (!nmea_.empty()) {
      track_.points = std::move(nmea_);
      return true;
    }
    if (undated_.empty()) return true;
    if (first_date_.empty() && !is_date(fallback_date)) {
      message = kUndatedFixesMessage;
      return false;
    }
    const std::string_view first = first_date_.empty() ? fallback_date : first_date_;
    std::string_view day;
    std::int64_t carried = 0;
    std::optional<std::int64_t> previous;
    for (const UndatedFix& fix : undated_) {
      const std::string_view date = fix.date.empty() ? first : fix.date;
      if (date != day) {
        day = date;
        carried = 0;
        previous.reset();
      }
      GpsPoint p;
      if (!make_point(fix.lat, fix.ns, fix.lon, fix.ew, date, fix.time, fix.ele, p)) continue;
      p.time += carried;
      if (previous && p.time < *previous - kSecondsPerDay / 2) {
        carried += kSecondsPerDay;
        p.time += kSecondsPerDay;
      }
      previous = p.time;
      track_.points.push_back(p);
    }
    return true;
  }

 private:
  // Elevation in field 9, its unit in field 10; it holds for the fixes that follow. The line is
  // also a fix (time 1, latitude 2-3, longitude 4-5, quality 6), used when the file has no other.
  void gga(const std::vector<std::string_view>& f) {
    double ele = 0;
    if (gps_text::parse_double(field(f, 9), ele))
      elevation_ = field(f, 10).substr(0, 1) == "F" ? ele * kFeetToMetres : ele;
    int quality = 0;
    if (!track_.points.empty() || !nmea_.empty() ||
        !gps_text::parse_digits(field(f, 6), quality) || quality == 0)
      return;  // a file with other fixes never uses these
    undated_.push_back(UndatedFix{std::string(field(f, 2)), std::string(field(f, 3)),
                                  std::string(field(f, 4)), std::string(field(f, 5)),
                                  std::string(field(f, 1)), elevation_, date_});
  }

  void rmc(const std::vector<std::string_view>& f) {
    if (is_date(field(f, 9))) note_date(field(f, 9));
    GpsPoint p;
    if (field(f, 2) == "A" && make_point(field(f, 3), field(f, 4), field(f, 5), field(f, 6),
                                         field(f, 9), field(f, 1), elevation_, p))
      nmea_.push_back(p);
  }

  // Time 1, day 2, month 3, four-digit year 4.
  void zda(const std::vector<std::string_view>& f) {
    const std::string_view day = field(f, 2), month = field(f, 3), year = field(f, 4);
    if (day.size() != 2 || month.size() != 2 || year.size() != 4) return;
    std::string date = std::string(day) += month;
    date += year.substr(2);
    if (is_date(date)) note_date(date);
  }

  void note_date(std::string_view date) {
    date_ = date;
    if (first_date_.empty()) first_date_ = date;
  }

  // Latitude 1-2, longitude 3-4, elevation 5-6, time 7, status 8, date 9, or 10 when field 9
  // gives none: receivers that name the track put the name in field 9, and reading a name as a
  // date would put the fix on no day at all.
  void magellan(const std::vector<std::string_view>& f) {
    double ele = 0;
    if (!gps_text::parse_double(field(f, 5), ele)) ele = 0;
    if (field(f, 6).substr(0, 1) == "F") ele *= kFeetToMetres;
    std::string_view date = is_date(field(f, 9)) ? field(f, 9) : field(f, 10);
    if (field(f, 8) != "A") date = kInvalidFixDate;
    GpsPoint p;
    if (make_point(field(f, 1), field(f, 2), field(f, 3), field(f, 4), date, field(f, 7), ele, p))
      track_.points.push_back(p);
  }

  GpsTrack& track_;
  const bool nmea_only_;
  double elevation_ = 0;
  std::string date_, first_date_;  // "ddmmyy"
  std::vector<GpsPoint> nmea_;  // "$GPRMC" fixes, the track when no "$PMGNTRK" fix comes
  std::vector<UndatedFix> undated_;
};

}  // namespace

std::optional<std::string> undated_fix_date_of(std::string_view iso_date) {
  if (iso_date.size() != 10 || iso_date[4] != '-' || iso_date[7] != '-') return std::nullopt;
  const std::string digits = std::string(iso_date.substr(0, 4)) += std::string(
                             iso_date.substr(5, 2)) += iso_date.substr(8, 2);
  if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const int year = std::stoi(digits.substr(0, 4)), month = std::stoi(digits.substr(4, 2)),
            day = std::stoi(digits.substr(6, 2));
  std::int64_t seconds = 0;
  if (year < 1969 || year > 2068 || !gps_text::utc_seconds(year, month, day, 0, 0, 0, seconds))
    return std::nullopt;
  // The calendar moves 2024-02-30 on to March; such a date is no date.
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (!gmtime_r(&t, &tm) || tm.tm_mday != day) return std::nullopt;
  return digits.substr(6, 2) + digits.substr(4, 2) + digits.substr(2, 2);
}

bool GPX::load_log_text(std::string_view bytes, const std::string& path, std::string& message) {
  try {
    const std::string utf8 = gps_text::utf8_track_text(bytes);
    std::string_view text = utf8;
    tracks.emplace_back();
    GpsTrack& track = tracks.back();
    track.file = path;
    LogReader reader(track, text.substr(0, 8) == "@Sonygps");
    while (!text.empty()) {
      std::size_t end = text.find('\n');
      reader.line(text.substr(0, end));
      if (end == std::string_view::npos) break;
      text.remove_prefix(end + 1);
    }
    if (!reader.finish(undated_fix_date, message)) {
      tracks.pop_back();
      return false;
    }
  } catch (const std::bad_alloc&) {
    message = "Can't allocate memory for track points";
    return false;
  }
  return true;
}

}  // namespace cw
