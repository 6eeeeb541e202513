// GPS data loaded as the master preset's GPS settings say: the entry that both the GPS
// settings window and the command line call, and the settings a run then gets.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "foundation/runner.h"
#include "gps/gpx.h"
#include "gps/tag_writer.h"

namespace cw {

class CWPreset;

// The "GPSSource" values.
enum GpsSource { kGpsSourceFiles = 0, kGpsSourceGarmin = 1, kGpsSourceMagellan = 2 };

// A fresh store with the camera's zone ("CameraZone", "CameraZoneDST"), loaded from `files`
// (GPX or LOG, source 0) or from the receiver on "GPSDevice" (sources 1 and 2), whose track is
// kept in `save_file` when that is not empty. Null with `message` when the load failed (a
// stored zone name that is no zone fails before anything is read); the partial store is
// discarded. LOG files whose fixes carry no date take `track_date` ("ddmmyy", see
// GPX::undated_fix_date).
std::unique_ptr<GPX> load_gps_data(const CWPreset& master, const std::vector<std::string>& files,
                                   const std::string& save_file, const std::string& gpsbabel,
                                   std::string& message, const StopSource& stop = {},
                                   const std::string& track_date = {});

// What runs get from a loaded store: the preset's clock adjustment and the ExifTool program.
GpsRunSettings gps_run_settings(const GPX* store, const CWPreset& master,
                                const std::string& exiftool);

}  // namespace cw
