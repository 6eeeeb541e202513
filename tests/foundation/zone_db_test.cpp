// Zones by name: changes in both hemispheres, rules past the listed changes, POSIX rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "foundation/zone_db.h"
#include "tests/common/scoped_env.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

std::int64_t utc(int y, int mo, int d, int h, int mi, int s = 0) {
  std::tm tm{};
  tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d;
  tm.tm_hour = h, tm.tm_min = mi, tm.tm_sec = s;
  return static_cast<std::int64_t>(timegm(&tm));
}

ZoneRules zone(const char* name) {
  std::string error;
  std::optional<ZoneRules> z = ZoneRules::load(name, error);
  EXPECT_TRUE(z) << error;
  return z ? *z : *ZoneRules::from_posix("UTC0", error);
}

TEST(ZoneDatabase, BerlinAcrossBothChanges) {
  CW_REQUIRE_ZONE_DATABASE();
  const ZoneRules berlin = zone("Europe/Berlin");
  // Clocks went from 02:00 CET to 03:00 CEST at 01:00 UTC on 2024-03-31.
  const std::int64_t spring = utc(2024, 3, 31, 1, 0);
  EXPECT_EQ(berlin.at_utc(spring - 1).abbreviation, "CET");
  EXPECT_FALSE(berlin.at_utc(spring - 1).summer_time);
  EXPECT_EQ(berlin.at_utc(spring).utc_offset, 7200);
  EXPECT_EQ(berlin.at_utc(spring).abbreviation, "CEST");
  EXPECT_TRUE(berlin.at_utc(spring).summer_time);
  EXPECT_EQ(berlin.to_utc(utc(2024, 3, 31, 3, 30)), spring + 1800);  // after it
  // 02:30 never showed: read with the offset before the change, it is 03:30 CEST.
  EXPECT_EQ(berlin.to_utc(utc(2024, 3, 31, 2, 30)), spring + 1800);

  // Back from 03:00 CEST to 02:00 CET at 01:00 UTC on 2024-10-27: 02:30 showed twice.
  const std::int64_t autumn = utc(2024, 10, 27, 1, 0);
  EXPECT_EQ(berlin.at_utc(autumn - 1).abbreviation, "CEST");
  EXPECT_EQ(berlin.at_utc(autumn).abbreviation, "CET");
  EXPECT_EQ(berlin.to_utc(utc(2024, 10, 27, 2, 30)), autumn - 1800);  // the first 02:30
  EXPECT_EQ(berlin.to_utc(utc(2024, 10, 27, 1, 59, 59)), autumn - 3600 - 1);
  // A winter and a summer noon.
  EXPECT_EQ(berlin.to_utc(utc(2024, 1, 15, 12, 0)), utc(2024, 1, 15, 11, 0));
  EXPECT_EQ(berlin.to_utc(utc(2024, 7, 15, 12, 0)), utc(2024, 7, 15, 10, 0));
}

TEST(ZoneDatabase, SouthernHemisphereAndRulesPastTheListedChanges) {
  CW_REQUIRE_ZONE_DATABASE();
  const ZoneRules sydney = zone("Australia/Sydney");
  EXPECT_EQ(sydney.at_utc(utc(2024, 1, 10, 0, 0)).abbreviation, "AEDT");  // summer in January
  EXPECT_EQ(sydney.at_utc(utc(2024, 7, 10, 0, 0)).abbreviation, "AEST");
  // Back at 16:00 UTC on 2024-04-06 (03:00 AEDT -> 02:00 AEST); forward at 16:00 UTC on
  // 2024-10-05 (02:00 AEST -> 03:00 AEDT).
  EXPECT_EQ(sydney.to_utc(utc(2024, 4, 7, 2, 30)), utc(2024, 4, 6, 15, 30));
  EXPECT_EQ(sydney.to_utc(utc(2024, 10, 6, 2, 30)), utc(2024, 10, 5, 16, 30));

  // Zone files list changes up to 2037; later ones come from the file's rule.
  const ZoneRules berlin = zone("Europe/Berlin");
  EXPECT_EQ(berlin.at_utc(utc(2050, 3, 27, 1, 0) - 1).abbreviation, "CET");
  EXPECT_EQ(berlin.at_utc(utc(2050, 3, 27, 1, 0)).abbreviation, "CEST");
  EXPECT_EQ(berlin.to_utc(utc(2050, 10, 30, 2, 30)), utc(2050, 10, 30, 0, 30));
  EXPECT_EQ(berlin.to_utc(utc(2050, 3, 27, 2, 30)), utc(2050, 3, 27, 1, 30));
  EXPECT_EQ(sydney.at_utc(utc(2060, 1, 10, 0, 0)).abbreviation, "AEDT");
  EXPECT_EQ(sydney.at_utc(utc(2060, 7, 10, 0, 0)).abbreviation, "AEST");

  // Zones off the hour.
  EXPECT_EQ(zone("Asia/Kolkata").to_utc(utc(2024, 7, 1, 12, 0)), utc(2024, 7, 1, 6, 30));
  EXPECT_EQ(zone("Asia/Kathmandu").at_utc(utc(2024, 7, 1, 0, 0)).abbreviation, "+0545");
  const ZoneRules adelaide = zone("Australia/Adelaide");
  EXPECT_EQ(adelaide.at_utc(utc(2024, 10, 5, 16, 30) - 1).utc_offset, 9 * 3600 + 1800);
  EXPECT_EQ(adelaide.at_utc(utc(2024, 10, 5, 16, 30)).utc_offset, 10 * 3600 + 1800);
}

TEST(ZoneDatabase, RuleForms) {
  std::string error;
  // Julian days without Feb 29 (J79 is March 20 in every year), at 24:00, and an offset
  // with minutes: 20:30 UTC on March 20 is midnight at +3:30.
  auto tehran = ZoneRules::from_posix("<+0330>-3:30<+0430>,J79/24,J263/24", error);
  ASSERT_TRUE(tehran) << error;
  for (int year : {2020, 2021}) {
    EXPECT_EQ(tehran->at_utc(utc(year, 3, 20, 20, 30) - 1).abbreviation, "+0330") << year;
    EXPECT_EQ(tehran->at_utc(utc(year, 3, 20, 20, 30)).utc_offset, 4 * 3600 + 1800) << year;
  }
  // Zero-based days count Feb 29: day 59 is Feb 29 in a leap year, March 1 otherwise.
  auto counted = ZoneRules::from_posix("AAA0BBB,59/0,300/0", error);
  ASSERT_TRUE(counted) << error;
  EXPECT_TRUE(counted->at_utc(utc(2024, 2, 29, 0, 0)).summer_time);
  EXPECT_FALSE(counted->at_utc(utc(2024, 2, 29, 0, 0) - 1).summer_time);
  EXPECT_TRUE(counted->at_utc(utc(2023, 3, 1, 0, 0)).summer_time);
  EXPECT_FALSE(counted->at_utc(utc(2023, 3, 1, 0, 0) - 1).summer_time);
  // A change at a negative time: the last Sunday of March 2024 at -1:00 at UTC-2.
  auto nuuk = ZoneRules::from_posix("<-02>2<-01>,M3.5.0/-1,M10.5.0/0", error);
  ASSERT_TRUE(nuuk) << error;
  EXPECT_EQ(nuuk->at_utc(utc(2024, 3, 31, 1, 0) - 1).utc_offset, -7200);
  EXPECT_EQ(nuuk->at_utc(utc(2024, 3, 31, 1, 0)).utc_offset, -3600);
  // Week 5 is the last such weekday: the last Sunday of October 2026 is the 25th.
  auto cet = ZoneRules::from_posix("CET-1CEST,M3.5.0,M10.5.0/3", error);
  ASSERT_TRUE(cet);
  EXPECT_EQ(cet->to_utc(utc(2026, 10, 25, 2, 30)), utc(2026, 10, 25, 0, 30));
  EXPECT_EQ(cet->at_utc(utc(2026, 10, 25, 1, 0)).abbreviation, "CET");

  for (const char* bad : {"", "CET", "C-1", "CET-1CEST,M13.1.0,M10.5.0", "CET-1CEST,M3.5.0",
                          "<+05", "EST5EDT,M3.2.0,M11.1.0x", "X25"})
    EXPECT_FALSE(ZoneRules::from_posix(bad, error)) << bad;
  EXPECT_EQ(error, "time zone rule 'X25' cannot be read");
}

TEST(ZoneDatabase, NamesThatAreNotZones) {
  CW_REQUIRE_ZONE_DATABASE();
  std::string error;
  for (const char* name : {"Mars/Olympus_Mons", "../../etc/passwd", "/etc/localtime",
                           "Europe/../Europe/Berlin", "Europe", "zone.tab", "Europe/Berlin "}) {
    error.clear();
    EXPECT_FALSE(ZoneRules::load(name, error)) << name;
    EXPECT_EQ(error, std::string("unknown time zone '") + name + "'");
  }
  const std::string berlin = test::read_file(zone_database_folder() + "/Europe/Berlin");
  EXPECT_FALSE(ZoneRules::from_tzif(berlin.substr(0, berlin.size() / 2), "Half", error));
  EXPECT_EQ(error, "the zone file of 'Half' is damaged");
  std::string first_version = berlin;
  first_version[4] = '\0';
  EXPECT_FALSE(ZoneRules::from_tzif(first_version, "Old", error));
  EXPECT_EQ(error, "the zone file of 'Old' is too old (version 2 or later is needed)");
  std::string bad_rule = berlin;
  bad_rule.replace(bad_rule.rfind("M10.5.0"), 7, "M13.5.0");
  EXPECT_FALSE(ZoneRules::from_tzif(bad_rule, "Rule", error));
  EXPECT_EQ(ZoneRules::load("UTC", error)->at_utc(0).abbreviation, "UTC");

  // The names offered: the tables' zones and UTC; without tables, the zone files themselves.
  const std::vector<std::string> names = zone_names();
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  for (const char* name : {"Europe/Berlin", "Australia/Sydney", "UTC", "America/Argentina/Salta"})
    EXPECT_TRUE(std::binary_search(names.begin(), names.end(), name)) << name;
  EXPECT_FALSE(std::binary_search(names.begin(), names.end(), "posixrules"));
  test::TempDir tmp;
  test::write_file(tmp / "Here/There", berlin);
  test::write_file(tmp / "right/Here/There", berlin);
  test::write_file(tmp / "notes.txt", "not a zone");
  test::ScopedEnv tzdir("TZDIR", tmp.path().string());
  EXPECT_EQ(zone_names(), std::vector<std::string>{"Here/There"});
  EXPECT_EQ(zone("Here/There").at_utc(utc(2024, 7, 1, 0, 0)).abbreviation, "CEST");
}

}  // namespace
}  // namespace cw
