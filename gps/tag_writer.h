// Writing GPS positions into image files through ExifTool.
//
// Each image's position is looked up in the track store and written by one ExifTool run with
// an argument vector (no shell, so any file name works). ExifTool writes a new file beside the
// image ("<image>-cwtmp"), which is synced and renamed over the image only when complete, so a
// stop or a kill at any moment leaves the image either as it was or fully tagged (and at most
// that temporary file, which the next tagging of the image replaces). The image keeps its
// modification time. Every image ends in one of three counts: tagged, out of the
// tracks' time interval, or an error; per-image failures never stop the others.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/runner.h"
#include "gps/gpx.h"

namespace cw {

// The program run when no path is configured (found on PATH).
inline constexpr const char* kExifToolName = "exiftool";

// What a run needs to tag images: the loaded tracks, the camera clock's adjustment and the
// ExifTool program. Null tracks: GPS tagging is off.
struct GpsRunSettings {
  const GPX* tracks = nullptr;  // not owned; must outlive the runs and stay unchanged
  std::int64_t adjustment = 0;  // seconds added to every image time
  std::string exiftool = kExifToolName;  // a path, or a name found on PATH
  bool video_times_local = false;  // movie header times are the camera's local time
};

struct GpsTagCounts {
  int tagged = 0;
  int out_of_interval = 0;
  int errors = 0;
};

// The file beside `image` that the tags are written into before it replaces the image.
std::string tagged_temp_path(const std::string& image);

// ExifTool's argument vector (args[0] is the program) that writes `image` with `where` into
// the new file `output`: references N/S, E/W and above/below with absolute values in six
// decimals.
std::vector<std::string> exiftool_args(const std::string& exiftool, const GpsPosition& where,
                                       const std::string& image, const std::string& output);

// The results-text line for a missing ExifTool (`exiftool` as configured; empty: not found),
// with where to get it.
std::string exiftool_missing_message(const std::string& exiftool);

// Tags one image and counts the outcome. Why an image failed in ExifTool goes to `results`
// ("ERROR processing %s: %s"); out-of-range images and images without a date are only logged.
// True when the image was replaced by its tagged version.
bool tag_image(const GpsRunSettings& gps, const std::string& image, GpsTagCounts& counts,
               std::string& results, const StopSource& stop = {});

// Tags the images of `list` in order, then empties it. When ExifTool is missing its message
// goes to `results`, the images count as errors (or out of interval) and the result is false.
// A stop request ends the loop; the images not reached are not counted. `after` is called with
// each image once its tagging is over, whatever came of it.
bool tag_images(const GpsRunSettings& gps, std::vector<std::string>& list, GpsTagCounts& counts,
                std::string& results, const StopSource& stop = {},
                const std::function<void(const std::string&)>& after = {});

}  // namespace cw
