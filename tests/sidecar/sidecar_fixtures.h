// Develop-settings files for the sidecar tests, and exiftool's reading of one tag.
#pragma once

#include <string>

#include "tests/fixtures/programs.h"

namespace cw::test {

// exiftool's value of one tag of a file, list items joined by "|".
inline std::string exif_tag(const std::string& tag, const std::string& file) {
  std::string got = exiftool("-s3 -sep '|' -" + tag, file);
  if (!got.empty() && got.back() == '\n') got.pop_back();
  return got;
}

// A develop preset as the editing program saves it: a Lua-style table whose "settings" table
// holds the values; quoted texts, numbers, booleans and two tone curves.
inline const char* const kDevelopPreset =
    "s = {\n"
    "\tid = \"7E1F0C52-9A3B-4D8E-B1C2-3F4A5B6C7D8E\",\n"
    "\tinternalName = \"Warm Portrait\",\n\ttitle = \"Warm Portrait\",\n\ttype = \"Develop\",\n"
    "\tvalue = {\n\t\tsettings = {\n"
    "\t\t\tClarity2012 = 12,\n\t\t\tContrast2012 = 15,\n\t\t\tExposure2012 = 0.35,\n"
    "\t\t\tHighlights2012 = -40,\n\t\t\tProcessVersion = \"6.7\",\n\t\t\tSaturation = -5,\n"
    "\t\t\tShadows2012 = 25,\n\t\t\tSharpness = 40,\n\t\t\tTemperature = 5600,\n"
    "\t\t\tTint = 8,\n"
    "\t\t\tToneCurveName2012 = \"Medium Contrast\",\n"
    "\t\t\tToneCurvePV2012 = {\n"  // one value a line, as saved
    "\t\t\t\t0,\n\t\t\t\t0,\n\t\t\t\t64,\n\t\t\t\t56,\n"
    "\t\t\t\t192,\n\t\t\t\t202,\n\t\t\t\t255,\n\t\t\t\t255,\n"
    "\t\t\t},\n"
    "\t\t\tToneCurvePV2012Red = { 0, 0, 255, 255 },\n"
    "\t\t\tVibrance = 18,\n"
    "\t\t\tWhiteBalance = \"As Shot\",\n"
    "\t\t},\n"
    "\t\tuuid = \"1C2D3E4F-5A6B-4C7D-8E9F-0A1B2C3D4E5F\",\n"
    "\t},\n"
    "\tversion = 0,\n"
    "}\n";

// Raw-development defaults written as an XMP file: the settings description carries its
// namespace on the line after the description start and its values as elements.
inline const char* const kRawDefaultsXmp =
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"defaults writer 1.0\">\r\n"
    " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\r\n"
    "  <rdf:Description rdf:about=\"\"\r\n"
    "    xmlns:crs=\"http://ns.adobe.com/camera-raw-settings/1.0/\">\r\n"
    "   <crs:Version>6.7</crs:Version>\r\n"
    "   <crs:WhiteBalance>Daylight</crs:WhiteBalance>\r\n"
    "   <crs:Exposure2012>-0.50</crs:Exposure2012>\r\n"
    "   <crs:Contrast2012>+20</crs:Contrast2012>\r\n"
    "   <crs:LuminanceSmoothing>10</crs:LuminanceSmoothing>\r\n"
    "   <crs:ToneCurvePV2012>\r\n"
    "    <rdf:Seq>\r\n"
    "     <rdf:li>0, 0</rdf:li>\r\n"
    "     <rdf:li>255, 255</rdf:li>\r\n"
    "    </rdf:Seq>\r\n"
    "   </crs:ToneCurvePV2012>\r\n"
    "  </rdf:Description>\r\n"
    " </rdf:RDF>\r\n"
    "</x:xmpmeta>\r\n";

}  // namespace cw::test
