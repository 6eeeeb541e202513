// The track store: reading, interpolation, reports, camera zones and the corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <sstream>

#include "foundation/exif_time.h"
#include "gps/camera_clock.h"
#include "gps/gps_source.h"
#include "gps/image_time.h"
#include "gps/track_text.h"
#include "settings/param.h"
#include "tests/common/scoped_env.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/bmff_builder.h"
#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_files.h"
#include "tests/settings/settings_env.h"

namespace cw {
namespace {

constexpr std::int64_t kNoon = 1715947200;       // 2024-05-17 12:00:00 UTC
constexpr std::int64_t kGeotagStart = 1053796144;  // first fix of the corpus's Geotag.gpx

// Several tags on a line, "lon" before "lat", single quotes, zone suffixes and fractions; the
// third point has no longitude.
const char* const kFirstFile =
    "<?xml version=\"1.0\"?><gpx><metadata><name>not a track</name></metadata>\n"
    "<trk><name>Morning &amp; noon</name><trkseg><trkpt lon=\"10.0\" lat=\"50.0\"><ele>100</ele>"
    "<time>2024-05-17T12:00:00Z</time></trkpt><trkpt lat='50.1' lon='10.2'><ele>200</ele>"
    "<time>2024-05-17T14:00:10+02:00</time></trkpt>\n"
    "<trkpt lat=\"50.2\"><time>2024-05-17T12:00:20Z</time></trkpt>\n"
    "  <trkpt lat=\"50.3\" lon=\"10.3\">\n  <time>2024-05-17T12:00:30.750Z</time>\n  </trkpt>\n"
    "</trkseg></trk></gpx>\n";
const char* const kSecondFile =
    "<gpx><trk><trkseg><trkpt lat=\"51\" lon=\"11\"><time>2024-05-17T12:10:00Z</time></trkpt>\n"
    "<trkpt lat=\"52\" lon=\"12\"><time>2024-05-17T12:10:20Z</time></trkpt></trkseg></trk></gpx>";

GPX two_files(CameraZone zone = {}) {
  GPX g(std::move(zone));
  std::string message;
  EXPECT_TRUE(g.load_gpx_text(kFirstFile, "a.gpx", message) &&
              g.load_gpx_text(kSecondFile, "b.gpx", message)) << message;
  g.sort();
  return g;
}

TEST(Tracks, GpxReadingAndInterpolation) {
  GPX g = two_files();
  ASSERT_EQ(g.tracks.size(), 2u);
  EXPECT_EQ(g.tracks[0].name, "Morning & noon");
  EXPECT_EQ(g.tracks[0].points.size(), 3u);  // the point without a longitude is dropped
  GpsPosition p;
  EXPECT_EQ(g.position_at(kNoon, 0, p), GpsMatch::kOutOfRange);  // the first fix itself
  ASSERT_EQ(g.position_at(kNoon + 5, 0, p), GpsMatch::kFound);  // halfway to 12:00:10 UTC
  EXPECT_NEAR(p.lon, 10.1, 1e-5);
  EXPECT_NEAR(p.ele, 150, 1e-4);
  ASSERT_EQ(g.position_at(kNoon + 15, 0, p), GpsMatch::kFound);  // fraction .750 ignored
  EXPECT_NEAR(p.ele, 150, 1e-4);  // 200 towards no elevation (0)
  ASSERT_EQ(g.position_at(kNoon + 30, 0, p), GpsMatch::kFound);  // the last fix
  EXPECT_FLOAT_EQ(p.lat, 50.3f);
  EXPECT_EQ(g.position_at(kNoon + 300, 0, p), GpsMatch::kOutOfRange);  // between the files
  ASSERT_EQ(g.position_at(kNoon + 605, 0, p), GpsMatch::kFound);
  EXPECT_NEAR(p.lon, 11.25, 1e-5);
  ASSERT_EQ(g.position_at(kNoon - 5, 10, p), GpsMatch::kFound);  // a camera 10 s slow
  EXPECT_NEAR(p.lat, 50.05, 1e-5);

  // Paris with summer time: 14:00:05 on the camera is 12:00:05 UTC.
  GPX paris = two_files(CameraZone::listed("Paris +1", true));
  ASSERT_EQ(paris.position_at(kNoon + 7205, 0, p), GpsMatch::kFound);
  EXPECT_NEAR(p.lat, 50.05, 1e-5);

  std::string message;
  EXPECT_FALSE(GPX().load_gpx_text("<trkpt lat='1' lon='2'><time>2024-05-17T12:00:00Z</time>"
                                   "</trkpt>", "c.gpx", message));
  EXPECT_EQ(message, "Invalid GPX file -- missing <trk>");
  EXPECT_EQ(GPX().summary(), "No data loaded.");
}

// A zero date (a camera clock never set) counts as no date, so the digitized time is taken.
TEST(Tracks, RawsAndMoviesAreMatchedByTheirCaptureTime) {
  test::TempDir tmp;
  fixtures::Cr3Spec cr3;
  cr3.info.date_time_original = "0000:00:00 00:00:00";
  cr3.info.date_time_digitized = "2024:05:17 12:00:05";
  ASSERT_TRUE(fixtures::write_bytes(tmp / "IMG_1.CR3", fixtures::build_cr3(cr3)));
  EXPECT_EQ(image_camera_time(tmp / "IMG_1.CR3", false), kNoon + 5);
  GPX g = two_files();
  GpsPosition p;
  ASSERT_EQ(g.interpolate(tmp / "IMG_1.CR3", 0, false, p), GpsMatch::kFound);
  EXPECT_NEAR(p.lon, 10.1, 1e-5);

  // A movie's header keeps UTC: its time is the computer's wall clock (here 5:30 ahead of
  // UTC), unless the setting takes it as the camera's local time.
  const std::string mvhd = fixtures::be32(static_cast<std::uint32_t>(kNoon + 5 + 2082844800ll)) +
                           std::string(92, '\0');
  ASSERT_TRUE(fixtures::write_bytes(
      tmp / "C0001.MP4", fixtures::bmff_box("ftyp", "isom" + fixtures::be32(0) + "isom") +
                             fixtures::bmff_box("moov", fixtures::bmff_full_box("mvhd", 0, mvhd))));
  test::ScopedZone india("Asia/Kolkata");
  EXPECT_EQ(image_camera_time(tmp / "C0001.MP4", false), kNoon + 5 + 19800);
  EXPECT_EQ(image_camera_time(tmp / "C0001.MP4", true), kNoon + 5);
}

TEST(Tracks, LogFiles) {
  GPX g;
  std::string message;
  ASSERT_TRUE(g.load_log_text(
      "@Sonygps/ver1.0/wgs-84\r\n"
      "$GPGGA,120000,5000.0000,N,01000.0000,E,1,08,1.0,328.084,F,,,,*47\r\n"
      "$GPRMC,120000.75,A,5000.0000,N,01000.0000,W,,,170524,,,A*6C\r\n"
      "$GPRMC,120002.5,A,5030.0000,S,01030.0000,E,,,170524,,,A\r\n"
      "$GPRMC,120003,V,5030.0000,S,01030.0000,E,,,170524,,,A\r\n"
      "$PMGNTRK,4415.163,N,07631.126,W,00328,F,120004,A,,170524\r\n", "sony.log", message));
  const auto& s = g.tracks.at(0).points;
  ASSERT_EQ(s.size(), 2u);  // the invalid fix and the Magellan one are dropped
  EXPECT_EQ(s[0].time, kNoon + 1);  // .75 rounds up
  EXPECT_EQ(s[1].time, kNoon + 2);  // .5 does not
  EXPECT_FLOAT_EQ(s[1].lat, -50.5f);
  EXPECT_NEAR(s[1].ele, 100, 1e-3);  // feet, carried over from the $GPGGA line

  ASSERT_TRUE(g.load_log_text(
      "$GPRMC,110800,A,4413.0000,N,07629.0000,W,,,030409,,,A\n"
      "$PMGNTRK,4415.163,N,07631.126,W,00328,F,110833.53,A,,030409*68\n"
      "$PMGNTRK,4415.000,N,07631.000,W,00095,M,110900,V,,030409\n"
      "$PMGNTRK,4414.000,S,07630.000,E,00095,M,110910,A,TRACK 1,030409\n"
      "$PMGNTRK,4414.000,S,07630.000,E,00095,M,110920,A,040409,050409\n"
      "$GPRMC,110930,A,4413.0000,N,07629.0000,W,,,030409,,,A\nnot a sentence\n", "m.log", message));
  const auto& m = g.tracks.at(1).points;
  ASSERT_EQ(m.size(), 4u);  // beside its own fixes the file's NMEA sentences are dropped
  EXPECT_EQ(gps_time_text(m[0].time), "2009-04-03T11:08:34");
  EXPECT_NEAR(m[0].lon, -(76 + 31.126 / 60), 1e-5);
  EXPECT_NEAR(m[0].ele, 328 * 0.3048, 1e-3);
  EXPECT_EQ(gps_time_text(m[1].time), "2007-01-01T11:09:00");  // status "V": the fixed date
  EXPECT_EQ(gps_time_text(m[2].time), "2009-04-03T11:09:10");  // date after the track name
  EXPECT_EQ(gps_time_text(m[3].time), "2009-04-04T11:09:20");  // field 9 first

  GpsPosition where;
  EXPECT_EQ(g.interpolate("/no/such/image.jpg", 0, false, where), GpsMatch::kError);
  EXPECT_NE(test::read_file(test::test_root() / "cw_log.txt")
                .find(": error in GPX::interpolate -- datetime=0x0  m_tracks=0x2 "
                      "path=/no/such/image.jpg\n"),
            std::string::npos);
}

// "$tail*hh" with the sentence's checksum, ended by CR LF.
std::string sentence(const std::string& tail) {
  unsigned sum = 0;
  for (char c : tail) sum ^= static_cast<unsigned char>(c);
  char check[8];
  std::snprintf(check, sizeof check, "*%02X\r\n", sum);
  return "$" + tail + check;
}

// `fixes` pairs of "$GPGGA" and "$GPRMC" one second apart from 2024-05-17 12:00:00.
std::string nmea_track(int fixes) {
  std::string text;
  for (int i = 0; i < fixes; ++i) {
    char time[16], lat[16];
    std::snprintf(time, sizeof time, "12%02d%02d.00", i / 60, i % 60);
    std::snprintf(lat, sizeof lat, "50%07.4f", i * 0.01);
    text += sentence(std::string("GPGGA,") + time + "," + lat + ",N,01000.0000,E,1,08,1.0," +
                     std::to_string(100 + i) + ".0,M,47.0,M,,");
    text += sentence(std::string("GPRMC,") + time + ",A," + lat +
                     ",N,01000.0000,E,0.0,0.0,170524,,,A");
  }
  return text;
}

std::string utf16(const std::string& ascii, bool little, bool mark) {
  std::string out = mark ? (little ? "\xFF\xFE" : "\xFE\xFF") : "";
  for (char c : ascii) out += little ? std::string{c, '\0'} : std::string{'\0', c};
  return out;
}

// Track points gpsbabel finds in an NMEA file.
int gpsbabel_points(const std::string& file) {
  std::string gpx;
  EXPECT_EQ(test::run_command("gpsbabel -t -i nmea -f " + test::sh_quote(file) +
                              " -o gpx -F - 2>/dev/null", &gpx), 0);
  int n = 0;
  for (std::size_t at = 0; (at = gpx.find("<trkpt", at)) != std::string::npos; ++at) ++n;
  return n;
}

TEST(TrackFiles, Utf16AndDosLineEndsLoadEveryPoint) {
  constexpr int kFixes = 154;
  const std::string plain = nmea_track(kFixes);
  test::TempDir dir;
  test::write_file(dir / "plain.log", plain);
  GPX expected;
  std::string message;
  ASSERT_TRUE(expected.load_file(dir / "plain.log", message)) << message;
  ASSERT_EQ(expected.point_count(), static_cast<std::size_t>(kFixes));
  const bool babel = test::have_program("gpsbabel");
  if (babel) {
    EXPECT_EQ(gpsbabel_points(dir / "plain.log"), kFixes);
  }
  for (bool little : {true, false}) {
    for (bool mark : {true, false}) {
      const std::string file = dir / (std::string(little ? "le" : "be") +
                                                (mark ? "-bom" : "") + ".LOG");
      test::write_file(file, utf16(plain, little, mark));
      GPX g;
      ASSERT_TRUE(g.load_file(file, message)) << message;
      ASSERT_EQ(g.point_count(), static_cast<std::size_t>(kFixes)) << file;
      const GpsPoint &last = g.tracks[0].points.back(), &want = expected.tracks[0].points.back();
      EXPECT_TRUE(last.time == want.time && last.lat == want.lat && last.ele == want.ele) << file;
      // gpsbabel reads UTF-16 only with a byte-order mark.
      if (babel && mark) {
        EXPECT_EQ(gpsbabel_points(file), kFixes) << file;
      }
    }
  }
  GPX gpx;
  ASSERT_TRUE(gpx.load_gpx_text(utf16(kSecondFile, false, true), "b.gpx", message));
  EXPECT_EQ(gpx.point_count(), 2u);
}

TEST(TrackFiles, GgaOnlyFilesTakeTheirDateFromOtherLinesOrTheUser) {
  // The first fix comes before the date line; the third passes midnight; the last has no fix.
  const std::string dated =
      sentence("GPGGA,235958,5000.0000,N,01000.0000,E,1,08,1.0,100.0,M,,,,") +
      sentence("GPZDA,235959,17,05,2024,,") +
      sentence("GPGGA,235959,5000.0000,N,01000.0000,E,1,08,1.0,100.0,M,,,,") +
      sentence("GPGGA,000001,5000.1000,N,01000.0000,E,1,08,1.0,328.084,F,,,,") +
      sentence("GPGGA,000002,5000.1000,N,01000.0000,E,0,00,,,,,,,");
  test::TempDir dir;
  test::write_file(dir / "gga.log", dated);
  GPX g;
  std::string message;
  ASSERT_TRUE(g.load_file(dir / "gga.log", message)) << message;
  const auto& p = g.tracks.at(0).points;
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(gps_time_text(p[0].time), "2024-05-17T23:59:58");
  EXPECT_EQ(gps_time_text(p[1].time), "2024-05-17T23:59:59");
  EXPECT_EQ(gps_time_text(p[2].time), "2024-05-18T00:00:01");
  EXPECT_NEAR(p[2].lat, 50 + 0.1 / 60, 1e-5);
  EXPECT_NEAR(p[2].ele, 100, 1e-3);
  if (test::have_program("gpsbabel")) {
    EXPECT_EQ(gpsbabel_points(dir / "gga.log"), 3);
  }

  // Without a date line the file is refused unless the user gives the date.
  const std::string undated = sentence("GPGGA,120000,5000.0000,N,01000.0000,E,1,08,1.0,1,M,,,,") +
                              sentence("GPGGA,120001,5000.0000,N,01000.0000,E,1,08,1.0,1,M,,,,");
  GPX refused;
  EXPECT_FALSE(refused.load_log_text(undated, "u.log", message));
  EXPECT_EQ(message, "The track file's fixes have no date: give the date of the track");
  EXPECT_TRUE(refused.tracks.empty());
  refused.undated_fix_date = undated_fix_date_of("2024-05-17").value_or("");
  ASSERT_TRUE(refused.load_log_text(undated, "u.log", message)) << message;
  ASSERT_EQ(refused.point_count(), 2u);
  EXPECT_EQ(refused.tracks[0].points[1].time, kNoon + 1);

  // The user's date: two-digit years stand for 1969 to 2068, so other years are refused.
  EXPECT_EQ(undated_fix_date_of("1969-12-31"), "311269");
  EXPECT_EQ(undated_fix_date_of("2068-02-29"), "290268");
  for (const char* bad : {"1968-12-31", "2069-01-01", "2023-02-29", "2024-13-01", "17.05.2024",
                          "2024-5-17", "2024-05-1x"})
    EXPECT_EQ(undated_fix_date_of(bad), std::nullopt) << bad;
}

TEST(Tracks, AnalysisReport) {
  GPX g(CameraZone::listed("Tokyo +9", false));
  std::string message;
  ASSERT_TRUE(g.load_gpx_text(
      "<trk><name>Long</name><trkpt lat='0' lon='0'><ele>10</ele><time>2024-05-17T12:00:00Z"
      "</time></trkpt><trkpt lat='1' lon='0'><ele>-5</ele><time>2024-05-18T13:00:00Z</time>"
      "</trkpt></trk>", "/x/long.gpx", message));
  EXPECT_EQ(g.analysis(),
            "\nAnalysis of stored GPS data (all times local to camera):\n"
            "\tTrack 1: Long\n\t\tFile: /x/long.gpx\n\t\tTrack points: 2\n"
            "\t\tStart time: 2024-05-17T21:00:00 UTC+9\n"
            "\t\tStop time: 2024-05-18T22:00:00 UTC+9\n"
            "\t\tTotal time is more than 24 hours.\n"
            "\t\tDistance: 111.21 km (69.10 miles)\n\t\tAvg. speed: 4.45 kph (2.76 mph)\n"
            "\t\tStarting elevation: 10.00 m (32.81 ft)\n"
            "\t\tEnding elevation: -5.00 m (-16.40 ft)\n"
            "\t\tHighest elevation: 10.00 m (32.81 ft)\n"
            "\t\tLowest elevation: -5.00 m (-16.40 ft)\n"
            "\t\tHighest - Lowest: 15.00 m (49.21 ft)\n");
}

using GpsSettings = test::SettingsTest;

// The list the user picks the camera's zone from: cities, one separator, countries and regions.
TEST(CameraZones, EveryEntryEndsInItsOffsetAndIsFoundByName) {
  const auto zones = camera_zones();
  EXPECT_EQ(std::count(zones.begin(), zones.end(), std::string("-")), 1);
  EXPECT_EQ(camera_zone_display("-"), "--------------");
  for (const std::string entry : zones) {
    if (entry == "-") continue;
    const std::string offset = entry.substr(entry.rfind(' ') + 1);
    char* end = nullptr;
    const double hours = std::strtod(offset.c_str(), &end);
    EXPECT_TRUE(offset != entry && *end == '\0') << entry;
    EXPECT_EQ(zone_seconds(entry), static_cast<int>(hours * 3600)) << entry;
    // Found by its name (a city and a country may share one, with one offset).
    const auto found = camera_zone_entry(entry.substr(0, entry.size() - offset.size() - 1));
    EXPECT_TRUE(found && zone_seconds(*found) == zone_seconds(entry)) << entry;
  }
  EXPECT_EQ(adjustment_text(clock_adjustment(100, 70)), "Adjustment: -30 seconds");
}

TEST_F(GpsSettings, LoadingAsThePresetSays) {
  const std::string track = dir / "walk.gpx";
  test::write_file(track, "<trk>\n<trkpt lat='1' lon='1'>\n<time>2024-07-15T09:00:00Z</time>\n"
                          "</trkpt>\n</trk>\n");
  CWParam param;
  CWPreset& master = param.master();
  master.put_str("CameraZone", "Canada Newfoundland -3.5");
  master.put_int("CameraZoneDST", 1);
  master.put_int("CameraAdjustEXIF", 100);
  master.put_int("CameraAdjustActual", 130);
  std::string message;
  auto store = load_gps_data(master, {track}, "", "", message);
  ASSERT_TRUE(store) << message;
  EXPECT_EQ(store->summary(), "Loaded 1 points from 2024-07-15T06:30:00 UTC-2:30 to "
                              "2024-07-15T06:30:00 UTC-2:30 (times local to camera)");
  EXPECT_EQ(gps_run_settings(store.get(), master, "et").adjustment, 30);
  // A zone by name, on which the summer-time switch has no say.
  if (test::have_zone_database()) {
    master.put_str("CameraZone", "Europe/Berlin");
    store = load_gps_data(master, {track}, "", "", message);
    ASSERT_TRUE(store) << message;
    EXPECT_EQ(store->summary(), "Loaded 1 points from 2024-07-15T11:00:00 CEST to "
                                "2024-07-15T11:00:00 CEST (times local to camera)");
    master.put_str("CameraZone", "Europe/Atlantis");
    EXPECT_FALSE(load_gps_data(master, {track}, "", "", message));
    EXPECT_EQ(message, "unknown time zone 'Europe/Atlantis'");
    master.put_str("CameraZone", "Paris +1");
  }
  master.put_int("GPSSource", kGpsSourceMagellan);
  EXPECT_FALSE(load_gps_data(master, {}, "", "/no/gpsbabel", message));
  EXPECT_EQ(message, "GPS device reader (gpsbabel) not found as /no/gpsbabel (on Debian: apt "
                     "install gpsbabel)");
}

TEST(CameraZones, ListEntriesZonesByNameAndNone) {
  CW_REQUIRE_ZONE_DATABASE();
  EXPECT_EQ(camera_zone_entry("Europe/Berlin"), "Europe/Berlin");
  EXPECT_EQ(camera_zone_entry("europe/berlin"), "Europe/Berlin");
  EXPECT_EQ(camera_zone_entry("paris"), "Paris +1");  // any case
  EXPECT_EQ(camera_zone_entry("+5.5"), "UTC +5.5");
  for (const char* bad : {"Mars/Olympus_Mons", "../../etc/passwd", "Europe", "", "+25"})
    EXPECT_FALSE(camera_zone_entry(bad)) << bad;

  std::string error;
  std::optional<CameraZone> none = CameraZone::from_setting("???", true, error);
  ASSERT_TRUE(none);
  EXPECT_EQ(none->kind(), CameraZone::Kind::kUnset);
  EXPECT_EQ(none->label(kNoon), "UTC");
}

TEST(CameraZones, TheSameCameraTimeIsAnotherUtcTimeInSummer) {
  CW_REQUIRE_ZONE_DATABASE();
  std::string error;
  GPX g(*CameraZone::from_setting("Europe/Berlin", true, error));  // the switch plays no part
  std::string message;
  ASSERT_TRUE(g.load_gpx_text(
      "<trk><trkpt lat='50' lon='10'><time>2024-01-15T10:00:00Z</time></trkpt>"
      "<trkpt lat='51' lon='10'><time>2024-01-15T11:00:00Z</time></trkpt></trk>"
      "<trk><trkpt lat='60' lon='10'><time>2024-07-15T09:00:00Z</time></trkpt>"
      "<trkpt lat='61' lon='10'><time>2024-07-15T10:00:00Z</time></trkpt></trk>",
      "a.gpx", message)) << message;
  std::int64_t january = 0, july = 0;  // 11:30 on the camera
  ASSERT_TRUE(gps_text::utc_seconds(2024, 1, 15, 11, 30, 0, january));
  ASSERT_TRUE(gps_text::utc_seconds(2024, 7, 15, 11, 30, 0, july));
  GpsPosition p;
  ASSERT_EQ(g.position_at(january, 0, p), GpsMatch::kFound);  // 10:30 UTC
  EXPECT_NEAR(p.lat, 50.5, 1e-5);
  ASSERT_EQ(g.position_at(july, 0, p), GpsMatch::kFound);  // 09:30 UTC
  EXPECT_NEAR(p.lat, 60.5, 1e-5);

  // Times shown are the camera's, each with the zone's name at that instant.
  GPX spring(g.zone);
  ASSERT_TRUE(spring.load_gpx_text(
      "<trk><trkpt lat='1' lon='1'><time>2024-03-31T00:30:00Z</time></trkpt>"
      "<trkpt lat='2' lon='2'><time>2024-03-31T01:30:00Z</time></trkpt></trk>",
      "b.gpx", message));
  EXPECT_EQ(spring.summary(), "Loaded 2 points from 2024-03-31T01:30:00 CET to "
                              "2024-03-31T03:30:00 CEST (times local to camera)");
  EXPECT_THAT(spring.analysis(),
              StartsWith("\nAnalysis of stored GPS data (all times local to camera, "
                         "Europe/Berlin):\n"));
  EXPECT_THAT(spring.analysis(), HasSubstr("\t\tStart time: 2024-03-31T01:30:00 CET\n"
                                           "\t\tStop time: 2024-03-31T03:30:00 CEST\n"));
  spring.zone = CameraZone();
  EXPECT_THAT(spring.analysis(),
              StartsWith("\nAnalysis of stored GPS data (all times in UTC: no camera zone "
                         "chosen):\n"));
  EXPECT_THAT(spring.analysis(), HasSubstr("\t\tStart time: 2024-03-31T00:30:00 UTC\n"));
}

TEST(TracksCorpus, EveryFileLoads) {
  CW_REQUIRE_CORPUS(corpus);
  const std::string dir = (corpus / "gps").string();
  GPX g;
  std::string message;
  ASSERT_TRUE(g.load_files({dir + "/Geotag.gpx", dir + "/Geotag.log", dir + "/Geotag2.log",
                            dir + "/Geotag3.log"}, message)) << message;
  ASSERT_EQ(g.tracks.size(), 4u);
  EXPECT_EQ(g.tracks[0].name, "TESTTRK");
  EXPECT_EQ(g.tracks[0].points.size(), 9u);
  EXPECT_EQ(g.tracks[1].points.size(), 12u);
  EXPECT_EQ(g.tracks[2].points.size(), 3u);  // NMEA without the header line
  EXPECT_EQ(g.tracks[3].points.size(), 0u);  // not a track format at all
  EXPECT_EQ(g.summary(), "Loaded 24 points from 2003-05-24T17:09:04 UTC to 2010-04-24T11:28:02 "
                         "UTC (times in UTC: no camera zone chosen)");
  EXPECT_FALSE(g.load_file(dir + "/../README.md", message));
  EXPECT_EQ(message, "File extension must be GPX or LOG");
}

// Everything a load and lookups produce, as one text.
std::string everything(const std::string& dir, const std::string& image) {
  GPX g(CameraZone::listed("Canada Newfoundland -3.5", true));
  std::string message;
  g.load_files({dir + "/Geotag.gpx", dir + "/Geotag.log", dir + "/Geotag2.log"}, message);
  std::ostringstream out;
  out << message << g.summary() << g.analysis() << *image_camera_time(image, false);
  const std::int64_t start = g.zone.to_local(kGeotagStart);
  for (std::int64_t t = start - 60; t < start + 140; t += 7) {
    GpsPosition p;
    out << static_cast<int>(g.position_at(t, 0, p)) << ' ' << p.lat << ' ' << p.lon << '\n';
  }
  return out.str();
}

TEST(TracksCorpus, SameResultsInEveryTimeZone) {
  CW_REQUIRE_CORPUS(corpus);
  test::TempDir tmp;
  ASSERT_TRUE(fixtures::write_with_time(tmp / "a.jpg", fixtures::make_jpeg("2024:03:31 02:30:00"), 0));
  std::string first;
  for (const char* tz : {"UTC", "Asia/Kolkata", "America/St_Johns"}) {
    test::ScopedZone zone(tz);
    const std::string now = everything((corpus / "gps").string(), tmp / "a.jpg");
    if (first.empty()) first = now;
    EXPECT_EQ(now, first) << tz;
  }
  EXPECT_NE(first.find("\n0 43.64"), std::string::npos) << first;  // some were placed
}

TEST(TracksCorpus, AgreesWithIndependentComputation) {
  CW_REQUIRE_CORPUS(corpus);
  const std::string file = (corpus / "gps" / "Geotag.gpx").string();
  GPX g(CameraZone::listed("USA Mountain -7", true));
  std::string message;
  ASSERT_TRUE(g.load_files({file}, message));
  std::string command = "/usr/bin/python3 " CW_SOURCE_DIR "/tests/gps/interpolate_check.py '" +
                        file + "' " + std::to_string(g.zone.to_utc(0));
  const std::int64_t first = g.zone.to_local(kGeotagStart) - 3, last = first + 66;
  for (std::int64_t t = first; t < last; t += 2) (command += ' ') += std::to_string(t);
  std::string output;
  ASSERT_EQ(test::run_command(command, &output), 0);
  std::istringstream lines(output);
  int found = 0;
  for (std::int64_t t = first; t < last; t += 2) {
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    GpsPosition p;
    ASSERT_EQ(g.position_at(t, 0, p), line == "out" ? GpsMatch::kOutOfRange : GpsMatch::kFound);
    double lat = 0, lon = 0, ele = 0;
    if (!(std::istringstream(line) >> lat >> lon >> ele)) continue;
    EXPECT_NEAR(p.lat, lat, 1e-6);
    EXPECT_NEAR(p.lon, lon, 1e-6);
    EXPECT_NEAR(p.ele, ele, 1e-6);
    ++found;
  }
  EXPECT_GT(found, 25);
}

// A day the calendar does not have, or a second 60, is no date to GPS matching nor to naming.
TEST(CaptureDates, GpsAndNamingAgreeOnWhatIsADate) {
  EXPECT_EQ(exif_text_seconds("2024:02:29 10:00:00"), std::optional<std::int64_t>(1709200800));
  for (const char* junk : {"2024:02:31 10:00:00", "2023:02:29 10:00:00", "2024:05:17 10:00:60",
                           "0000:00:00 00:00:00", "2024-05-17 10:00:00"}) {
    EXPECT_FALSE(exif_text_seconds(junk)) << junk;
    EXPECT_TRUE(exif_date_absent(junk) || exif_time_stamp(junk) == junk) << junk;
  }
}

}  // namespace
}  // namespace cw
