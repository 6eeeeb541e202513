// GPS tag writing through ExifTool.
#include "gps/tag_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <climits>
#include <cmath>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/text.h"

namespace cw {

namespace {

// How much of ExifTool's error output is kept.
constexpr std::size_t kToolOutputSize = 1000;

// "%f" of a value without the locale's say in the decimal point: ExifTool reads ".".
std::string six_decimals(float value) {
  char text[64];
  auto [end, ec] = std::to_chars(text, text + sizeof text, std::fabs(static_cast<double>(value)),
                                 std::chars_format::fixed, 6);
  return ec == std::errc() ? std::string(text, end) : "0.000000";
}

std::string first_line(const std::string& text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

// Moves the complete tagged file over the image once it is on the disk, with the image's
// permissions; the rename is made durable too. False with `why` set when it cannot.
bool replace_with_temp(const std::string& temp, const std::string& image, std::string& why) {
  struct stat st;
  if (::stat(image.c_str(), &st) != 0) {
    why = "can't get stat of " + image;
    return false;
  }
  const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = "ExifTool wrote no file " + temp;
    return false;
  }
  const bool synced = ::fsync(fd) == 0;
  ::fchmod(fd, st.st_mode & 07777);
  ::close(fd);
  if (!synced || ::rename(temp.c_str(), image.c_str()) != 0) {
    why = "can't rename " + temp + " to " + image;
    return false;
  }
  const std::size_t slash = image.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : image.substr(0, slash + 1);
  const int dir_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return true;
}

std::string current_folder() {
  char folder[PATH_MAX];
  return ::getcwd(folder, sizeof folder) ? folder : "?";
}

}  // namespace

std::string tagged_temp_path(const std::string& image) { return image + "-cwtmp"; }

std::vector<std::string> exiftool_args(const std::string& exiftool, const GpsPosition& where,
                                       const std::string& image, const std::string& output) {
  // A file name that begins with "-" would read as an option.
  auto argument = [](const std::string& path) {
    std::string file = system_path(path);
    if (!file.empty() && file.front() == '-') file.insert(0, "./");
    return file;
  };
  // -q keeps ExifTool's "1 image files updated" off our standard output (a script may be
  // reading it); its errors and warnings still come on standard error. -P gives the new file
  // the image's modification time; -o writes it instead of changing the image.
  return {exiftool,
          "-q",
          "-m",
          "-P",
          "-o",
          argument(output),
          std::string("-gps:GPSLatitudeRef=") + (where.lat >= 0 ? "N" : "S"),
          "-gps:GPSLatitude=" + six_decimals(where.lat),
          std::string("-gps:GPSLongitudeRef=") + (where.lon >= 0 ? "E" : "W"),
          "-gps:GPSLongitude=" + six_decimals(where.lon),
          std::string("-gps:GPSAltitudeRef=") + (where.ele >= 0 ? "above" : "below"),
          "-gps:GPSAltitude=" + six_decimals(where.ele),
          argument(image)};
}

std::string exiftool_missing_message(const std::string& exiftool) {
  const char* shown = exiftool.empty() ? kExifToolName : exiftool.c_str();
  return format_limited(1000,
                        "\nERROR: ExifTool must be installed as %s. Get it from "
                        "https://exiftool.org/ (on Debian: apt install "
                        "libimage-exiftool-perl).\n",
                        shown);
}

bool tag_image(const GpsRunSettings& gps, const std::string& image, GpsTagCounts& counts,
               std::string& results, const StopSource& stop) {
  GpsPosition where;
  const GpsMatch match =
      gps.tracks ? gps.tracks->interpolate(image, gps.adjustment, gps.video_times_local, where) : GpsMatch::kOutOfRange;
  if (match != GpsMatch::kFound) {
    ++(match == GpsMatch::kOutOfRange ? counts.out_of_interval : counts.errors);
    return false;
  }
  if (find_executable(gps.exiftool).empty()) {
    log_printf("ExifTool not found as %s; %s not tagged", gps.exiftool.c_str(), image.c_str());
    ++counts.errors;
    return false;
  }
  // A file of this name is a tagging that never finished: ExifTool writes no file over it.
  const std::string temp = tagged_temp_path(image);
  ::unlink(temp.c_str());
  const std::vector<std::string> args = exiftool_args(gps.exiftool, where, image, temp);
  log_printf("ExifTool command line: %s", quoted_command_line(args).c_str());
  std::string output;
  const bool ok = run_program(gps.exiftool, args, output, kToolOutputSize, stop);
  log_printf("ExifTool run %s", ok ? "succeeded" : "failed");
  std::string line = first_line(output);
  const bool replaced = ok && line.empty() && replace_with_temp(temp, image, line);
  if (!replaced) ::unlink(temp.c_str());
  if (!line.empty()) text_append_printf(results, "ERROR processing %s: %s\n", image.c_str(), line.c_str());
  ++(replaced ? counts.tagged : counts.errors);
  return replaced;
}

bool tag_images(const GpsRunSettings& gps, std::vector<std::string>& list, GpsTagCounts& counts,
                std::string& results, const StopSource& stop,
                const std::function<void(const std::string&)>& after) {
  const bool present = !find_executable(gps.exiftool).empty();
  if (!present) {
    results += exiftool_missing_message(gps.exiftool);
    log_printf("Current directory is: \"%s\"", current_folder().c_str());
  }
  for (const std::string& image : list) {
    if (stop && stop()) break;
    tag_image(gps, image, counts, results, stop);
    if (after) after(image);
  }
  list.clear();
  return present;
}

}  // namespace cw
