// The last step of making a sidecar from a template: the expanded packet is parsed and
// cleaned so that it holds only what is set.
//
// A template names every field a preset may fill, and most are empty for most images. Left
// as they are they become empty properties, which other programs read as values: an empty
// keyword list item is a keyword "", an empty copyright flag an unknown status. So inside
// rdf:RDF a property, list item, list or structure whose value came out empty is left out
// entirely, and so is a container (a description, a list) that is left empty by that, with
// the white space and the comment that led up to it. A value attribute whose value is empty
// goes too. The structure attributes (namespace declarations, rdf:about, rdf:parseType,
// xml:lang) are not values.
//
// Two values are completed from what the image says:
// - a copyright notice (dc:rights) without a copyright flag gets xmpRights:Marked "True"
//   beside it; a flag set in the presets ("True" or "False") is kept as it is.
// - the creation dates (photoshop:DateCreated, xmp:CreateDate) that give the capture day, or
//   the capture time without a zone, are given the capture time to the second and, where
//   the camera recorded it, the zone's offset ("2024-06-01T14:03:22+02:00"). A date of
//   midnight would make programs that read the sidecar move the photo to midnight. A date
//   that is not the capture date (typed into a preset) is left as it is.
#pragma once

#include <string>

namespace cw {

// What is known of the image's capture time.
struct SidecarCapture {
  std::string datetime;  // "YYYYMMDD_hhmmss", or empty when unknown
  std::string zone;      // "+hh:mm" or "-hh:mm", or empty when unknown
};

// Cleans the packet in `xml` as above. False, with `why` naming the fault, when it is not
// well-formed XML; `xml` is then left as it was.
bool tidy_sidecar_xmp(std::string& xml, const SidecarCapture& capture, std::string& why);

// The offset of an EXIF zone text ("+02:00", "-05:30"), or empty when it is not one.
std::string exif_zone_offset(const std::string& text);

}  // namespace cw
