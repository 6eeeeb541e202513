// The camera's zone list, its offset from UTC and the clock adjustment.
#include "gps/camera_clock.h"

#include <strings.h>

#include <cstdlib>

#include "foundation/text.h"
#include "gps/track_text.h"
#include "settings/preset.h"

namespace cw {

namespace {

constexpr int kSecondsPerHour = 3600;
constexpr const char* kZoneSeparator = "-";
// What "CameraZone" holds until a zone is chosen.
constexpr const char* kUnsetZone = "???";

// The entry texts are what the preset stores. Every entry ends in a number: an entry without
// one would silently read as UTC.
constexpr const char* kZones[] = {
    "London (UTC) 0", "Paris +1", "Cairo +2", "Moscow +3", "Abu Dhabi +4", "Karachi +5",
    "Dhaka +6", "Bangkok +7", "Hong Kong +8", "Tokyo +9", "Sydney +10", "Noumea +11",
    "Auckland +12", "Samoa -11", "Honolulu (Aleutian) -10", "Anchorage (Alaska) -9",
    "Los Angeles (Pacific) -8", "Boulder (Mountain) -7", "Chicago (Central) -6",
    "New York (Eastern) -5", "Caracas -4", "Rio de Janeiro -3", "Antarctica -2", "Azores -1", "-",
    "Afghanistan +4.5", "Albania +1", "Algeria +1", "American Samoa -11", "Andorra +1",
    "Angola +1", "Anguilla -4", "Antarctica -2", "Antigua -4", "Argentina western prov -4",
    "Argentina -3", "Armenia +4", "Aruba -4", "Ascension 0",
    "Australia Australian Captial Territory +10", "Australia Lord Howe Island +10.5",
    "Australia New South Wales +10", "Australia Northern Territory +9.5",
    "Australia Queensland +10", "Australia South +9.5", "Australia Tasmania +10",
    "Australia Victoria +10", "Australia Western +8", "Austria +1", "Azerbajian +3", "Azores -1",
    "Bahamas -5", "Bahrain +3", "Balearic Islands +1", "Bangladesh +6", "Barbados -4",
    "Belarus +2", "Belgium +1", "Belize -6", "Benin +1", "Bermuda -4", "Bhutan +6", "Bolivia -4",
    "Bonaire -4", "Bosnia Hercegovina +1", "Botswana +2", "Brazil Acre -4",
    "Brazil Atlantic Islands -1", "Brazil East -3", "Brazil West -4", "British Virgin Islands -4",
    "Brunei +8", "Bulgaria +2", "Burkina Faso 0", "Burundi +2", "Cambodia +7", "Cameroon +1",
    "Canada Atlantic -4", "Canada Central -6", "Canada Eastern -5", "Canada Mountain -7",
    "Canada Newfoundland -3.5", "Canada Yukon & Pacific -8", "Canary Islands 0",
    "Canton Enderbury Islands -11", "Cape Verde -1", "Caroline Island +11", "Cayman Islands -5",
    "Central African Rep +1", "Chad +1", "Channel Islands 0", "Chatham Island +12.75", "Chile -4",
    "China People's Rep +8", "Christmas Islands -10", "Cocos (Keeling) Islands +6.5",
    "Colombia -5", "Congo +1", "Cook Islands -10", "Costa Rica -6", "Cote d'Ivoire 0",
    "Croatia +1", "Cuba -5", "Curacao -4", "Cyprus +2", "Czech Republic +1", "Dahomey +1",
    "Denmark +1", "Djibouti +3", "Dominica -4", "Dominican Republic -4", "Easter Island -6",
    "Ecuador -5", "Egypt +2", "El Salvador -6", "England 0", "Equitorial Guinea +1", "Eritrea +3",
    "Estonia +2", "Ethiopia +3", "Falkland Islands -4", "Faroe Island 0", "Fiji +12", "Finland +2",
    "France +1", "French Guiana -3", "French Polynesia -10", "Gabon +1", "Galapagos Islands -5",
    "Gambia 0", "Gambier Island -9", "Georgia +4", "Germany +1", "Ghana 0", "Gibraltar +1",
    "Greece +2", "Greenland Scoresbysun -1", "Greenland Thule -4", "Greenland -3", "Grenada -4",
    "Grenadines -4", "Guadeloupe -4", "Guam +10", "Guatemala -6", "Guinea Bissau 0", "Guinea 0",
    "Guyana -3", "Haiti -5", "Honduras -6", "Hong kong +8", "Hungary +1", "Iceland 0",
    "India +5.5", "Indonesia Central +8", "Indonesia East +9", "Indonesia West +7", "Iran +3.5",
    "Iraq +3", "Ireland Republic of 0", "Israel +2", "Italy +1", "Jamaica -5", "Japan +9",
    "Johnston Island -10", "Jordan +2", "Kazakhstan +6", "Kenya +3", "Kiribati +12",
    "Korea Dem Republic of +9", "Korea Republic of +9", "Kusaie +12", "Kuwait +3", "Kwajalein -12",
    "Kyrgyzstan +5", "Laos +7", "Latvia +2", "Lebanon +2", "Leeward Islands -4", "Lesotho +2",
    "Liberia 0", "Libya +2", "Lithuania +2", "Luxembourg +1", "Macedonia +1", "Madagascar +3",
    "Madeira 0", "Malawi +2", "Malaysia +8", "Maldives +5", "Mali 0", "Mallorca Islands +1",
    "Malta +1", "Mariana Island +10", "Marquesas Islands -9.5", "Marshall Islands +12",
    "Martinique -4", "Mauritania 0", "Mauritius +4", "Mayotte +3", "Melilla +1",
    "Mexico Baja Calif Norte -8", "Mexico Nayarit -7", "Mexico Sinaloa -7", "Mexico Sonora -7",
    "Mexico -6", "Midway Island -11", "Moldova +2", "Moldovian Rep Pridnestrovye +2", "Monaco +1",
    "Mongolia +8", "Morocco 0", "Mozambique +2", "Myanmar +6.5", "Namibia +1",
    "Nauru Republic of +12", "Nepal +5.75", "Netherlands Antilles -4", "Netherlands +1",
    "Nevis Montserrat -4", "New Caledonia +11", "New Hebrides +11", "New Zealand +12",
    "Nicaragua -6", "Niger +1", "Nigeria +1", "Niue Island -11", "Norfolk Island +11.5",
    "Northern Ireland 0", "Northern Mariana Islands +10", "Norway +1", "Oman +4", "Pakistan +5",
    "Palau +9", "Panama -5", "Papua New Guinea +10", "Paraguay -4", "Peru -5", "Philippines +8",
    "Pingelap +12", "Poland +1", "Ponape Island +11", "Portugal +1", "Principe Island 0",
    "Puerto Rico -4", "Qatar +3", "Reunion +4", "Romania +2", "Russian Federation zone eight +9",
    "Russian Federation zone eleven +12", "Russian Federation zone five +6",
    "Russian Federation zone four +5", "Russian Federation zone nine +10",
    "Russian Federation zone one +2", "Russian Federation zone seven +8",
    "Russian Federation zone six +7", "Russian Federation zone ten +11",
    "Russian Federation zone three +4", "Russian Federation zone two +4", "Rwanda +2", "Saba -4",
    "Samoa -11", "San Marino +1", "Sao Tome e Principe 0", "Saudi Arabia +3", "Scotland 0",
    "Senegal 0", "Seychelles +4", "Sierra Leone 0", "Singapore +8", "Slovakia +1", "Slovenia +1",
    "Society Island -10", "Solomon Islands +11", "Somalia +3", "South Africa +2", "Spain +1",
    "Sri Lanka +5.5", "St Christopher -4", "St Croix -4", "St Helena 0", "St John -4",
    "St Kitts Nevis -4", "St Lucia -4", "St Maarten -4", "St Pierre & Miquelon -3", "St Thomas -4",
    "St Vincent -4", "Sudan +2", "Suriname -3", "Swaziland +2", "Sweden +1", "Switzerland +1",
    "Syria +2", "Tahiti -10", "Taiwan +8", "Tajikistan +6", "Tanzania +3", "Thailand +7", "Togo 0",
    "Tonga +13", "Trinidad and Tobago -4", "Tuamotu Island -10", "Tubuai Island -10", "Tunisia +1",
    "Turkey +2", "Turkmenistan +5", "Turks and Caicos Islands -5", "Tuvalu +12", "Uganda +3",
    "Ukraine +2", "United Arab Emirates +4", "United Kingdom 0", "Uruguay -3", "USA Alaska -9",
    "USA Aleutian -10", "USA Arizona -7", "USA Central -6", "USA Eastern -5", "USA Hawaii -10",
    "USA Indiana East -5", "USA Mountain -7", "USA Pacific -8", "Uzbekistan +5", "Vanuatu +11",
    "Vatican City +1", "Venezuela -4", "Vietnam +7", "Virgin Islands -4", "Wake Island +12",
    "Wales 0", "Wallis and Futuna Islands +12", "Windward Islands -4", "Yemen +3", "Yugoslavia +1",
    "Zaire Haut Zaire +2", "Zaire Kasai +2", "Zaire Kinshasa Mbandaka +1", "Zaire Kivu +2",
    "Zaire Shaba +2", "Zambia +2", "Zimbabwe +2",
};

}  // namespace

std::span<const char* const> camera_zones() { return kZones; }

std::string camera_zone_display(const char* entry) {
  return std::string(entry) == kZoneSeparator ? "--------------" : entry;
}

std::optional<std::string> camera_zone_entry(const std::string& text) {
  for (const char* entry : kZones) {
    const std::string e(entry);
    if (e == kZoneSeparator) continue;
    const std::string name = e.substr(0, e.rfind(' '));
    if (strcasecmp(e.c_str(), text.c_str()) == 0 || strcasecmp(name.c_str(), text.c_str()) == 0)
      return e;
  }
  double hours = 0;
  if (gps_text::parse_double(text, hours)) {
    if (hours < -24 || hours > 24) return std::nullopt;
    return "UTC " + text;
  }
  std::string error;
  if (text.find(' ') == std::string::npos && ZoneRules::load(text, error)) return text;
  for (const std::string& name : zone_names())
    if (strcasecmp(name.c_str(), text.c_str()) == 0) return name;
  return std::nullopt;
}

CameraZone CameraZone::listed(const std::string& entry, bool summer_time) {
  CameraZone zone;
  zone.kind_ = Kind::kListed;
  zone.text_ = entry;
  zone.east_ = -camera_offset(entry, summer_time);
  return zone;
}

CameraZone CameraZone::named(ZoneRules rules) {
  CameraZone zone;
  zone.kind_ = Kind::kNamed;
  zone.text_ = rules.name();
  zone.rules_ = std::make_shared<const ZoneRules>(std::move(rules));
  return zone;
}

std::optional<CameraZone> CameraZone::from_setting(const std::string& text, bool summer_time,
                                                   std::string& error) {
  if (text.empty() || text == kUnsetZone || text == kZoneSeparator) return CameraZone();
  if (text.find(' ') != std::string::npos) return listed(text, summer_time);
  std::optional<ZoneRules> rules = ZoneRules::load(text, error);
  if (!rules) return std::nullopt;
  return named(std::move(*rules));
}

std::int64_t CameraZone::to_utc(std::int64_t camera_local) const {
  switch (kind_) {
    case Kind::kListed: return camera_local - east_;
    case Kind::kNamed: return rules_->to_utc(camera_local);
    case Kind::kUnset: break;
  }
  return camera_local;
}

std::int64_t CameraZone::to_local(std::int64_t utc) const {
  switch (kind_) {
    case Kind::kListed: return utc + east_;
    case Kind::kNamed: return utc + rules_->at_utc(utc).utc_offset;
    case Kind::kUnset: break;
  }
  return utc;
}

std::string CameraZone::label(std::int64_t utc) const {
  if (kind_ == Kind::kNamed) return rules_->at_utc(utc).abbreviation;
  if (kind_ == Kind::kUnset) return "UTC";
  const std::int64_t minutes = (east_ < 0 ? -east_ : east_) / 60;
  std::string text = format_limited(30, "UTC%c%lld", east_ < 0 ? '-' : '+',
                                    static_cast<long long>(minutes / 60));
  if (minutes % 60) text += format_limited(10, ":%02d", static_cast<int>(minutes % 60));
  return text;
}

int zone_seconds(const std::string& zone) {
  std::size_t space = zone.rfind(' ');
  double hours = 0;
  if (space == std::string::npos || !gps_text::parse_double(zone.substr(space + 1), hours) ||
      hours < -24 || hours > 24)
    return 0;
  return static_cast<int>(hours * kSecondsPerHour);
}

std::int64_t camera_offset(const std::string& zone, bool summer_time) {
  return -(static_cast<std::int64_t>(zone_seconds(zone)) + (summer_time ? kSecondsPerHour : 0));
}

std::int64_t clock_adjustment(std::int64_t camera_showed, std::int64_t actual) {
  return actual - camera_showed;
}

std::string adjustment_text(std::int64_t adjustment) {
  return format_limited(100, "Adjustment: %lld seconds", static_cast<long long>(adjustment));
}

CameraClock camera_clock_from_preset(const CWPreset& master, std::string* zone_error) {
  CameraClock clock;
  std::string error;
  std::optional<CameraZone> zone = CameraZone::from_setting(
      master.get_str("CameraZone").value_or(""), master.get_int("CameraZoneDST") != 0, error);
  if (zone) clock.zone = std::move(*zone);
  else if (zone_error) *zone_error = error;
  clock.adjustment =
      clock_adjustment(master.get_int("CameraAdjustEXIF"), master.get_int("CameraAdjustActual"));
  return clock;
}

}  // namespace cw
