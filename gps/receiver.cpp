// GPS receivers read through gpsbabel.
#include "gps/receiver.h"

#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include <iterator>

#include "foundation/log.h"

namespace cw {

namespace {

// How much of gpsbabel's error output is kept, and of its first line.
constexpr std::size_t kToolOutputSize = 1000;
constexpr std::size_t kMessageLineMax = 99;

// n of "COMn" (n >= 1), else 0.
int com_number(const std::string& port) {
  if (port.size() < 4 || strncasecmp(port.c_str(), "COM", 3) != 0) return 0;
  int n = 0;
  for (std::size_t i = 3; i < port.size(); ++i) {
    if (port[i] < '0' || port[i] > '9' || n > 999) return 0;
    n = n * 10 + (port[i] - '0');
  }
  return n;
}

bool is_serial_port(const std::string& port) {
  return com_number(port) > 0 || port.rfind("/dev/", 0) == 0;
}

// A temporary file name ending in ".gpx" (the file exists, empty, so no other process can take
// the name); empty when none can be made.
std::string temporary_gpx() {
  const char* folder = std::getenv("TMPDIR");
  std::string name = std::string(folder && *folder ? folder : "/tmp") + "/cardwright-gps-XXXXXX.gpx";
  int fd = ::mkstemps(name.data(), 4);
  if (fd < 0) return {};
  ::close(fd);
  return name;
}

// Removes a temporary file when it goes out of scope.
struct TemporaryFile {
  std::string path;
  ~TemporaryFile() {
    if (!path.empty()) ::unlink(path.c_str());
  }
};

}  // namespace

std::string gpsbabel_port(const std::string& port) {
  if (strcasecmp(port.c_str(), "USB") == 0 || strcasecmp(port.c_str(), "USB:") == 0)
    return "usb:";
  std::string name = port;
  if (!name.empty() && name.back() == ':') name.pop_back();  // gpsbabel takes no ":" after a device
  if (int n = com_number(name); n > 0) return "/dev/ttyS" + std::to_string(n - 1);
  return name;
}

std::vector<std::string> gpsbabel_args(const std::string& gpsbabel, GpsReceiver kind,
                                       const std::string& port, const std::string& gpx_file) {
  std::string input = "Garmin";
  if (kind == GpsReceiver::kMagellan)
    input = is_serial_port(gpsbabel_port(port)) ? "Magellan,baud=115200" : "Magellan";
  return {gpsbabel, "-t", "-i", input, "-f", gpsbabel_port(port), "-o", "gpx", "-F", gpx_file};
}

bool read_receiver(GPX& store, GpsReceiver kind, const std::string& port,
                   const std::string& save_file, const std::string& gpsbabel,
                   std::string& message, const StopSource& stop) {
  if (find_executable(gpsbabel).empty()) {
    message = "GPS device reader (gpsbabel) not found as " +
              (gpsbabel.empty() ? std::string(kGpsBabelName) : gpsbabel) +
              " (on Debian: apt install gpsbabel)";
    return false;
  }
  TemporaryFile temporary;
  std::string gpx_file = save_file;
  if (gpx_file.empty()) {
    gpx_file = temporary.path = temporary_gpx();
    if (gpx_file.empty()) {
      message = "Can't get temporary file names for GPS data";
      return false;
    }
  }
  const std::vector<std::string> args = gpsbabel_args(gpsbabel, kind, port, gpx_file);
  log_printf("gpsbabel command line: %s", quoted_command_line(args).c_str());
  std::string output;
  const bool ok = run_program(gpsbabel, args, output, kToolOutputSize, stop);
  std::string line = output.substr(0, output.find_first_of("\r\n"));
  if (!line.empty()) {
    message = line.substr(0, kMessageLineMax);
    return false;
  }
  if (!ok) {
    message = "GPS device reader (gpsbabel) failed to run or terminated improperly";
    return false;
  }
  GPX read(store.zone);
  if (!read.load_gpx_file(gpx_file, message)) return false;
  read.sort();
  if (!temporary.path.empty())  // the file goes away: name the receiver instead
    for (GpsTrack& track : read.tracks)
      track.file = (kind == GpsReceiver::kGarmin ? "Garmin receiver on " : "Magellan receiver on ") +
                   gpsbabel_port(port);
  store.tracks.insert(store.tracks.end(), std::make_move_iterator(read.tracks.begin()),
                      std::make_move_iterator(read.tracks.end()));
  return true;
}

}  // namespace cw
