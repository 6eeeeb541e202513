// Whether two modification times, in seconds since the epoch, can be one card file's as read
// at two different times.
//
// Most file systems keep absolute times: a file reads with the same time for ever. FAT keeps
// the wall-clock time of whoever wrote the file, in two-second steps and without a zone, and
// exFAT may do the same (its zone field is optional; a camera without a zone setting leaves it
// out). The system that mounts such a card turns that time into an absolute one with its own
// zone, so the same file reads whole quarter hours earlier or later once the computer's zone,
// or its daylight-saving time, has changed. Drivers also round FAT's two-second steps and
// exFAT's hundredths differently, by up to a second or two.
//
// The time only picks the files worth hashing; the content hash decides whether two are the
// same. Accepting the shifts of a change of zone on such a card costs at most a few more
// hashes, and it keeps a card from being copied a second time after its owner travelled.
#pragma once

#include <cstdint>

namespace cw {

// The largest difference a change of zone makes: UTC-12 to UTC+14.
inline constexpr std::int64_t kMaxZoneShift = 26 * 3600;
// Zones are whole quarter hours apart.
inline constexpr std::int64_t kZoneStep = 15 * 60;
// The rounding of FAT and exFAT times by different drivers, either way.
inline constexpr std::int64_t kLocalTimeRounding = 2;

// True when `a` and `b` are equal or, with `local_times` (a FAT or exFAT card), differ by a
// whole number of quarter hours up to kMaxZoneShift, give or take kLocalTimeRounding.
bool same_card_time(std::int64_t a, std::int64_t b, bool local_times);

// The earliest and latest times same_card_time accepts for `t` (saturated at the ends of the
// range), for searching an ordered set.
std::int64_t earliest_card_time(std::int64_t t, bool local_times);
std::int64_t latest_card_time(std::int64_t t, bool local_times);

}  // namespace cw
