// Date forms of movies and clip companions converted to the EXIF form.
#include "imagefile/movie_facts.h"

#include <dirent.h>
#include <strings.h>

#include <cstdio>
#include <ctime>
#include <memory>

namespace cw {

namespace {

// A clip's XML companion is read up to this many bytes (what is wanted is near the top).
constexpr std::size_t kMaxCompanionRead = 64u << 10;

// `n` digits at `p` of `s` as a number; false when they are not all digits.
bool digits(std::string_view s, std::size_t p, std::size_t n, int& value) {
  if (p + n > s.size()) return false;
  value = 0;
  for (std::size_t i = p; i < p + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    value = value * 10 + (s[i] - '0');
  }
  return true;
}

std::string exif_text(int y, int mo, int d, int h, int mi, int s) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d:%02d:%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
  return buf;
}

std::string offset_text(long seconds) {
  const char sign = seconds < 0 ? '-' : '+';
  const long magnitude = seconds < 0 ? -seconds : seconds;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%c%02ld:%02ld", sign, magnitude / 3600, magnitude / 60 % 60);
  return buf;
}

}  // namespace

bool iso_datetime_to_exif(std::string_view text, std::string& date, std::string& offset) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  int y, mo, d, h, mi, s;
  auto separator = [&](std::size_t p, std::string_view allowed) {
    return p < text.size() && allowed.find(text[p]) != std::string_view::npos;
  };
  if (!digits(text, 0, 4, y) || !separator(4, "-:") || !digits(text, 5, 2, mo) ||
      !separator(7, "-:") || !digits(text, 8, 2, d) || !separator(10, "T ") ||
      !digits(text, 11, 2, h) || !separator(13, ":") || !digits(text, 14, 2, mi) ||
      !separator(16, ":") || !digits(text, 17, 2, s))
    return false;
  if (y == 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return false;
  std::size_t p = 19;
  if (p < text.size() && text[p] == '.')
    for (++p; p < text.size() && text[p] >= '0' && text[p] <= '9';) ++p;
  offset.clear();
  if (p < text.size() && (text[p] == 'Z' || text[p] == 'z')) {
    offset = "+00:00";
  } else if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
    int zh = 0, zm = 0;
    if (!digits(text, p + 1, 2, zh)) return false;
    std::size_t q = p + 3;
    if (q < text.size() && text[q] == ':') ++q;
    if (q < text.size() && !digits(text, q, 2, zm)) return false;
    if (zh > 14 || zm > 59) return false;
    offset = offset_text((text[p] == '-' ? -1 : 1) * (zh * 3600L + zm * 60L));
  }
  date = exif_text(y, mo, d, h, mi, s);
  return true;
}

bool utc_to_exif(std::int64_t unix_seconds, bool as_local, std::string& date, std::string& offset) {
  // Beyond the year 9999 (and far enough to overflow the calendar fields) there is no date.
  constexpr std::int64_t kLastSecond = 253402300799;  // 9999-12-31 23:59:59
  if (unix_seconds > kLastSecond) return false;
  const std::time_t t = static_cast<std::time_t>(unix_seconds);
  std::tm tm{};
  offset.clear();
  if (!(as_local ? gmtime_r(&t, &tm) : localtime_r(&t, &tm))) return false;
  if (tm.tm_year + 1900 > 9999) return false;
  if (!as_local) offset = offset_text(tm.tm_gmtoff);
  date = exif_text(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return true;
}

std::string xml_attribute(std::string_view xml, std::string_view element,
                          std::string_view attribute) {
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  for (std::size_t at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at + 1)) {
    const std::size_t after = at + 1 + element.size();
    if (xml.compare(at + 1, element.size(), element) != 0 || after >= xml.size() ||
        !(space(xml[after]) || xml[after] == '/' || xml[after] == '>'))
      continue;
    const std::size_t close = xml.find('>', after);
    const std::string_view tag =
        xml.substr(after, close == std::string_view::npos ? std::string_view::npos : close - after);
    for (std::size_t p = tag.find(attribute); p != std::string_view::npos;
         p = tag.find(attribute, p + 1)) {
      const std::size_t q = p + attribute.size();
      if (p == 0 || !space(tag[p - 1]) || q + 1 >= tag.size() || tag[q] != '=') continue;
      const char quote = tag[q + 1];
      const std::size_t end = tag.find(quote, q + 2);
      if ((quote != '"' && quote != '\'') || end == std::string_view::npos) return {};
      return std::string(tag.substr(q + 2, end - q - 2));
    }
    return {};
  }
  return {};
}

bool companion_creation_date(std::string_view xml, std::string& date, std::string& offset) {
  return iso_datetime_to_exif(xml_attribute(xml, "CreationDate", "value"), date, offset);
}

std::string find_clip_companion(const std::string& clip_path) {
  const std::size_t slash = clip_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : clip_path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? clip_path : clip_path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return {};
  const std::string wanted = name.substr(0, dot) + "M01.XML";
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return {};
  while (const dirent* entry = ::readdir(dir.get()))
    if (::strcasecmp(entry->d_name, wanted.c_str()) == 0)
      return (slash == std::string::npos ? std::string() : folder) + entry->d_name;
  return {};
}

void read_clip_companion(const std::string& clip_path, MovieFacts& facts) {
  const std::string companion = find_clip_companion(clip_path);
  if (companion.empty()) return;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(companion.c_str(), "rb"),
                                                       std::fclose);
  if (!file) return;
  std::string text(kMaxCompanionRead, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file.get()));
  std::string date, offset;
  if (companion_creation_date(text, date, offset))
    facts.offer_date(date, offset, "clip companion " + companion.substr(companion.rfind('/') + 1));
  facts.make = xml_attribute(text, "Device", "manufacturer");
  facts.model = xml_attribute(text, "Device", "modelName");
}

}  // namespace cw
