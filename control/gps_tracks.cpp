// The GPS tools over the track store, the camera clock and the tag writer.
#include "control/gps_tracks.h"

#include "control/app_session.h"
#include "gps/image_time.h"
#include "ingest/card_layout.h"
#include "settings/param.h"
#include "settings/preset_edit.h"

namespace cw {

std::vector<ZoneChoice> listed_camera_zones() {
  std::vector<ZoneChoice> zones;
  for (const char* entry : camera_zones()) zones.push_back({camera_zone_display(entry), entry});
  return zones;
}

ZoneChoice camera_zone_separator() { return {camera_zone_display("-"), "-"}; }

std::optional<std::string> camera_zone_of_text(const std::string& typed) {
  return camera_zone_entry(typed);
}

std::optional<CameraZone> camera_zone_from_setting(const std::string& stored, bool summer_time,
                                                   std::string& error) {
  return CameraZone::from_setting(stored, summer_time, error);
}

CameraClock preset_camera_clock(AppSession& session, std::string* zone_error) {
  return camera_clock_from_preset(session.settings().master(), zone_error);
}

std::optional<std::int64_t> camera_time_seconds(std::string text) {
  for (std::size_t i = 0; i < text.size() && i < 10; ++i)
    if (text[i] == '-') text[i] = ':';
  return exif_text_seconds(text);
}

std::int64_t camera_clock_adjustment(std::int64_t camera_showed, std::int64_t actual) {
  return clock_adjustment(camera_showed, actual);
}

std::string clock_adjustment_text(std::int64_t adjustment) { return adjustment_text(adjustment); }

std::optional<std::string> track_date_of(const std::string& iso_date) {
  return undated_fix_date_of(iso_date);
}

bool put_gps_setting(AppSession& session, const std::string& key, const std::string& value) {
  return put_preset_value(session.settings(), PresetKind::File, key, value);
}

std::unique_ptr<GPX> load_track_files(const std::vector<std::string>& files,
                                      const CameraZone& zone, const std::string& track_date,
                                      std::string& message) {
  auto tracks = std::make_unique<GPX>(zone);
  tracks->undated_fix_date = track_date;
  message.clear();
  if (tracks->load_files(files, message)) return tracks;
  if (message.empty()) message = "Unknown error reading GPX files";
  return nullptr;
}

std::unique_ptr<GPX> read_track_receiver(GpsReceiver kind, const std::string& port,
                                         const std::string& save_file,
                                         const std::string& gpsbabel, const CameraZone& zone,
                                         std::string& message) {
  auto tracks = std::make_unique<GPX>(zone);
  message.clear();
  if (read_receiver(*tracks, kind, port, save_file, gpsbabel, message)) return tracks;
  if (message.empty()) message = "Unknown error reading Garmin device";
  return nullptr;
}

std::vector<ImagePosition> locate_images(const GPX& tracks, const std::vector<std::string>& images,
                                         std::int64_t adjustment, bool video_times_local) {
  std::vector<ImagePosition> positions;
  for (const std::string& image : images) {
    ImagePosition p{image, GpsMatch::kError, {}};
    p.match = tracks.interpolate(image, adjustment, video_times_local, p.where);
    positions.push_back(std::move(p));
  }
  return positions;
}

TrackTagging tag_images_on_track(const GPX& tracks, const std::vector<std::string>& images,
                                 std::int64_t adjustment, const std::string& exiftool,
                                 bool video_times_local) {
  GpsRunSettings run{&tracks, adjustment, exiftool, video_times_local};
  run.cannot_carry_tags = is_video_extension;
  std::vector<std::string> list = images;
  TrackTagging out;
  TagWriter writer(exiftool);
  out.ok = tag_images(run, writer, list, out.counts, out.results);
  const std::string line = untaggable_line(out.counts);
  if (!line.empty()) out.untaggable = line.substr(1);
  return out;
}

}  // namespace cw
