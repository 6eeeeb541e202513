// Writing GPS positions into image files through ExifTool.
//
// Each image's position is looked up in the track store and written by one ExifTool process
// that stays open for the whole list: it reads each image's arguments, one a line, from its
// standard input and answers "{readyN}" once the image is done, with its messages before the
// answer. A file name that a line cannot carry (a line break, a control character, white
// space at its end) is written by an ExifTool run of its own with an argument vector instead.
// No shell is involved, so any file name works. ExifTool writes a new file beside the
// image ("<image>-cwtmp"), which is synced and renamed over the image only when complete, so a
// stop or a kill at any moment leaves the image either as it was or fully tagged (and at most
// that temporary file, which the next tagging of the image replaces). The image keeps its
// modification time. Every image ends in one of three counts: tagged, out of the
// tracks' time interval, or an error; per-image failures never stop the others.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string_view>
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
  // True for the extensions of files that cannot carry these tags (videos); null: none.
  bool (*cannot_carry_tags)(std::string_view extension) = nullptr;
  // Set once a missing ExifTool has been reported; shared by the copies of these settings,
  // so it is reported once while the program runs.
  std::shared_ptr<std::atomic<bool>> missing_reported = std::make_shared<std::atomic<bool>>(false);
  // Seconds added to the times of some images besides (a camera clock corrected for them
  // alone), by the image's path; null: none.
  const std::map<std::string, std::int64_t>* image_adjustments = nullptr;
};

struct GpsTagCounts {
  int tagged = 0;
  int out_of_interval = 0;
  int errors = 0;
  std::vector<std::string> untaggable;  // files that cannot carry the tags (videos)
};

// The report line naming the files that cannot carry the tags; empty when there are none.
std::string untaggable_line(const GpsTagCounts& counts);

// What was searched for ExifTool: the configured path, or the name and the folders of PATH.
std::string exiftool_searched(const std::string& exiftool);

// One ExifTool process that stays open and tags image after image; started with the first
// image, ended (its whole process group) when destroyed or when a stop request is seen.
class TagWriter {
 public:
  explicit TagWriter(std::string exiftool) : exiftool_(std::move(exiftool)) {}
  ~TagWriter();
  TagWriter(const TagWriter&) = delete;
  TagWriter& operator=(const TagWriter&) = delete;

  // Runs one image's arguments (without the program name). True when ExifTool answered;
  // `output` then holds what it said about the image (empty: nothing).
  bool run(const std::vector<std::string>& args, std::string& output, const StopSource& stop);
  // The two halves of run(), so that ExifTool can work on one image while the caller finishes
  // the one before: send() passes an image's arguments (false with `why` set when ExifTool
  // cannot take them), answer() waits for the answer to the oldest image not yet answered.
  bool send(const std::vector<std::string>& args, std::string& why);
  bool answer(std::string& output, const StopSource& stop);
  // The folders of the images replaced by their tagged versions, synced when the writer ends.
  std::set<std::string>& changed_folders() { return folders_; }
  // How many ExifTool processes this writer started.
  int processes_started() const { return started_; }

 private:
  bool start(std::string& why);
  void end(bool force);

  std::string exiftool_;
  pid_t pid_ = -1;     // ExifTool's watcher, the leader of their group
  int lifeline_ = -1;  // held while ExifTool runs: its watcher ends it once this closes
  int input_ = -1;     // ExifTool's standard input
  int output_ = -1;    // its standard output and error, together
  std::string pending_;  // read beyond the last answer
  int started_ = 0;
  int executed_ = 0;
  int answered_ = 0;
  std::set<std::string> folders_;
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
// `writer` is the run's ExifTool process.
bool tag_image(const GpsRunSettings& gps, TagWriter& writer, const std::string& image,
               GpsTagCounts& counts, std::string& results, const StopSource& stop = {});

// Tags the images of `list` in order through `writer`, then empties it. The first time
// ExifTool is found missing its message goes to `results`, the list is emptied untagged and
// the result is false; after that the images count as errors (or out of interval). A stop
// request ends the loop; the images not reached are not counted. `after` is called with each
// image once its tagging is over, whatever came of it, and with how many are done.
using TagProgress = std::function<void(const std::string& image, int done, int total)>;
bool tag_images(const GpsRunSettings& gps, TagWriter& writer, std::vector<std::string>& list,
                GpsTagCounts& counts, std::string& results, const StopSource& stop = {},
                const TagProgress& after = {});

}  // namespace cw
