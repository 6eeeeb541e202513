// `cardwright gps`: the camera zones, loading track files (summary and analysis), the position
// of images on a track (without writing anything), reading a GPS receiver, and writing the
// positions into images through ExifTool.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_run.h"
#include "control/exif_values.h"
#include "control/gps_tracks.h"
#include "control/settings_access.h"
#include "foundation/zone_db.h"

namespace cw::app {

namespace {

constexpr const char* kName = "gps";
constexpr const char* kZoneExpected =
    "expects a zone of 'cardwright gps zones', a zone name such as Europe/Berlin or hours such "
    "as +1";

struct GpsArgs {
  std::vector<std::string> tracks, rest;
  std::string device, port = "USB", save;
  std::string track_date;  // "ddmmyy" for LOG fixes without a date, or empty
  bool json = false;
  bool video_times_local = false;  // movie header times are the camera's local time
  CameraClock clock;
};

// Takes the options and the words after the subcommand; the clock starts from the preset.
// A usage error (2) or -1.
int parse(const Args& in, AppSession& session, GpsArgs& a) {
  std::string zone_error;
  a.clock = preset_camera_clock(session, &zone_error);
  const CWPreset& master = session.settings().master();
  std::string zone = master.get_str("CameraZone").value_or("");
  bool dst = master.get_int("CameraZoneDST") != 0;
  const bool zone_given = in.has("zone") || in.has("dst");
  a.tracks = in.values("track");
  a.rest.assign(in.words.begin() + 1, in.words.end());
  a.device = in.value("device").value_or("");
  a.port = in.value("port").value_or("USB");
  a.save = in.value("save").value_or("");
  a.json = in.has("json");
  if (auto v = in.value("zone")) {
    std::optional<std::string> entry = camera_zone_of_text(*v);
    if (!entry)
      return bad_value(kName, "zone", *v, kZoneExpected);
    zone = *entry;
  }
  if (in.has("dst")) dst = true;
  if (auto v = in.value("adjust")) {
    char* end = nullptr;
    a.clock.adjustment = std::strtoll(v->c_str(), &end, 10);
    if (v->empty() || *end) return bad_value(kName, "adjust", *v, "expects a number of seconds");
  }
  std::optional<std::int64_t> times[2];
  const char* const kTimes[2] = {"camera-time", "true-time"};
  for (int i = 0; i < 2; ++i)
    if (auto v = in.value(kTimes[i]); v && !(times[i] = camera_time_seconds(*v)))
      return bad_value(kName, kTimes[i], *v, "expects YYYY-MM-DD HH:MM:SS");
  if (times[0].has_value() != times[1].has_value())
    return usage_error(kName, "--camera-time and --true-time go together");
  if (auto v = in.value("track-date")) {
    std::optional<std::string> date = track_date_of(*v);
    if (!date) return bad_value(kName, "track-date", *v, kTrackDateExpected);
    a.track_date = *date;
  }
  if (times[0]) a.clock.adjustment = camera_clock_adjustment(*times[0], *times[1]);
  if (zone_given) {
    std::optional<CameraZone> chosen = camera_zone_from_setting(zone, dst, zone_error);
    if (!chosen) return bad_value(kName, "zone", zone, zone_error);
    a.clock.zone = std::move(*chosen);
  } else if (!zone_error.empty()) {
    std::fprintf(stderr, "%s (the master preset's CameraZone; give --zone)\n", zone_error.c_str());
    return 1;
  }
  if (in.has("dst") && a.clock.zone.kind() == CameraZone::Kind::kNamed)
    std::fprintf(stderr, "--dst is ignored: %s takes summer time from the zone database\n",
                 a.clock.zone.text().c_str());
  return -1;
}

// The track files loaded under the clock's zone; null after saying why.
std::unique_ptr<GPX> load_tracks(const GpsArgs& a) {
  std::string message;
  std::unique_ptr<GPX> tracks = load_track_files(a.tracks, a.clock.zone, a.track_date, message);
  if (!tracks) std::fprintf(stderr, "%s\n", message.c_str());
  return tracks;
}

int locate(const GpsArgs& a) {
  const std::unique_ptr<GPX> tracks = load_tracks(a);
  if (!tracks) return 1;
  const std::vector<ImagePosition> positions =
      locate_images(*tracks, a.rest, a.clock.adjustment, a.video_times_local);
  if (a.json) std::printf("[");
  for (std::size_t i = 0; i < positions.size(); ++i) {
    const ImagePosition& p = positions[i];
    const char* status = p.match == GpsMatch::kOutOfRange ? "out of range" : "error";
    if (a.json) {
      std::printf("%s{\"image\": %s, ", i ? ", " : "", json_string(p.image).c_str());
      if (p.match == GpsMatch::kFound)
        std::printf("\"latitude\": %.6f, \"longitude\": %.6f, \"altitude\": %.1f}", p.where.lat,
                    p.where.lon, p.where.ele);
      else
        std::printf("\"status\": \"%s\"}", status);
    } else if (p.match == GpsMatch::kFound) {
      std::printf("%s\t%.6f\t%.6f\t%.1f\n", p.image.c_str(), p.where.lat, p.where.lon,
                  p.where.ele);
    } else {
      std::printf("%s\t%s\n", p.image.c_str(), status);
    }
  }
  if (a.json) std::printf("]\n");
  return 0;
}

int tag(const GpsArgs& a, const std::string& exiftool) {
  const std::unique_ptr<GPX> tracks = load_tracks(a);
  if (!tracks) return 1;
  const TrackTagging done =
      tag_images_on_track(*tracks, a.rest, a.clock.adjustment, exiftool, a.video_times_local);
  std::fputs(done.results.c_str(), stdout);
  if (!done.ok) return 1;
  std::printf("%d tagged\n%d out of time interval\n%d error(s)\n", done.counts.tagged,
              done.counts.out_of_interval, done.counts.errors);
  std::fputs(done.untaggable.c_str(), stdout);
  return done.counts.errors == 0 ? 0 : 1;
}

int run_gps(const CommandSpec&, Args& in) {
  if (in.words.empty()) return usage_error(kName, "a command is required (zones, load, locate, read, tag)");
  const std::string verb = in.words[0];
  if (verb == "zones") {
    if (in.words.size() != 1) return usage_error(kName, "zones takes no arguments");
    for (const ZoneChoice& zone : listed_camera_zones()) std::printf("%s\n", zone.shown.c_str());
    if (!in.has("all")) {
      std::printf("\nZones by name such as Europe/Berlin, with their summer time, are taken too:\n"
                  "'cardwright gps zones --all' lists them.\n");
      return 0;
    }
    std::printf("--------------\n");
    for (const std::string& name : zone_names()) std::printf("%s\n", name.c_str());
    return 0;
  }
  ConsoleUserInterface ui;
  CommandSession session(ui, kSessionSettings);
  GpsArgs a;
  if (int status = parse(in, *session, a); status >= 0) return status;
  a.video_times_local = session_video_times_local(*session) || in.has("video-times-local");
  if (verb == "load") {
    if (a.rest.empty()) return usage_error(kName, "load takes FILE...");
    a.tracks = a.rest;
    const std::unique_ptr<GPX> tracks = load_tracks(a);
    if (!tracks) return 1;
    std::printf("%s\n%s", tracks->summary().c_str(), tracks->analysis().c_str());
    return 0;
  }
  if (verb == "read") {
    if (a.device != "garmin" && a.device != "magellan")
      return a.device.empty() ? usage_error(kName, "read needs --device garmin or --device magellan")
                              : bad_value(kName, "device", a.device, "expects garmin or magellan");
    std::string message;
    const GpsReceiver kind = a.device == "garmin" ? GpsReceiver::kGarmin : GpsReceiver::kMagellan;
    const std::unique_ptr<GPX> tracks = read_track_receiver(
        kind, a.port, a.save, session->tools().gpsbabel, a.clock.zone, message);
    if (!tracks) {
      std::fprintf(stderr, "%s\n", message.c_str());
      return 1;
    }
    std::printf("%s\n", tracks->summary().c_str());
    return 0;
  }
  if (a.tracks.empty() || a.rest.empty())
    return usage_error(kName, verb + " takes --track FILE... and IMAGE...");
  return verb == "locate" ? locate(a) : tag(a, session->tools().exiftool);
}

}  // namespace

const CommandSpec& gps_command() {
  static const CommandSpec spec{
      "gps",
      "GPS tracks: camera zones, track summaries, image positions, receivers, tagging",
      {"zones [--all]", "load [CLOCK] FILE...", "locate [CLOCK] --track FILE... [--json] IMAGE...",
       "read --device garmin|magellan [--port PORT] [--save FILE.gpx] [CLOCK]",
       "tag [CLOCK] --track FILE... IMAGE..."},
      "CLOCK is --zone, --dst, --adjust or --camera-time with --true-time (default: the\n"
      "master preset's GPS settings).",
      {
          {"zones", "", "lists the camera zones (with --all also the zones by name of the\n"
                        "system's zone database)"},
          {"load", "FILE...", "shows what GPX or LOG files hold", "file"},
          {"locate", "IMAGE...", "prints each image's position (latitude, longitude, altitude),\n"
                                 "\"out of range\" or \"error\"; writes nothing", "file"},
          {"read", "", "loads a receiver's track through gpsbabel"},
          {"tag", "IMAGE...", "writes the positions into the images with ExifTool", "file"},
      },
      {
          {"track", "FILE", "a GPX or LOG track (repeat for several)", true, "file", "locate tag"},
          {"zone", "ZONE", "the camera clock's zone, as 'gps zones' lists it, a zone name such\n"
                           "as Europe/Berlin ('gps zones --all'), or hours from UTC such as +1\n"
                           "(default: the master preset's CameraZone)", false, nullptr,
           "load locate read tag"},
          {"dst", nullptr, "the camera clock was on summer time (default: the master preset's\n"
                           "CameraZoneDST); a zone by name takes summer time from the zone\n"
                           "database instead", false, nullptr, "load locate read tag"},
          {"all", nullptr, "also list the zones by name", false, nullptr, "zones"},
          {"adjust", "S", "seconds to add to the camera's times (default: the master preset's\n"
                          "adjustment)", false, nullptr, "load locate read tag"},
          {"camera-time", "T", "the camera showed T (YYYY-MM-DD HH:MM:SS) ...", false, nullptr,
           "load locate read tag"},
          {"true-time", "T", "... at the true time T", false, nullptr, "load locate read tag"},
          {"track-date", "YYYY-MM-DD", "the date of LOG files whose fixes carry none ($GPGGA\n"
                                       "only, without $GPZDA or $GPRMC lines)", false, nullptr,
           "load locate tag"},
          {"device", "KIND", "the receiver: garmin or magellan", false, "garmin magellan", "read"},
          {"port", "PORT", "USB, COMn or a device (default USB)", false, nullptr, "read"},
          {"save", "FILE.gpx", "keep the receiver's track in this file", false, "file", "read"},
          {"json", nullptr, "print the positions as JSON", false, nullptr, "locate"},
          {"video-times-local", nullptr, kVideoTimesLocalHelp, false, nullptr, "locate tag"},
      },
      {{"adjust", "camera-time"}},
      nullptr,
      run_gps,
  };
  return spec;
}

}  // namespace cw::app
