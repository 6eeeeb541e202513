// Our strptime: see strptime.h for the conversion set.
#include "metadata/strptime.h"

#include <strings.h>

#include <cctype>
#include <cstring>

namespace cw {
namespace {

const char* const kMonths[12] = {"January", "February", "March",     "April",
                                 "May",     "June",     "July",      "August",
                                 "September", "October", "November", "December"};
const char* const kWeekdays[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};

// What the conversions have seen; the year is assembled from %C and %y only at the end.
struct ParseState {
  bool have_year = false, have_century = false, have_short_year = false;
  bool have_month = false, have_mday = false, have_yday = false;
  bool twelve_hour = false, have_pm = false, pm = false;
  int century = 0, short_year = 0, hour12 = 0;
};

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

const char* skip_space(const char* s) {
  while (is_space(*s)) ++s;
  return s;
}

// Reads an unsigned decimal number of at most `digits` digits within [lo, hi].
const char* read_number(const char* s, int digits, int lo, int hi, int* out) {
  s = skip_space(s);
  int value = 0, n = 0;
  while (n < digits && std::isdigit(static_cast<unsigned char>(*s))) {
    value = value * 10 + (*s - '0');
    ++s;
    ++n;
  }
  if (n == 0 || value < lo || value > hi) return nullptr;
  *out = value;
  return s;
}

// Matches a full or three-letter name from `names`, longest first; stores its index.
const char* read_name(const char* s, const char* const* names, int count, int* out) {
  for (int i = 0; i < count; ++i) {
    std::size_t full = std::strlen(names[i]);
    if (strncasecmp(s, names[i], full) == 0) {
      *out = i;
      return s + full;
    }
  }
  for (int i = 0; i < count; ++i) {
    if (strncasecmp(s, names[i], 3) == 0) {
      *out = i;
      return s + 3;
    }
  }
  return nullptr;
}

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_before_month(int year, int month) {
  static const int kCumulative[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  return kCumulative[month] + (month > 1 && is_leap(year) ? 1 : 0);
}

// Day of the week of a Gregorian date (0 = Sunday).
int weekday_of(int year, int month, int mday) {
  static const int kOffsets[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  int y = month < 2 ? year - 1 : year;
  int w = (y + y / 4 - y / 100 + y / 400 + kOffsets[month] + mday) % 7;
  return w < 0 ? w + 7 : w;
}

const char* parse(const char* s, const char* f, std::tm* tm, ParseState& st);

const char* convert(const char* s, char c, std::tm* tm, ParseState& st) {
  int v = 0;
  switch (c) {
    case '%':
      return *s == '%' ? s + 1 : nullptr;
    case 'A':
    case 'a':
      s = read_name(s, kWeekdays, 7, &v);
      if (s) tm->tm_wday = v;
      return s;
    case 'B':
    case 'b':
    case 'h':
      s = read_name(s, kMonths, 12, &v);
      if (s) {
        tm->tm_mon = v;
        st.have_month = true;
      }
      return s;
    case 'C':
      s = read_number(s, 2, 0, 99, &v);
      if (s) {
        st.century = v;
        st.have_century = true;
      }
      return s;
    case 'c':
      return parse(s, "%x %X", tm, st);
    case 'D':
    case 'x':
      return parse(s, "%m/%d/%y", tm, st);
    case 'd':
    case 'e':
      s = read_number(s, 2, 1, 31, &v);
      if (s) {
        tm->tm_mday = v;
        st.have_mday = true;
      }
      return s;
    case 'H':
    case 'k':
      s = read_number(s, 2, 0, 23, &v);
      if (s) {
        tm->tm_hour = v;
        st.twelve_hour = false;
      }
      return s;
    case 'I':
    case 'l':
      s = read_number(s, 2, 1, 12, &v);
      if (s) {
        st.hour12 = v;
        st.twelve_hour = true;
      }
      return s;
    case 'j':
      s = read_number(s, 3, 1, 366, &v);
      if (s) {
        tm->tm_yday = v - 1;
        st.have_yday = true;
      }
      return s;
    case 'M':
      s = read_number(s, 2, 0, 59, &v);
      if (s) tm->tm_min = v;
      return s;
    case 'm':
      s = read_number(s, 2, 1, 12, &v);
      if (s) {
        tm->tm_mon = v - 1;
        st.have_month = true;
      }
      return s;
    case 'n':
    case 't':
      return skip_space(s);
    case 'p':
      if (strncasecmp(s, "AM", 2) == 0 || strncasecmp(s, "PM", 2) == 0) {
        st.have_pm = true;
        st.pm = std::toupper(static_cast<unsigned char>(*s)) == 'P';
        return s + 2;
      }
      return nullptr;
    case 'R':
      return parse(s, "%H:%M", tm, st);
    case 'r':
      return parse(s, "%I:%M:%S %p", tm, st);
    case 'S':
      s = read_number(s, 2, 0, 61, &v);
      if (s) tm->tm_sec = v;
      return s;
    case 'T':
    case 'X':
      return parse(s, "%H:%M:%S", tm, st);
    case 'U':
    case 'W':
      return read_number(s, 2, 0, 53, &v);  // read and checked; the date comes from elsewhere
    case 'Y':
      s = read_number(s, 4, 0, 9999, &v);
      if (s) {
        tm->tm_year = v - 1900;
        st.have_year = true;
        st.have_century = st.have_short_year = false;
      }
      return s;
    case 'y':
      s = read_number(s, 2, 0, 99, &v);
      if (s) {
        st.short_year = v;
        st.have_short_year = true;
      }
      return s;
    default:
      return nullptr;
  }
}

const char* parse(const char* s, const char* f, std::tm* tm, ParseState& st) {
  while (*f) {
    if (is_space(*f)) {
      s = skip_space(s);
      ++f;
      continue;
    }
    if (*f != '%') {
      if (*s != *f) return nullptr;
      ++s;
      ++f;
      continue;
    }
    ++f;
    if (*f == 'E' || *f == 'O') ++f;
    if (*f == '\0') return nullptr;
    s = convert(s, *f, tm, st);
    if (!s) return nullptr;
    ++f;
  }
  return s;
}

}  // namespace

const char* strptime(const char* text, const char* format, std::tm* tm) {
  if (!text || !format || !tm) return nullptr;
  ParseState st;
  const char* end = parse(text, format, tm, st);
  if (!end) return nullptr;

  if (st.have_century || st.have_short_year) {
    int year;
    if (st.have_century)
      year = st.century * 100 + (st.have_short_year ? st.short_year : 0);
    else
      year = st.short_year < 69 ? 2000 + st.short_year : 1900 + st.short_year;
    tm->tm_year = year - 1900;
    st.have_year = true;
  }
  if (st.twelve_hour) tm->tm_hour = st.hour12 % 12 + (st.have_pm && st.pm ? 12 : 0);

  if (st.have_year) {
    int year = tm->tm_year + 1900;
    if (st.have_month && st.have_mday) {
      tm->tm_yday = days_before_month(year, tm->tm_mon) + tm->tm_mday - 1;
      tm->tm_wday = weekday_of(year, tm->tm_mon, tm->tm_mday);
    } else if (st.have_yday && !st.have_month && !st.have_mday) {
      int month = 11;
      while (month > 0 && days_before_month(year, month) > tm->tm_yday) --month;
      tm->tm_mon = month;
      tm->tm_mday = tm->tm_yday - days_before_month(year, month) + 1;
      tm->tm_wday = weekday_of(year, month, tm->tm_mday);
    }
  }
  return end;
}

}  // namespace cw
