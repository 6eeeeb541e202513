// GPS: what the GPS Input window and `cardwright gps` do. The camera's zones to choose from and
// the camera clock (the master preset's GPS settings, or what the user gives for one command);
// loading track files and reading receivers under that clock's zone; the position of images on
// a track; writing the positions into images through ExifTool. The session keeps the tracks an
// ingestion tags with (AppSession::load_gps).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gps/camera_clock.h"
#include "gps/gps_source.h"
#include "gps/gpx.h"
#include "gps/receiver.h"
#include "gps/tag_writer.h"

namespace cw {

class AppSession;

// An entry of the camera zone list: as shown, and as stored in "CameraZone" ("-" for the
// separator, which cannot be chosen).
struct ZoneChoice {
  std::string shown;
  std::string stored;
};
// The list's entries, its separator among them.
std::vector<ZoneChoice> listed_camera_zones();
// The separator, as it stands between the list and the zones by name.
ZoneChoice camera_zone_separator();
// The zone text for what the user typed (an entry, hours from UTC, a zone name); none when it
// is none of these.
std::optional<std::string> camera_zone_of_text(const std::string& typed);
// The zone of a stored "CameraZone" and "CameraZoneDST"; none with `error` for a name that is
// no zone.
std::optional<CameraZone> camera_zone_from_setting(const std::string& stored, bool summer_time,
                                                   std::string& error);

// The camera clock of the master preset's GPS settings; a stored zone that is no zone leaves
// the zone unchosen and says why in `zone_error` (when given).
CameraClock preset_camera_clock(AppSession& session, std::string* zone_error = nullptr);
// A time "YYYY-MM-DD HH:MM:SS" (or with colons in the date, as EXIF writes it) as the seconds
// camera times are counted in; none for any other text.
std::optional<std::int64_t> camera_time_seconds(std::string text);
// The correction of a camera clock that showed `camera_showed` at the true time `actual`.
std::int64_t camera_clock_adjustment(std::int64_t camera_showed, std::int64_t actual);
// "Adjustment: N seconds".
std::string clock_adjustment_text(std::int64_t adjustment);
// The date of LOG fixes without one ("ddmmyy") from "YYYY-MM-DD" (1969 to 2068).
std::optional<std::string> track_date_of(const std::string& iso_date);

// Stores one GPS setting of the master preset ("WantGPS", "CameraZone", "GPSSource"...) in the
// preset it belongs to; false when it could not be stored.
bool put_gps_setting(AppSession& session, const std::string& key, const std::string& value);

// Track files (GPX or LOG) loaded under `zone`; LOG fixes without a date take `track_date`.
// Null with `message` saying why.
std::unique_ptr<GPX> load_track_files(const std::vector<std::string>& files,
                                      const CameraZone& zone, const std::string& track_date,
                                      std::string& message);
// The track memory of a receiver on `port` read through gpsbabel under `zone`, kept in
// `save_file` when given. Null with `message` saying why.
std::unique_ptr<GPX> read_track_receiver(GpsReceiver kind, const std::string& port,
                                         const std::string& save_file,
                                         const std::string& gpsbabel, const CameraZone& zone,
                                         std::string& message);

// Where an image was taken, by the tracks: found, out of their time range, or an error.
struct ImagePosition {
  std::string image;
  GpsMatch match = GpsMatch::kError;
  GpsPosition where;
};
// The positions of `images` on `tracks`, their times corrected by `adjustment`; nothing is
// written.
std::vector<ImagePosition> locate_images(const GPX& tracks, const std::vector<std::string>& images,
                                         std::int64_t adjustment, bool video_times_local);

struct TrackTagging {
  bool ok = false;      // false: ExifTool was not found (`results` says so)
  GpsTagCounts counts;  // tagged, out of interval, errors, videos that cannot carry tags
  std::string results;  // what went wrong, image by image
  std::string untaggable;  // the line naming the videos, without its leading tab; empty: none
};
// Writes the positions into `images` with one ExifTool process (`exiftool`).
TrackTagging tag_images_on_track(const GPX& tracks, const std::vector<std::string>& images,
                                 std::int64_t adjustment, const std::string& exiftool,
                                 bool video_times_local);

}  // namespace cw
