// The camera's clock against UTC: the list of zones the user picks the camera's zone from,
// the camera's zone (an entry of that list with the summer-time switch, or a zone of the
// system's zone database by name), and the clock adjustment that corrects a camera clock that
// runs wrong.
//
// The machine's own time zone plays no part: a photographer in one zone often tags pictures
// taken in another.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "foundation/zone_db.h"

namespace cw {

class CWPreset;

// The zone list as stored: 24 cities, a separator entry "-", then countries and regions in
// alphabetical order. Each entry ends with its offset from UTC in hours after the last space.
std::span<const char* const> camera_zones();
// How an entry is shown in a list (the separator as a line of dashes).
std::string camera_zone_display(const char* entry);

// The zone text for what a user typed: an entry of the list, named whole or without its offset
// (any case), a number of hours from UTC ("+1", "-3.5", "0") as "UTC +1", or a zone of the
// zone database ("Europe/Berlin", spelt as the database does; "europe/berlin" is taken as
// that). Nothing when it is none of these.
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

// The zone the camera's clock shows: an entry of the list (a fixed offset, an hour more with
// the summer-time switch), a zone by name (summer time for each instant from the zone
// database; the switch plays no part), or none chosen (the camera's times are taken as UTC).
// A value: copies share the zone's rules, which nobody changes.
class CameraZone {
 public:
  enum class Kind { kUnset, kListed, kNamed };

  CameraZone() = default;  // none chosen
  // An entry of the list (or "UTC +N") and the summer-time switch.
  static CameraZone listed(const std::string& entry, bool summer_time);
  static CameraZone named(ZoneRules rules);
  // From the stored "CameraZone" and "CameraZoneDST": none for "???" or "", a list entry for a
  // text with a space, else a zone name. Nothing, with `error`, for a name that is no zone.
  static std::optional<CameraZone> from_setting(const std::string& text, bool summer_time,
                                                std::string& error);

  Kind kind() const { return kind_; }
  // The entry or the zone's name; "" when none is chosen.
  const std::string& text() const { return text_; }

  // UTC of a camera-local time (calendar fields read as if UTC). For a zone by name, a local
  // time skipped or shown twice by a change of the clocks takes the offset before the change.
  std::int64_t to_utc(std::int64_t camera_local) const;
  // What the camera's clock showed at a UTC instant.
  std::int64_t to_local(std::int64_t utc) const;
  // The zone's name at a UTC instant: "UTC+1", "UTC+2" (summer time), "UTC-3:30" for list
  // entries, the abbreviation ("CET", "CEST") for a zone by name, "UTC" when none is chosen.
  std::string label(std::int64_t utc) const;

 private:
  Kind kind_ = Kind::kUnset;
  std::string text_;
  std::int64_t east_ = 0;  // list entries: seconds east of UTC, summer time included
  std::shared_ptr<const ZoneRules> rules_;
};

// The camera clock of the master preset's GPS settings ("CameraZone", "CameraZoneDST",
// "CameraAdjustEXIF", "CameraAdjustActual"). A stored zone name that is no zone leaves the zone
// unchosen and says why in `zone_error` (when given).
struct CameraClock {
  CameraZone zone;
  std::int64_t adjustment = 0;
};
CameraClock camera_clock_from_preset(const CWPreset& master, std::string* zone_error = nullptr);

}  // namespace cw
