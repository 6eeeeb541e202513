// Zone files (TZif, version 2 or later) and their POSIX rules.
#include "foundation/zone_db.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace cw {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int32_t kSecondsPerHour = 3600;
// Zone files are a few kilobytes; anything much larger is not one.
constexpr std::uintmax_t kMaxZoneFileSize = 1u << 20;
constexpr std::size_t kMaxZoneNameLength = 255;
constexpr const char* kDefaultZoneFolder = "/usr/share/zoneinfo";
// No zone is more than a day and a few hours off UTC.
constexpr std::int32_t kMaxOffset = 26 * 3600;

// Days since 1970-01-01 of a proleptic Gregorian date, for any year (no library calendar
// limits, no time zone involved).
std::int64_t days_from_civil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::int64_t year_of_days(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  return yoe + era * 400 + (mp >= 10 ? 1 : 0);
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

bool is_leap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(std::int64_t y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && is_leap(y) ? 29 : kDays[m - 1];
}

std::uint32_t be32(const unsigned char* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

std::int64_t be64(const unsigned char* p) {
  return static_cast<std::int64_t>(std::uint64_t{be32(p)} << 32 | be32(p + 4));
}

// Reads POSIX rule text left to right.
class RuleReader {
 public:
  explicit RuleReader(std::string_view text) : text_(text) {}
  bool done() const { return at_ == text_.size(); }
  char peek() const { return done() ? '\0' : text_[at_]; }
  bool take(char c) {
    if (peek() != c) return false;
    ++at_;
    return true;
  }

  // An abbreviation: three or more letters, or anything but '>' between '<' and '>'.
  bool name(std::string& out) {
    const std::size_t from = at_;
    if (take('<')) {
      while (!done() && peek() != '>') ++at_;
      out = std::string(text_.substr(from + 1, at_ - from - 1));
      return take('>') && !out.empty();
    }
    while (!done() && ((peek() >= 'A' && peek() <= 'Z') || (peek() >= 'a' && peek() <= 'z'))) ++at_;
    out = std::string(text_.substr(from, at_ - from));
    return out.size() >= 3;
  }

  // [+-]h[hh][:mm[:ss]] in seconds; hours up to `max_hours`.
  bool clock(std::int32_t& out, int max_hours) {
    const bool negative = take('-');
    if (!negative) take('+');
    int parts[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
      if (i > 0 && !take(':')) break;
      int digits = 0, value = 0;
      while (peek() >= '0' && peek() <= '9' && digits < 3) {
        value = value * 10 + (text_[at_++] - '0');
        ++digits;
      }
      if (digits == 0 || (i > 0 && (digits != 2 || value > 59))) return false;
      parts[i] = value;
    }
    if (parts[0] > max_hours) return false;
    out = (parts[0] * kSecondsPerHour + parts[1] * 60 + parts[2]) * (negative ? -1 : 1);
    return true;
  }

  bool number(int& out, int low, int high) {
    int digits = 0;
    out = 0;
    while (peek() >= '0' && peek() <= '9' && digits < 4) {
      out = out * 10 + (text_[at_++] - '0');
      ++digits;
    }
    return digits > 0 && out >= low && out <= high;
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

bool read_rule_date(RuleReader& in, char& form, int& month, int& week, int& day,
                    std::int32_t& time) {
  if (in.take('M')) {
    form = 'M';
    if (!in.number(month, 1, 12) || !in.take('.') || !in.number(week, 1, 5) || !in.take('.') ||
        !in.number(day, 0, 6))
      return false;
  } else if (in.take('J')) {
    form = 'J';
    if (!in.number(day, 1, 365)) return false;
  } else {
    form = 'D';
    if (!in.number(day, 0, 365)) return false;
  }
  time = 2 * kSecondsPerHour;
  return !in.take('/') || in.clock(time, 167);
}

// The day (since 1970) in year `y` on which a rule date falls.
std::int64_t rule_day(std::int64_t y, char form, int month, int week, int day) {
  const std::int64_t jan1 = days_from_civil(y, 1, 1);
  if (form == 'J') return jan1 + day - 1 + (is_leap(y) && day >= 60 ? 1 : 0);
  if (form == 'D') return jan1 + day;
  const std::int64_t first = days_from_civil(y, month, 1);
  const int weekday = static_cast<int>(((first + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
  std::int64_t d = first + (day - weekday + 7) % 7 + 7 * (week - 1);
  while (d >= first + days_in_month(y, month)) d -= 7;  // week 5: the last such weekday
  return d;
}

std::string unknown_zone(const std::string& name) { return "unknown time zone '" + name + "'"; }

// A name that stays inside the database's folder and can be a file name there.
bool plausible_zone_name(const std::string& name) {
  if (name.empty() || name.size() > kMaxZoneNameLength || name.front() == '/' ||
      name.find("..") != std::string::npos)
    return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '/' || c == '_' || c == '-' || c == '+' || c == '.';
  });
}

bool read_file(const std::string& path, std::string& bytes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uintmax_t>(st.st_size) > kMaxZoneFileSize)
    return false;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  bytes = out.str();
  return static_cast<bool>(in) || in.eof();
}

bool starts_as_zone_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  return in.read(magic, 4) && std::string_view(magic, 4) == "TZif";
}

}  // namespace

bool ZoneRules::parse_rule(std::string_view text, Rule& rule) {
  RuleReader in(text);
  std::int32_t west = 0;
  if (!in.name(rule.standard.abbreviation) || !in.clock(west, 24)) return false;
  rule.standard.utc_offset = -west;
  rule.standard.summer_time = false;
  rule.has_summer = !in.done();
  if (!rule.has_summer) return true;
  if (!in.name(rule.summer.abbreviation)) return false;
  rule.summer.summer_time = true;
  rule.summer.utc_offset = rule.standard.utc_offset + kSecondsPerHour;
  if (in.peek() != ',' && !in.done()) {
    if (!in.clock(west, 24)) return false;
    rule.summer.utc_offset = -west;
  }
  if (in.done()) {  // no dates: the customary second Sunday of March to first Sunday of November
    rule.start = RuleDate{'M', 3, 2, 0, 7200};
    rule.end = RuleDate{'M', 11, 1, 0, 7200};
    return true;
  }
  for (RuleDate* date : {&rule.start, &rule.end})
    if (!in.take(',') ||
        !read_rule_date(in, date->form, date->month, date->week, date->day, date->time))
      return false;
  return in.done();
}

LocalTimeType ZoneRules::rule_at(const Rule& rule, std::int64_t utc) {
  if (!rule.has_summer) return rule.standard;
  const std::int64_t year =
      year_of_days(floor_div(utc + rule.standard.utc_offset, kSecondsPerDay));
  // Each change happens at a local time of the clocks in force before it.
  const std::int64_t start =
      rule_day(year, rule.start.form, rule.start.month, rule.start.week, rule.start.day) *
          kSecondsPerDay + rule.start.time - rule.standard.utc_offset;
  const std::int64_t end =
      rule_day(year, rule.end.form, rule.end.month, rule.end.week, rule.end.day) *
          kSecondsPerDay + rule.end.time - rule.summer.utc_offset;
  // Southern zones have summer time across the new year: outside [end, start).
  const bool summer = start < end ? start <= utc && utc < end : !(end <= utc && utc < start);
  return summer ? rule.summer : rule.standard;
}

std::optional<ZoneRules> ZoneRules::from_posix(std::string_view text, std::string& error) {
  Rule rule;
  if (!parse_rule(text, rule)) {
    error = "time zone rule '" + std::string(text) + "' cannot be read";
    return std::nullopt;
  }
  ZoneRules zone;
  zone.name_ = std::string(text);
  zone.types_.push_back(rule.standard);
  zone.rule_ = rule;
  return zone;
}

std::optional<ZoneRules> ZoneRules::from_tzif(std::string_view bytes, const std::string& name,
                                              std::string& error) {
  constexpr std::size_t kHeader = 44;
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() < kHeader || bytes.substr(0, 4) != "TZif") {
    error = unknown_zone(name);
    return std::nullopt;
  }
  const std::string damaged = "the zone file of '" + name + "' is damaged";
  if (b[4] < '2') {
    error = "the zone file of '" + name + "' is too old (version 2 or later is needed)";
    return std::nullopt;
  }
  // Counts: UT/local indicators, standard/wall indicators, leap seconds, transitions, types,
  // abbreviation characters.
  auto counts = [&](std::size_t at, std::uint64_t c[6]) {
    for (int i = 0; i < 6; ++i) c[i] = be32(b + at + 20 + 4 * i);
  };
  std::uint64_t c[6];
  counts(0, c);
  const std::uint64_t v1 = c[3] * 5 + c[4] * 6 + c[5] + c[2] * 8 + c[1] + c[0];
  if (kHeader + v1 + kHeader > bytes.size() || bytes.substr(kHeader + v1, 4) != "TZif") {
    error = damaged;
    return std::nullopt;
  }
  const std::size_t second = kHeader + v1;
  counts(second, c);
  const std::uint64_t isut = c[0], isstd = c[1], leaps = c[2], times = c[3], types = c[4],
                      chars = c[5];
  const std::uint64_t body = times * 9 + types * 6 + chars + leaps * 12 + isstd + isut;
  if (types == 0 || types > 256 || chars == 0 || second + kHeader + body > bytes.size()) {
    error = damaged;
    return std::nullopt;
  }
  ZoneRules zone;
  zone.name_ = name;
  const unsigned char* p = b + second + kHeader;
  const unsigned char* indices = p + times * 8;
  const unsigned char* type_table = indices + times;
  const char* abbreviations = reinterpret_cast<const char*>(type_table + types * 6);
  for (std::uint64_t i = 0; i < times; ++i) {
    const Transition t{be64(p + 8 * i), indices[i]};
    if (t.type >= types || (i > 0 && t.at <= zone.transitions_.back().at)) {
      error = damaged;
      return std::nullopt;
    }
    zone.transitions_.push_back(t);
  }
  for (std::uint64_t i = 0; i < types; ++i) {
    const unsigned char* t = type_table + 6 * i;
    const std::uint8_t abbreviation = t[5];
    const auto offset = static_cast<std::int32_t>(be32(t));
    if (abbreviation >= chars || t[4] > 1 || offset < -kMaxOffset || offset > kMaxOffset) {
      error = damaged;
      return std::nullopt;
    }
    const std::string_view rest(abbreviations + abbreviation, chars - abbreviation);
    zone.types_.push_back(LocalTimeType{offset, t[4] == 1,
                                        std::string(rest.substr(0, rest.find('\0')))});
  }
  // The footer: the rule, between two newlines.
  std::string_view footer = bytes.substr(second + kHeader + body);
  if (footer.size() < 2 || footer.front() != '\n' ||
      footer.find('\n', 1) == std::string_view::npos) {
    error = damaged;
    return std::nullopt;
  }
  footer = footer.substr(1, footer.find('\n', 1) - 1);
  if (!footer.empty()) {
    Rule rule;
    if (!parse_rule(footer, rule)) {
      error = damaged;
      return std::nullopt;
    }
    zone.rule_ = rule;
  }
  return zone;
}

std::optional<ZoneRules> ZoneRules::load(const std::string& name, std::string& error) {
  std::string bytes;
  if (!plausible_zone_name(name) || !read_file(zone_database_folder() + "/" + name, bytes)) {
    error = unknown_zone(name);
    return std::nullopt;
  }
  return from_tzif(bytes, name, error);
}

LocalTimeType ZoneRules::at_utc(std::int64_t utc) const {
  if (transitions_.empty()) return rule_ ? rule_at(*rule_, utc) : types_.front();
  if (utc < transitions_.front().at) return types_.front();
  if (utc >= transitions_.back().at && rule_) return rule_at(*rule_, utc);
  auto after = std::upper_bound(transitions_.begin(), transitions_.end(), utc,
                                [](std::int64_t t, const Transition& x) { return t < x.at; });
  return types_[(after - 1)->type];
}

std::int64_t ZoneRules::to_utc(std::int64_t local) const {
  // The offsets a day before and a day after: around a change they differ, and each is right
  // for the local times on its side of it. Changes less than two days apart do not occur in
  // the database's current rules.
  const std::int32_t before = at_utc(local - kSecondsPerDay).utc_offset;
  const std::int32_t after = at_utc(local + kSecondsPerDay).utc_offset;
  if (at_utc(local - before).utc_offset == before) return local - before;  // incl. a fold's first
  if (at_utc(local - after).utc_offset == after) return local - after;
  return local - before;  // a skipped time: read with the offset before the change
}

std::string zone_database_folder() {
  const char* folder = std::getenv("TZDIR");
  return folder && *folder ? folder : kDefaultZoneFolder;
}

std::vector<std::string> zone_names() {
  namespace fs = std::filesystem;
  const std::string folder = zone_database_folder();
  std::set<std::string> names;
  for (const char* table : {"zone1970.tab", "zone.tab"}) {
    std::ifstream in(folder + "/" + table);
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream fields(line);
      std::string codes, coordinates, name;
      if (std::getline(fields, codes, '\t') && std::getline(fields, coordinates, '\t') &&
          std::getline(fields, name, '\t') && plausible_zone_name(name))
        names.insert(name);
    }
  }
  if (!names.empty()) {
    names.insert("UTC");
    return {names.begin(), names.end()};
  }
  std::error_code ec;
  const auto options = fs::directory_options::skip_permission_denied;
  for (fs::recursive_directory_iterator it(folder, options, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string relative = it->path().lexically_relative(folder).string();
    if (it->is_directory(ec)) {
      // Copies of the database with other conventions (leap seconds, POSIX names).
      if (relative == "posix" || relative == "right") it.disable_recursion_pending();
      continue;
    }
    if (relative != "posixrules" && relative != "localtime" && relative != "Factory" &&
        plausible_zone_name(relative) && starts_as_zone_file(it->path()))
      names.insert(relative);
  }
  return {names.begin(), names.end()};
}

}  // namespace cw
