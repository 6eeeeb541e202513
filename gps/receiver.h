// Reading the track memory of a GPS receiver through gpsbabel, which writes it as a GPX file
// that is then loaded into the track store.
//
// gpsbabel is run with an argument vector; whatever it writes on its error output is taken as
// the reason it failed, even when it also wrote a file.
#pragma once

#include <string>
#include <vector>

#include "foundation/runner.h"
#include "gps/gpx.h"

namespace cw {

// The program run when no path is configured (found on PATH).
inline constexpr const char* kGpsBabelName = "gpsbabel";

// The receiver kinds, numbered as the "GPSSource" setting numbers them (0 is track files).
enum class GpsReceiver { kGarmin = 1, kMagellan = 2 };

// The port as gpsbabel takes it on Linux: "USB" as "usb:", "COMn" as the serial device
// /dev/ttyS(n-1), anything else (a device or file path) as given without a trailing ":".
std::string gpsbabel_port(const std::string& port);

// gpsbabel's argument vector (args[0] is the program) that reads the receiver's tracks into
// `gpx_file`. A Magellan receiver on a serial port is read at 115200 baud.
std::vector<std::string> gpsbabel_args(const std::string& gpsbabel, GpsReceiver kind,
                                       const std::string& port, const std::string& gpx_file);

// Reads the receiver on `port` into `store` and sorts its tracks (`gpsbabel`: a path, or a name
// found on PATH; empty when it was not found). The GPX track is written to
// `save_file`, or to a temporary file (removed afterwards) when that is empty. False with
// `message` saying why; the store is then unchanged.
bool read_receiver(GPX& store, GpsReceiver kind, const std::string& port,
                   const std::string& save_file, const std::string& gpsbabel,
                   std::string& message, const StopSource& stop = {});

}  // namespace cw
