// Small text helpers shared by the track readers: trimming, locale-independent numbers and
// calendar times taken as UTC.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cw::gps_text {

std::string_view trim(std::string_view s);

// A decimal number (optional sign, fraction, exponent) making up the whole of `s` after
// trimming; false for anything else, infinities and NaN included. The decimal point is "."
// whatever the process's locale says.
bool parse_double(std::string_view s, double& out);
// The leading digits of `s` as a number (at most 9 of them); false when there are none.
bool parse_digits(std::string_view s, int& out);

// A track file's bytes as UTF-8 text. UTF-16 (little- or big-endian) is recognised by its
// byte-order mark, or without one by the zero bytes that every ASCII character then carries;
// a UTF-8 byte-order mark is dropped. Anything else is returned as it is.
std::string utf8_track_text(std::string_view bytes);

// UTC seconds of a calendar time; false when a field is out of its range.
bool utc_seconds(int year, int month, int day, int hour, int minute, int second,
                 std::int64_t& out);

}  // namespace cw::gps_text
