// The track store: loading by extension, sorting, the summary and analysis texts, and the
// interpolation of an image's position.
#include "gps/gpx.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <fstream>
#include <new>

#include "foundation/log.h"
#include "foundation/text.h"
#include "gps/image_time.h"

namespace cw {

namespace {

// A track file larger than this is refused instead of read into memory (a day of fixes every
// second is a few megabytes).
constexpr std::uintmax_t kMaxTrackFileSize = 512u << 20;

constexpr float kMilesPerDegree = 69.1f;
constexpr float kDegreesPerRadian = 57.3f;
constexpr float kKmPerMile = 1.609344f;
constexpr float kFeetPerMetre = 3.28084f;
constexpr std::int64_t kSecondsPerDay = 86400;
// How the texts say that the camera's times are taken as UTC.
constexpr const char* kTimesInUtc = "times in UTC: no camera zone chosen";

bool read_whole_file(const std::string& path, std::string& text, std::string& message) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    message = "Can't read file";
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0 || static_cast<std::uintmax_t>(size) > kMaxTrackFileSize) {
    message = size < 0 ? "Can't read file" : "File is too large for a track file";
    return false;
  }
  in.seekg(0);
  try {
    text.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    message = "Can't allocate memory for track points";
    return false;
  }
  if (!in.read(text.data(), size)) {
    message = "Can't read file";
    return false;
  }
  return true;
}

// "Sat May 24 17:10:05 2003" for the log lines.
std::string log_time_text(std::int64_t utc) {
  std::time_t t = static_cast<std::time_t>(utc);
  std::tm tm{};
  char text[64] = "?";
  if (gmtime_r(&t, &tm)) std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y", &tm);
  return text;
}

// The track the time falls in: the first, in load order, with at least two points that spans
// the time; otherwise the last one.
const GpsTrack& track_for(const std::vector<GpsTrack>& tracks, std::int64_t t) {
  for (const GpsTrack& track : tracks)
    if (track.points.size() >= 2 && track.points.front().time <= t && t <= track.points.back().time)
      return track;
  return tracks.back();
}

void append_elevation(std::string& out, const char* what, float metres) {
  out += format_limited(200, "\t\t%s: %.2f m (%.2f ft)\n", what, metres, metres * kFeetPerMetre);
}

void analyse_track(std::string& out, const GpsTrack& track, int number, const CameraZone& zone) {
  out += format_limited(300, "\tTrack %d: %s\n", number, track.name.c_str());
  out += format_limited(5000, "\t\tFile: %s\n", track.file.empty() ? "[unknown]" : track.file.c_str());
  out += format_limited(100, "\t\tTrack points: %d\n", static_cast<int>(track.points.size()));
  if (track.points.empty()) return;
  const GpsPoint& first = track.points.front();
  const GpsPoint& last = track.points.back();
  out += "\t\tStart time: " + camera_time_text(zone, first.time) + "\n";
  out += "\t\tStop time: " + camera_time_text(zone, last.time) + "\n";
  const std::int64_t duration = last.time - first.time;
  if (duration < kSecondsPerDay) {
    const int d = static_cast<int>(duration);
    out += format_limited(100, "\t\tTotal time: %02d:%02d:%02d\n", d / 3600, d / 60 % 60, d % 60);
  } else {
    out += "\t\tTotal time is more than 24 hours.\n";
  }
  float miles = 0;
  float highest = -1000000.0f, lowest = 1000000.0f;
  for (std::size_t i = 0; i < track.points.size(); ++i) {
    const GpsPoint& p = track.points[i];
    highest = std::max(highest, p.ele);
    lowest = std::min(lowest, p.ele);
    if (i == 0) continue;
    const GpsPoint& q = track.points[i - 1];
    const float dy = (p.lat - q.lat) * kMilesPerDegree;
    const float dx = (p.lon - q.lon) * kMilesPerDegree * std::cos(q.lat / kDegreesPerRadian);
    miles += std::sqrt(dy * dy + dx * dx);
  }
  out += format_limited(200, "\t\tDistance: %.2f km (%.2f miles)\n", miles * kKmPerMile, miles);
  if (duration < 1) {
    out += "\t\tCan't compute avg. speed\n";
  } else {
    const double hours = static_cast<double>(duration) / 3600.0;
    out += format_limited(200, "\t\tAvg. speed: %.2f kph (%.2f mph)\n", miles * kKmPerMile / hours,
                          miles / hours);
  }
  append_elevation(out, "Starting elevation", first.ele);
  append_elevation(out, "Ending elevation", last.ele);
  append_elevation(out, "Highest elevation", highest);
  append_elevation(out, "Lowest elevation", lowest);
  append_elevation(out, "Highest - Lowest", highest - lowest);
}

}  // namespace

std::string camera_time_text(const CameraZone& zone, std::int64_t utc) {
  return gps_time_text(zone.to_local(utc)) + " " + zone.label(utc);
}

std::string gps_time_text(std::int64_t utc) {
  std::time_t t = static_cast<std::time_t>(utc);
  std::tm tm{};
  char text[64];
  if (!gmtime_r(&t, &tm) || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm) == 0)
    return {};
  return text;
}

bool GPX::load_files(const std::vector<std::string>& paths, std::string& message) {
  bool ok = true;
  for (const std::string& path : paths)
    if (!(ok = load_file(path, message))) break;
  sort();
  return ok;
}

bool GPX::load_file(const std::string& path, std::string& message) {
  std::size_t dot = path.rfind('.');
  std::string extension = dot == std::string::npos ? std::string() : path.substr(dot + 1);
  const bool gpx = strcasecmp(extension.c_str(), "gpx") == 0;
  if (!gpx && strcasecmp(extension.c_str(), "log") != 0) {
    message = "File extension must be GPX or LOG";
    return false;
  }
  std::string text;
  if (!gpx) return read_whole_file(path, text, message) && load_log_text(text, path, message);
  return load_gpx_file(path, message);
}

bool GPX::load_gpx_file(const std::string& path, std::string& message) {
  std::string text;
  return read_whole_file(path, text, message) && load_gpx_text(text, path, message);
}

void GPX::sort() {
  for (GpsTrack& track : tracks)
    std::stable_sort(track.points.begin(), track.points.end(),
                     [](const GpsPoint& a, const GpsPoint& b) { return a.time < b.time; });
}

std::size_t GPX::point_count() const {
  std::size_t n = 0;
  for (const GpsTrack& track : tracks) n += track.points.size();
  return n;
}

std::string GPX::summary() const {
  const std::size_t points = point_count();
  if (points == 0) return "No data loaded.";
  std::int64_t earliest = INT64_MAX, latest = INT64_MIN;
  for (const GpsTrack& track : tracks) {
    if (track.points.empty()) continue;
    earliest = std::min(earliest, track.points.front().time);
    latest = std::max(latest, track.points.back().time);
  }
  return format_limited(300, "Loaded %d points from %s to %s (%s)", static_cast<int>(points),
                        camera_time_text(zone, earliest).c_str(),
                        camera_time_text(zone, latest).c_str(),
                        zone.kind() == CameraZone::Kind::kUnset ? kTimesInUtc
                                                                : "times local to camera");
}

std::string GPX::analysis() const {
  std::string out = "\nAnalysis of stored GPS data (all ";
  switch (zone.kind()) {
    case CameraZone::Kind::kListed: out += "times local to camera"; break;
    case CameraZone::Kind::kNamed: out += "times local to camera, " + zone.text(); break;
    case CameraZone::Kind::kUnset: out += kTimesInUtc; break;
  }
  out += "):\n";
  int number = 0;
  for (const GpsTrack& track : tracks) analyse_track(out, track, ++number, zone);
  return out;
}

GpsMatch GPX::interpolate(const std::string& image_path, std::int64_t adjustment,
                          bool video_times_local, GpsPosition& where) const {
  std::optional<std::int64_t> taken = image_camera_time(image_path, video_times_local);
  if (!taken) {
    // "datetime" is 0: the image gave no capture time. "m_tracks" is the number of tracks
    // loaded, so the line also says whether there was anything to match against.
    log_printf("error in GPX::interpolate -- datetime=0x%x  m_tracks=0x%x path=%s\n", 0u,
               static_cast<unsigned>(tracks.size()), image_path.c_str());
    return GpsMatch::kError;
  }
  return position_at(*taken, adjustment, where);
}

GpsMatch GPX::position_at(std::int64_t camera_time, std::int64_t adjustment,
                          GpsPosition& where) const {
  const std::int64_t t = zone.to_utc(camera_time + adjustment);
  if (tracks.empty()) {
    log_printf("GPX::interpolate -- out of range -- can't find track -- m_countTracks = 0; "
               "image time = %s UTC", log_time_text(t).c_str());
    return GpsMatch::kOutOfRange;
  }
  const std::vector<GpsPoint>& points = track_for(tracks, t).points;
  auto at = std::lower_bound(points.begin(), points.end(), t,
                             [](const GpsPoint& p, std::int64_t when) { return p.time < when; });
  if (at == points.begin() || at == points.end()) {
    log_printf("GPX::interpolate -- out of range (i = %d) -- can't find interval -- corrected "
               "image time = %s UTC", static_cast<int>(at - points.begin()),
               log_time_text(t).c_str());
    return GpsMatch::kOutOfRange;
  }
  const GpsPoint& a = *(at - 1);
  const GpsPoint& b = *at;
  const float f = static_cast<float>(static_cast<double>(t - a.time) /
                                     static_cast<double>(b.time - a.time));
  where.lat = a.lat + (b.lat - a.lat) * f;
  where.lon = a.lon + (b.lon - a.lon) * f;
  where.ele = a.ele + (b.ele - a.ele) * f;
  return GpsMatch::kFound;
}

}  // namespace cw
