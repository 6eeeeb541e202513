// `cardwright gps`: the camera zones, loading track files (summary and analysis), the position
// of images on a track (without writing anything), reading a GPS receiver, and writing the
// positions into images through ExifTool.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_run.h"
#include "gps/camera_clock.h"
#include "gps/gpx.h"
#include "gps/image_time.h"
#include "gps/receiver.h"
#include "gps/tag_writer.h"
#include "settings/param.h"

namespace cw::app {

namespace {

constexpr const char* kName = "gps";

void print_help() {
  std::printf(
      "Usage: cardwright gps zones\n"
      "       cardwright gps load [CLOCK] FILE...\n"
      "       cardwright gps locate [CLOCK] --track FILE... [--json] IMAGE...\n"
      "       cardwright gps read --device garmin|magellan [--port PORT] [--save FILE.gpx] "
      "[CLOCK]\n"
      "       cardwright gps tag [CLOCK] --track FILE... IMAGE...\n"
      "zones lists the camera zones; load shows what GPX or LOG files hold; locate prints each\n"
      "image's position (latitude, longitude, altitude), \"out of range\" or \"error\" and\n"
      "writes nothing; read loads a receiver's track through gpsbabel (PORT: USB, COMn or a\n"
      "device); tag writes the positions into the images with ExifTool.\n\n"
      "CLOCK (default: the master preset's GPS settings):\n"
      "  --zone ZONE            the camera clock's zone, as 'gps zones' lists it, or hours\n"
      "                         from UTC such as +1\n"
      "  --dst                  the camera clock was on summer time\n"
      "  --adjust S             seconds to add to the camera's times\n"
      "  --camera-time T --true-time T\n"
      "                         the camera showed T (YYYY-MM-DD HH:MM:SS) at the true time T\n");
}

struct Args {
  std::vector<std::string> tracks, rest;
  std::string device, port = "USB", save;
  bool json = false;
  CameraClock clock;
};

// A time "YYYY-MM-DD HH:MM:SS" as seconds, read the way image times are.
std::optional<std::int64_t> time_arg(std::string text) {
  for (std::size_t i = 0; i < text.size() && i < 10; ++i)
    if (text[i] == '-') text[i] = ':';
  return exif_text_seconds(text);
}

// Parses the arguments after the subcommand; the clock starts from the preset.
bool parse(int argc, char** argv, const CWPreset& master, Args& a) {
  a.clock = camera_clock_from_preset(master);
  std::string zone = master.get_str("CameraZone").value_or("");
  bool dst = master.get_int("CameraZoneDST") != 0, zone_given = false;
  std::optional<std::int64_t> camera_time, true_time;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    auto need = [&](const char* v) {
      if (!v) usage_error(kName, (arg + " needs a value").c_str());
      return v != nullptr;
    };
    if (arg == "--track") {
      const char* v = value();
      if (!need(v)) return false;
      a.tracks.emplace_back(v);
    } else if (arg == "--zone") {
      const char* v = value();
      if (!need(v)) return false;
      std::optional<std::string> entry = camera_zone_entry(v);
      if (!entry) {
        usage_error(kName, "--zone expects a zone of 'cardwright gps zones' or hours such as +1");
        return false;
      }
      zone = *entry;
      zone_given = true;
    } else if (arg == "--dst") {
      dst = zone_given = true;
    } else if (arg == "--adjust") {
      const char* v = value();
      if (!need(v)) return false;
      char* end = nullptr;
      a.clock.adjustment = std::strtoll(v, &end, 10);
      if (!*v || *end) {
        usage_error(kName, "--adjust expects a number of seconds");
        return false;
      }
    } else if (arg == "--camera-time" || arg == "--true-time") {
      const char* v = value();
      if (!need(v)) return false;
      (arg == "--camera-time" ? camera_time : true_time) = time_arg(v);
      if (!(arg == "--camera-time" ? camera_time : true_time)) {
        usage_error(kName, (arg + " expects YYYY-MM-DD HH:MM:SS").c_str());
        return false;
      }
    } else if (arg == "--device" || arg == "--port" || arg == "--save") {
      const char* v = value();
      if (!need(v)) return false;
      (arg == "--device" ? a.device : arg == "--port" ? a.port : a.save) = v;
    } else if (arg == "--json") {
      a.json = true;
    } else if (arg.rfind("--", 0) == 0) {
      usage_error(kName, ("unknown option " + arg).c_str());
      return false;
    } else {
      a.rest.push_back(arg);
    }
  }
  if (camera_time.has_value() != true_time.has_value()) {
    usage_error(kName, "--camera-time and --true-time go together");
    return false;
  }
  if (camera_time) a.clock.adjustment = clock_adjustment(*camera_time, *true_time);
  if (zone_given) a.clock.offset = camera_offset(zone, dst);
  return true;
}

// Loads the track files into `tracks`; false after saying why.
bool load_tracks(const Args& a, GPX& tracks) {
  std::string message;
  if (tracks.load_files(a.tracks, message)) return true;
  std::fprintf(stderr, "%s\n", message.empty() ? "Unknown error reading GPX files" : message.c_str());
  return false;
}

int locate(const Args& a) {
  GPX tracks(a.clock.offset);
  if (!load_tracks(a, tracks)) return 1;
  if (a.json) std::printf("[");
  for (std::size_t i = 0; i < a.rest.size(); ++i) {
    const std::string& image = a.rest[i];
    GpsPosition where;
    const GpsMatch match = tracks.interpolate(image, a.clock.adjustment, where);
    const char* status = match == GpsMatch::kOutOfRange ? "out of range" : "error";
    if (a.json) {
      std::printf("%s{\"image\": %s, ", i ? ", " : "", json_string(image).c_str());
      if (match == GpsMatch::kFound)
        std::printf("\"latitude\": %.6f, \"longitude\": %.6f, \"altitude\": %.1f}", where.lat,
                    where.lon, where.ele);
      else
        std::printf("\"status\": \"%s\"}", status);
    } else if (match == GpsMatch::kFound) {
      std::printf("%s\t%.6f\t%.6f\t%.1f\n", image.c_str(), where.lat, where.lon, where.ele);
    } else {
      std::printf("%s\t%s\n", image.c_str(), status);
    }
  }
  if (a.json) std::printf("]\n");
  return 0;
}

int tag(const Args& a, const std::string& exiftool) {
  GPX tracks(a.clock.offset);
  if (!load_tracks(a, tracks)) return 1;
  GpsRunSettings run{&tracks, a.clock.adjustment, exiftool};
  std::vector<std::string> images = a.rest;
  GpsTagCounts counts;
  std::string results;
  const bool ok = tag_images(run, images, counts, results);
  std::fputs(results.c_str(), stdout);
  std::printf("%d tagged\n%d out of time interval\n%d error(s)\n", counts.tagged,
              counts.out_of_interval, counts.errors);
  return ok && counts.errors == 0 ? 0 : 1;
}

}  // namespace

int cmd_gps(int argc, char** argv) {
  for (int i = 0; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      print_help();
      return 0;
    }
  if (argc < 1) return usage_error(kName, "a command is required");
  const std::string verb = argv[0];
  if (verb == "zones") {
    for (const char* zone : camera_zones()) std::printf("%s\n", camera_zone_display(zone).c_str());
    return 0;
  }
  if (verb != "load" && verb != "locate" && verb != "read" && verb != "tag")
    return usage_error(kName, ("unknown command '" + verb + "'").c_str());
  ConsoleUserInterface ui;
  CommandSession session(ui, kSessionSettings);
  Args a;
  if (!parse(argc - 1, argv + 1, session->settings().master(), a)) return 2;
  if (verb == "load") {
    if (a.rest.empty()) return usage_error(kName, "load takes FILE...");
    a.tracks = a.rest;
    GPX tracks(a.clock.offset);
    if (!load_tracks(a, tracks)) return 1;
    std::printf("%s\n%s", tracks.summary().c_str(), tracks.analysis().c_str());
    return 0;
  }
  if (verb == "read") {
    if (a.device != "garmin" && a.device != "magellan")
      return usage_error(kName, "read needs --device garmin or --device magellan");
    GPX tracks(a.clock.offset);
    std::string message;
    const GpsReceiver kind = a.device == "garmin" ? GpsReceiver::kGarmin : GpsReceiver::kMagellan;
    if (!read_receiver(tracks, kind, a.port, a.save, session->tools().gpsbabel, message)) {
      std::fprintf(stderr, "%s\n", message.empty() ? "Unknown error reading Garmin device" : message.c_str());
      return 1;
    }
    std::printf("%s\n", tracks.summary().c_str());
    return 0;
  }
  if (a.tracks.empty() || a.rest.empty())
    return usage_error(kName, (verb + " takes --track FILE... and IMAGE...").c_str());
  return verb == "locate" ? locate(a) : tag(a, session->tools().exiftool);
}

}  // namespace cw::app
