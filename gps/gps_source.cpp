// Loading GPS data from the preset's source.
#include "gps/gps_source.h"

#include "gps/camera_clock.h"
#include "gps/receiver.h"
#include "settings/preset.h"

namespace cw {

std::unique_ptr<GPX> load_gps_data(const CWPreset& master, const std::vector<std::string>& files,
                                   const std::string& save_file, const std::string& gpsbabel,
                                   std::string& message, const StopSource& stop,
                                   const std::string& track_date) {
  message.clear();
  CameraClock clock = camera_clock_from_preset(master, &message);
  if (!message.empty()) return nullptr;
  auto store = std::make_unique<GPX>(std::move(clock.zone));
  store->undated_fix_date = track_date;
  const int source = master.get_int("GPSSource");
  const bool receiver = source == kGpsSourceGarmin || source == kGpsSourceMagellan;
  const bool ok =
      receiver ? read_receiver(*store, static_cast<GpsReceiver>(source),
                               master.get_str("GPSDevice").value_or("USB"), save_file, gpsbabel,
                               message, stop)
               : store->load_files(files, message);
  if (ok) return store;
  if (message.empty())
    message = receiver ? "Unknown error reading Garmin device" : "Unknown error reading GPX files";
  return nullptr;
}

GpsRunSettings gps_run_settings(const GPX* store, const CWPreset& master,
                                const std::string& exiftool) {
  return GpsRunSettings{store, camera_clock_from_preset(master).adjustment, exiftool};
}

}  // namespace cw
