// Our strptime: the conversion set, names, white space, two-digit years, and refusals.
#include <gtest/gtest.h>

#include <cstdio>

#include "metadata/strptime.h"

namespace cw {
namespace {

struct Parsed {
  const char* end = nullptr;
  std::tm tm{};
};

Parsed parse(const char* text, const char* format) {
  Parsed p;
  p.end = cw::strptime(text, format, &p.tm);
  return p;
}

// A parse as "year/mon/mday hour:min:sec wday yday|rest", or "refused".
std::string fields(const char* text, const char* format) {
  Parsed p = parse(text, format);
  if (!p.end) return "refused";
  const std::tm& t = p.tm;
  char b[96];
  std::snprintf(b, sizeof b, "%d/%d/%d %d:%d:%d w%d d%d|", t.tm_year, t.tm_mon, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday, t.tm_yday);
  return b + std::string(p.end);
}

TEST(Strptime, NumbersDatesAndDerivedFields) {
  // Weekday and day of the year are derived: 2011-03-05 was a Saturday; 2012 is a leap year.
  EXPECT_EQ(fields("20110305_142233", "%Y%m%d_%H%M%S"), "111/2/5 14:22:33 w6 d63|");
  EXPECT_EQ(fields("2012-02-29T23:59:60Z rest", "%Y-%m-%dT%TZ"), "112/1/29 23:59:60 w3 d59| rest");
  EXPECT_EQ(fields("2012 366", "%Y %j"), "112/11/31 0:0:0 w1 d365|");
  // %c is "%x %X" and %x is "%m/%d/%y"; two-digit years pivot at 69.
  EXPECT_EQ(fields("03/05/11 14:22:33", "%c"), "111/2/5 14:22:33 w6 d63|");
  EXPECT_EQ(parse("1/2/69", "%D").tm.tm_year, 69);
  EXPECT_EQ(parse("1/2/68", "%D").tm.tm_year, 168);
  EXPECT_EQ(parse("19 05", "%C %y").tm.tm_year, 5);
  EXPECT_EQ(parse("20", "%C").tm.tm_year, 100);
}

TEST(Strptime, NamesTwelveHourClockAndWhiteSpace) {
  EXPECT_EQ(fields("saturday, MAR  5 2011", "%A, %b %e %Y"), "111/2/5 0:0:0 w6 d63|");
  Parsed p = parse("Sat September", "%a %B");
  ASSERT_NE(p.end, nullptr);
  EXPECT_EQ(p.tm.tm_wday, 6);
  EXPECT_EQ(p.tm.tm_mon, 8);
  EXPECT_EQ(parse("Sept", "%b").end - "Sept", 3);  // abbreviation, the rest left over

  EXPECT_EQ(parse("12:05:01 AM", "%r").tm.tm_hour, 0);
  EXPECT_EQ(parse("12:05:01 pm", "%r").tm.tm_hour, 12);
  EXPECT_EQ(parse("3:05 PM", "%l:%M %p").tm.tm_hour, 15);
  EXPECT_EQ(parse("7:08", "%R").tm.tm_min, 8);
  // White space in the format, %n and %t match any run, including none.
  EXPECT_NE(parse("1\t\n 2", "%d %m").end, nullptr);
  EXPECT_NE(parse("01\n02", "%d%n%t%m").end, nullptr);
  EXPECT_NE(parse("0102", "%d%n%t%m").end, nullptr);
  EXPECT_NE(parse("100%", "%j%%").end, nullptr);
  EXPECT_NE(parse("52 01", "%U %W").end, nullptr);
  EXPECT_EQ(parse("2011", "%EY").tm.tm_year, 111);
}

TEST(Strptime, RefusesWhatDoesNotMatch) {
  for (auto [text, format] : std::initializer_list<std::pair<const char*, const char*>>{
           {"YYYYMMDD_hhmmss", "%Y%m%d_%H%M%S"},
           {"20111305", "%Y%m%d"},   // month 13
           {"20110300", "%Y%m%d"},   // day 0
           {"24:00", "%H:%M"},
           {"13", "%I"},
           {"2011-03", "%Y/%m"},     // literal mismatch
           {"Mrz", "%B"},
           {"", "%d"},
           {"5 XM", "%I %p"},
           {"5", "%Q"},              // unknown conversion
           {"5", "%"},
       }) {
    std::tm tm{};
    EXPECT_EQ(cw::strptime(text, format, &tm), nullptr) << text << " / " << format;
  }
}

}  // namespace
}  // namespace cw
