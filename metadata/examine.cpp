// The examination report.
#include "metadata/examine.h"

#include <sys/stat.h>

#include <ctime>

#include "imagefile/print_sink.h"
#include "imagefile/tv_reader.h"
#include "metadata/macro.h"
#include "metadata/macro_exif.h"

namespace cw {

namespace {

// EXIF macros in report order; the note follows the macro on its line.
struct ExamineLine {
  const char* name;
  const char* note;
};

constexpr const char* kNotStandard = " [Not standard EXIF]";

constexpr ExamineLine kExifLines[] = {
    {"exif.ApertureValue", ""},
    {"exif.Artist", ""},
    {"exif.Contrast", ""},
    {"exif.Copyright", ""},
    {"exif.CustomRendered", ""},
    {"exif.DateTime", " [Obsolete -- use DateTimeOriginal]"},
    {"exif.DateTimeChanged", ""},
    {"exif.DateTimeOriginal", ""},
    {"exif.DateTimeDigitized", ""},
    {"DateTimeAny", kNotStandard},
    {"exif.DateTimeChangedMonth", kNotStandard},
    {"exif.DateTimeOriginalMonth", kNotStandard},
    {"exif.DateTimeDigitizedMonth", kNotStandard},
    {"DateTimeAnyMonth", kNotStandard},
    {"exif.DateTimeChangedWeekday", kNotStandard},
    {"exif.DateTimeOriginalWeekday", kNotStandard},
    {"exif.DateTimeDigitizedWeekday", kNotStandard},
    {"DateTimeAnyWeekday", kNotStandard},
    {"exif.DigitalZoomRatio", ""},
    {"exif.ExposureBiasValue", ""},
    {"exif.ExposureMode", ""},
    {"exif.ExposureProgram", ""},
    {"exif.ExposureTime", ""},
    {"exif.Flash", ""},
    {"exif.FNumber", ""},
    {"exif.FocalLength", ""},
    {"exif.FocalLengthIn35mmFilm", ""},
    {"exif.GainControl", ""},
    {"exif.ImageUniqueID", ""},
    {"exif.ISOSpeedRatings", ""},
    {"exif.LightSource", ""},
    {"exif.Make", ""},
    {"exif.MakeFirstWord", kNotStandard},
    {"exif.MeteringMode", ""},
    {"exif.Model", ""},
    {"exif.MaxApertureValue", ""},
    {"exif.Orientation", ""},
    {"exif.PhotometricInterpretation", ""},
    {"exif.Saturation", ""},
    {"exif.SceneCaptureType", ""},
    {"exif.SceneType", ""},
    {"exif.SensingMethod", ""},
    {"exif.SerialNumber", ""},
    {"exif.Sharpness", ""},
    {"exif.ShutterSpeedValue", ""},
    {"exif.Software", ""},
    {"exif.SubjectDistanceRange", ""},
    {"exif.SubSecTime", ""},
    {"exif.SubSecTimeOriginal", ""},
    {"exif.SubSecTimeDigitized", ""},
    {"exif.WhiteBalance", ""},
};

// IPTC fields of the metadata presets; DateCreated stands twice, as users know the list.
constexpr const char* kIptcFields[] = {
    "Address", "Caption", "CatalogSets", "Category", "City", "Copyright", "CopyrightInfoURL",
    "CopyrightStatus", "Country", "Creator", "DateCreated", "DateCreated", "DescriptionWriter",
    "EMail", "Event", "Headline", "ImageCity", "ImageCountry", "ImageState", "Instructions",
    "IntellectualGenre", "ISOCountryCode", "JobIdentifier", "JobTitle", "Keywords", "Location",
    "OtherCategories", "People", "Phone", "PostalCode", "Provider", "RightsUsageTerms", "Scene",
    "Source", "State", "Status", "SubjectCode", "Title", "Website",
};

std::string build_macro_text() {
  std::string text;
  for (const ExamineLine& l : kExifLines)
    text += std::string("\t") + l.name + ": {@" + l.name + "}" + l.note + "\n";
  text +=
      "\nIPTC template macros using current templates (may be different from what's in "
      "image):\n";
  for (const char* f : kIptcFields)
    text += std::string("\tIPTC.") + f + ": {@IPTC." + f + "}\n";
  return text;
}

// The file's modification time as the macros' date; "" when its status cannot be read.
std::string file_datetime(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return {};
  std::tm local{};
  char text[32];
  if (!localtime_r(&st.st_mtime, &local) ||
      std::strftime(text, sizeof text, "%Y%m%d_%H%M%S", &local) == 0)
    return "00000000_000000";
  return text;
}

}  // namespace

const std::string& examination_macro_text() {
  static const std::string text = build_macro_text();
  return text;
}

std::string examination_report(const std::string& path, MacroEnvironment& env, bool* read_ok) {
  std::string report = "VALUES OF EXIF MACROS\n\n";

  MacroInputs in;
  in.cur_datetime = file_datetime(path);
  in.cur_path = path;
  in.xml = false;
  std::string values;
  if (macro_process_with_data(examination_macro_text(), values, in, env))
    report += values;
  else
    report += "\nErrors processing macros.\n";

  report += "\nINTERNAL IMAGE FILE STRUCTURE\n\n";
  TV_Reader reader;
  reader.set_video_times_local(env.video_times_local);
  reader.set_cameras(env.cameras);
  reader.set_print(string_sink(report));
  const bool ok = reader.open(path, false, false, false);
  reader.set_print(nullptr);
  if (read_ok) *read_ok = ok;
  if (!ok) {
    report += "\nERROR: ";
    report += reader.message();
    report += "\n\n(The file may be OK, but in a format that Cardwright is unable to interpret.)\n";
  } else {
    report += "\n[This examination did not verify actual image data.]\n";
  }
  return report;
}

std::string with_crlf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace cw
