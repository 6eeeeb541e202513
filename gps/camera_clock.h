// The camera's clock against UTC: the list of zones the user picks the camera's zone from,
// the offset that turns a camera-local time into UTC (zone and summer-time switch), and the
// clock adjustment that corrects a camera clock that runs wrong.
//
// The machine's own time zone plays no part: a photographer in one zone often tags pictures
// taken in another.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace cw {

class CWPreset;

// The zone list as stored: 24 cities, a separator entry "-", then countries and regions in
// alphabetical order. Each entry ends with its offset from UTC in hours after the last space.
std::span<const char* const> camera_zones();
// How an entry is shown in a list (the separator as a line of dashes).
std::string camera_zone_display(const char* entry);

// The zone text for what a user typed: an entry of the list, named whole or without its offset
// (any case), or a number of hours from UTC ("+1", "-3.5", "0") as "UTC +1". Nothing when it is
// neither.
std::optional<std::string> camera_zone_entry(const std::string& text);

// The zone's offset from UTC in seconds: the number after the last space times 3600, cut to an
// integer; 0 when the text has no space or no number there.
int zone_seconds(const std::string& zone);
// Added to a camera-local time to give UTC: -(zone seconds + 3600 with summer time).
std::int64_t camera_offset(const std::string& zone, bool summer_time);
// Correction of a camera clock: the true time minus what the camera showed at that moment.
std::int64_t clock_adjustment(std::int64_t camera_showed, std::int64_t actual);
// "Adjustment: %d seconds".
std::string adjustment_text(std::int64_t adjustment);

// The camera clock of the master preset's GPS settings ("CameraZone", "CameraZoneDST",
// "CameraAdjustEXIF", "CameraAdjustActual").
struct CameraClock {
  std::int64_t offset = 0;
  std::int64_t adjustment = 0;
};
CameraClock camera_clock_from_preset(const CWPreset& master);

}  // namespace cw
