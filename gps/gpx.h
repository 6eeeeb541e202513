// The GPS track store: tracks read from GPX and LOG files, kept per track in time order, the
// camera-to-UTC offset, the position for an image's capture time by linear interpolation, and
// the summary and analysis texts shown after a load.
//
// All times are UTC seconds (64-bit) and every calendar conversion is timegm/gmtime_r, so no
// result depends on the machine's time zone: a camera-local time is read as if it were UTC and
// the camera's zone (a list entry with the summer-time switch, or a zone by name) turns it
// into real UTC. Times shown are the camera's, labelled with its zone.
//
// A store is an ordinary object: whoever owns it (the application session) loads it, and runs
// read it through a const pointer while nobody changes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gps/camera_clock.h"

namespace cw {

// Name of a track until its file gives one; names keep at most kTrackNameMax characters.
inline constexpr const char* kUnnamedTrack = "[unnamed]";
inline constexpr std::size_t kTrackNameMax = 99;

// One fix. Coordinates in degrees (south and west negative), elevation in metres (0 when the
// source gives none); single precision, as the interpolation works in it.
struct GpsPoint {
  std::int64_t time = 0;  // UTC seconds since 1970-01-01
  float lat = 0, lon = 0, ele = 0;
};

struct GpsTrack {
  std::string name = kUnnamedTrack;
  std::string file;  // the file it was read from
  std::vector<GpsPoint> points;
};

struct GpsPosition {
  float lat = 0, lon = 0, ele = 0;
};

// Outcome of looking up one image.
enum class GpsMatch {
  kFound,       // the position is set
  kOutOfRange,  // no track covers the image's time
  kError,       // the image has no readable capture time
};

class GPX {
 public:
  // `zone` turns the camera's local times into UTC; none chosen: they are UTC.
  explicit GPX(CameraZone zone = {}) : zone(std::move(zone)) {}

  // Loads every file in order, stopping at the first failure (its message in `message`), then
  // sorts every track by time. What was loaded before a failure stays; callers that want
  // all or nothing discard the store.
  bool load_files(const std::vector<std::string>& paths, std::string& message);
  // One file by its extension (".gpx" or ".log", any case); the tracks are not sorted.
  bool load_file(const std::string& path, std::string& message);
  // A GPX file whatever its name.
  bool load_gpx_file(const std::string& path, std::string& message);
  // GPX or LOG text already in memory, `path` naming its file (the readers' common entry).
  bool load_gpx_text(std::string_view text, const std::string& path, std::string& message);
  bool load_log_text(std::string_view text, const std::string& path, std::string& message);
  // Sorts each track's points by time, ascending.
  void sort();

  // "Loaded %d points from %s to %s (times local to camera)", each time followed by its zone's
  // label ("(times in UTC: no camera zone chosen)" without a zone), or "No data loaded.".
  std::string summary() const;
  // The analysis report of every track (distance, speed, elevations).
  std::string analysis() const;
  std::size_t point_count() const;

  // Position at the capture time of an image file (its EXIF date, read as camera-local time;
  // a movie header's UTC time as local time only with video_times_local), corrected by the
  // clock adjustment and turned into UTC through the zone. Out-of-range and error cases are
  // logged.
  GpsMatch interpolate(const std::string& image_path, std::int64_t adjustment,
                       bool video_times_local, GpsPosition& where) const;
  // The same for a camera-local time given as seconds (the clock read as if it were UTC).
  GpsMatch position_at(std::int64_t camera_time, std::int64_t adjustment,
                       GpsPosition& where) const;

  CameraZone zone;
  // Date ("ddmmyy") of LOG files whose fixes carry none ("$GPGGA" only, no "$GPZDA" or
  // "$GPRMC" line to take it from); empty when the user gave none.
  std::string undated_fix_date;
  std::vector<GpsTrack> tracks;  // in load order
};

// The `undated_fix_date` ("ddmmyy") of a date "YYYY-MM-DD" from 1969 to 2068, the years a
// two-digit year stands for (69-99 for 19xx, the rest for 20xx); none for anything else.
std::optional<std::string> undated_fix_date_of(std::string_view iso_date);
// The load failure of a LOG file whose fixes carry no date while `undated_fix_date` is empty.
inline constexpr const char* kUndatedFixesMessage =
    "The track file's fixes have no date: give the date of the track";
inline constexpr const char* kTrackDateExpected = "expects YYYY-MM-DD between 1969 and 2068";

// "%Y-%m-%dT%H:%M:%S" of UTC seconds ("" for a time the calendar cannot hold).
std::string gps_time_text(std::int64_t utc);
// The camera's time of a UTC instant with its zone's label: "2024-03-31T01:30:00 CET".
std::string camera_time_text(const CameraZone& zone, std::int64_t utc);

}  // namespace cw
