// Time zones by name, read from the system's zone database (the compiled zone files under
// $TZDIR, or /usr/share/zoneinfo): the offset from UTC and the abbreviation at any instant, and
// the instant a local wall-clock time stands for.
//
// Nothing here touches the process's own time zone (no TZ variable, no tzset): a zone is a
// plain value that any thread may read, so a camera's zone never depends on the computer's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cw {

// What the clocks of a zone show at one instant.
struct LocalTimeType {
  std::int32_t utc_offset = 0;  // seconds east of UTC (local = UTC + utc_offset)
  bool summer_time = false;
  std::string abbreviation;     // "CEST", "AEDT", "+0530"
};

class ZoneRules {
 public:
  // The zone file `name` ("Europe/Berlin") of the database. Names that climb out of the folder
  // ("..", a leading "/") and files that are not zone files (version 2 or later) are refused.
  // Nothing with `error` saying why ("unknown time zone 'X'").
  static std::optional<ZoneRules> load(const std::string& name, std::string& error);
  // A zone file's bytes.
  static std::optional<ZoneRules> from_tzif(std::string_view bytes, const std::string& name,
                                            std::string& error);
  // A zone given by a POSIX rule alone ("CET-1CEST,M3.5.0,M10.5.0/3").
  static std::optional<ZoneRules> from_posix(std::string_view rule, std::string& error);

  const std::string& name() const { return name_; }

  // The clocks' reading at a UTC instant (seconds since 1970).
  LocalTimeType at_utc(std::int64_t utc) const;
  // The UTC instant of a local wall-clock time (its calendar fields read as if UTC). A time the
  // clocks skipped (spring forward) or showed twice (autumn back) takes the offset in force
  // before the change: a skipped 02:30 in Berlin is 01:30 UTC (shown as 03:30 summer time),
  // a repeated 02:30 is its first occurrence, 00:30 UTC.
  std::int64_t to_utc(std::int64_t local) const;

 private:
  // A yearly date of a POSIX rule and the local time of day of the change on it.
  struct RuleDate {
    char form = 'M';  // 'J': day 1-365 without Feb 29; 'D': day 0-365; 'M': month.week.weekday
    int month = 0, week = 0, day = 0;  // 'J' and 'D' use `day` alone
    std::int32_t time = 7200;          // seconds after local midnight, may be negative or > 24 h
  };
  // Standard time, and summer time between two dates of every year when `has_summer`.
  struct Rule {
    LocalTimeType standard, summer;
    bool has_summer = false;
    RuleDate start, end;
  };
  struct Transition {
    std::int64_t at;     // UTC
    std::uint8_t type;   // index into types_
  };

  static bool parse_rule(std::string_view text, Rule& rule);
  static LocalTimeType rule_at(const Rule& rule, std::int64_t utc);

  std::string name_;
  std::vector<Transition> transitions_;  // ascending
  std::vector<LocalTimeType> types_;     // at least one
  std::optional<Rule> rule_;             // for instants after the last transition
};

// The folder of the zone database: $TZDIR when set, else /usr/share/zoneinfo.
std::string zone_database_folder();

// The zone names people choose from, sorted: those of the database's zone tables
// (zone1970.tab, zone.tab) and "UTC"; when there are no tables, every zone file in the folder.
std::vector<std::string> zone_names();

}  // namespace cw
