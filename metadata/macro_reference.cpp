// The laboratory's reference text and sample data, and the dialogs' format lists.
#include "metadata/macro_reference.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "metadata/macro_exif.h"
#include "metadata/macro_text.h"

namespace cw {

MacroInputs macro_laboratory_inputs() {
  MacroInputs in;
  in.cur_filename = "ABCD0001";
  in.cur_datetime = "YYYYMMDD_hhmmss";
  in.cur_sequence = "123456";
  in.unique_id = "ABCDEF0123456";
  in.number_range = "0420-0511";
  in.cur_path.reset();
  in.ext = "NEF";
  in.cur_relPath = "[path]";
  in.xml = false;
  return in;
}

bool macro_inputs_from_image(const std::string& file, MacroInputs& in, std::string& message,
                             bool video_times_local) {
  struct stat st{};
  if (stat(file.c_str(), &st) != 0) {
    message = std::strerror(errno);
    return false;
  }
  const std::size_t slash = file.find_last_of('/');
  const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  in.cur_filename = dot == std::string::npos ? name : name.substr(0, dot);
  in.ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  in.cur_relPath = slash == std::string::npos ? std::string(".") : file.substr(0, slash);
  in.cur_path = file;
  MacroEnvironment images;
  images.video_times_local = video_times_local;
  if (std::optional<std::string> when = exif_capture_datetime(images, file)) {
    in.cur_datetime = *when;
  } else {
    std::tm local{};
    const std::time_t t = st.st_mtime;
    in.cur_datetime =
        localtime_r(&t, &local) ? format_time("%Y%m%d_%H%M%S", local) : "00000000_000000";
  }
  return true;
}

namespace {

const char* const kSimpleLines[] = {
    "\tCatalogSets: {@catalogsets}\n",
    "\tKeywords: {@keywords}\n",
    "\tNotes: {@notes}\n",
    "\tFilename: {@filename}\n",
    "\tExtension: {@extension}\n",
    "\tFilenameNew: {@filenamenew}\n",
    "\tSourcePath: {@sourcepath}\n",
    "\tDateTime (datetime of file): {@datetime}\n",
    "\tDateTimeCurrent: {@datetimecurrent}\n",
    "\tDateTimeAny: {@datetimeany}\n",
    "\tDateTimeMonth (month of file): {@datetimemonth}\n",
    "\tDateTimeCurrentMonth: {@datetimecurrentmonth}\n",
    "\tDateTimeAnyMonth: {@datetimeanymonth}\n",
    "\tDateTimeWeekday (weekday of file): {@datetimeweekday}\n",
    "\tDateTimeCurrentWeekday: {@datetimecurrentweekday}\n",
    "\tDateTimeAnyWeekday: {@datetimeanyweekday}\n",
    "\tSequence: {@sequence}\n",
    "\tUniqueID: {@uniqueid}\n",
    "\tNumberRange: {@numberrange}\n",
    "\tPrefix: {@prefix}\n",
};

// EXIF macros in reference order, with the remark shown beside some of them.
struct ReferenceExif {
  const char* name;
  const char* remark;
};
const ReferenceExif kExifLines[] = {
    {"Actuations", nullptr},
    {"ApertureValue", nullptr},
    {"Artist", nullptr},
    {"Contrast", nullptr},
    {"Copyright", nullptr},
    {"CustomRendered", nullptr},
    {"DateTimeChanged", nullptr},
    {"DateTime", "[Obsolete -- use DateTimeOriginal]"},
    {"DateTimeOriginal", nullptr},
    {"DateTimeDigitized", nullptr},
    {"DateTimeOriginalMonth", "[Not standard EXIF]"},
    {"DateTimeDigitizedMonth", "[Not standard EXIF]"},
    {"DateTimeChangedMonth", "[Not standard EXIF]"},
    {"DateTimeOriginalWeekday", "[Not standard EXIF]"},
    {"DateTimeDigitizedWeekday", "[Not standard EXIF]"},
    {"DateTimeChangedWeekday", "[Not standard EXIF]"},
    {"DigitalZoomRatio", nullptr},
    {"ExposureBiasValue", nullptr},
    {"ExposureMode", nullptr},
    {"ExposureProgram", nullptr},
    {"ExposureTime", nullptr},
    {"Flash", nullptr},
    {"FNumber", nullptr},
    {"FocalLength", nullptr},
    {"FocalLengthIn35mmFilm", nullptr},
    {"GainControl", nullptr},
    {"ImageUniqueID", nullptr},
    {"ISOSpeedRatings", nullptr},
    {"LightSource", nullptr},
    {"Make", nullptr},
    {"MakeFirstWord", "[Not standard EXIF]"},
    {"MeteringMode", nullptr},
    {"Model", nullptr},
    {"MaxApertureValue", nullptr},
    {"Orientation", nullptr},
    {"PhotometricInterpretation", nullptr},
    {"Saturation", nullptr},
    {"SceneCaptureType", nullptr},
    {"SceneType", nullptr},
    {"SensingMethod", nullptr},
    {"SerialNumber", nullptr},
    {"Sharpness", nullptr},
    {"ShutterSpeedValue", nullptr},
    {"Software", nullptr},
    {"SubjectDistanceRange", nullptr},
    {"SubSecTime", nullptr},
    {"SubSecTimeOriginal", nullptr},
    {"SubSecTimeDigitized", nullptr},
    {"WhiteBalance", nullptr},
};

const char* const kExampleLines[] = {
    "\tFilename, 1st 4 characters: {@filename,1,4}\n",
    "\tFilename, last 4 characters: {@filename,-4}\n",
    "\tDate: {@datetimeany,1,8}\n",
    "\tYear, 4 digit: {@datetimeany,1,4}\n",
    "\tYear, 2 digit: {@datetimeany,3,2}\n",
    "\tMonth: {@datetimeany,5,2}\n",
    "\tDay: {@datetimeany,7,2}\n",
    "\tTime: {@datetimeany,10}\n",
    "\tHour: {@datetimeany,10,2}\n",
    "\tMinute: {@datetimeany,12,2}\n",
    "\tSecond: {@datetimeany,14,2}\n",
    "\tSequence, 2 digit: {@sequence,-2}\n",
    "\tSequence, 3 digit: {@sequence,-3}\n",
    "\tSequence, 4 digit: {@sequence,-4}\n",
    "\tSequence, 5 digit: {@sequence,-5}\n",
};

const char* const kExampleNames[] = {
    "\tKTP_{@datetimeany,1,8}_{@filename,-4}\n",
    "\tKTP_{@datetimeany}_{@filename,-4}\n",
    "\tKTP_{@datetimeany,1,8}{@datetimeany,10}_{@filename,-4}\n",
    ("\tKTP_{@datetimeany,1,4}-{@datetimeany,5,2}-{@datetimeany,7,2} "
     "{@datetimeany,10,2}:{@datetimeany,12,2}:{@datetimeany,14,2}_{@filename,-4}\n"),
    "\tKTP_{@datetimeany,1,8}_{@sequence,-4}\n",
    "\t{@datetimeany,1,8}-{@qf.subject,1,-1,-}{@sequence,-5}\n",
};

}  // namespace

std::string macro_reference_text() {
  std::string text = "Simple Macros\n";
  for (const char* line : kSimpleLines) text += line;
  text += "\nEXIF Macros (choose Tools > Examine... to see values)\n";
  for (const ReferenceExif& e : kExifLines) {
    text += '\t';
    text += e.name;
    if (e.remark) {
      text += ' ';
      text += e.remark;
    }
    text += ": {@exif.";
    text += e.name;
    text += "}\n";
  }
  text += "\nUseful Examples\n";
  for (const char* line : kExampleLines) text += line;
  text += "\nExample File Names\n";
  for (const char* line : kExampleNames) text += line;
  return text;
}

std::vector<ReferenceRow> macro_reference_rows() {
  std::vector<ReferenceRow> rows;
  const std::string text = macro_reference_text();
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    if (line[0] != '\t') {
      rows.push_back({line, "", ""});
      continue;
    }
    const std::size_t colon = line.find(": {@");
    if (colon == std::string::npos)
      rows.push_back({"", "", line.substr(1)});
    else
      rows.push_back({"", line.substr(1, colon - 1), line.substr(colon + 2)});
  }
  return rows;
}

const MacroFormat kNameFormats[21] = {
    {"Prefix_YYYYMMDD_0001    (Filename Number)",
     "{@prefix,1,-1,_}{@datetimeany,1,8}_{@filename,-4}"},
    {"Prefix_YYMMDD_0001    (Filename Number)",
     "{@prefix,1,-1,_}{@datetimeany,3,2}{@datetimeany,5,4}_{@filename,-4}"},
    {"Prefix_YYYYMM_0001    (Filename Number)",
     "{@prefix,1,-1,_}{@datetimeany,1,6}_{@filename,-4}"},
    {"Prefix_YYMM_0001    (Filename Number)",
     "{@prefix,1,-1,_}{@datetimeany,3,2}{@datetimeany,5,2}_{@filename,-4}"},
    {"Prefix_YYYYMMDD_3456    (Auto Number)",
     "{@prefix,1,-1,_}{@datetimeany,1,8}_{@sequence,-4}"},
    {"Prefix_YYMMDD_3456    (Auto Number)",
     "{@prefix,1,-1,_}{@datetimeany,3,2}{@datetimeany,5,4}_{@sequence,-4}"},
    {"Prefix_YYYYMM_3456    (Auto Number)",
     "{@prefix,1,-1,_}{@datetimeany,1,6}_{@sequence,-4}"},
    {"Prefix_YYMM_3456    (Auto Number)",
     "{@prefix,1,-1,_}{@datetimeany,3,2}{@datetimeany,5,2}_{@sequence,-4}"},
    {"Prefix_YYYYMMDD_23456    (Auto Number)",
     "{@prefix,1,-1,_}{@datetimeany,1,8}_{@sequence,-5}"},
    {"Prefix_YYMMDD_23456    (Auto Number)",
     "{@prefix,1,-1,_}{@datetimeany,3,2}{@datetimeany,5,4}_{@sequence,-5}"},
    {"Prefix_YYYYMM_23456    (Auto Number)",
     "{@prefix,1,-1,_}{@datetimeany,1,6}_{@sequence,-5}"},
    {"Prefix_YYMM_23456    (Auto Number)",
     "{@prefix,1,-1,_}{@datetimeany,3,2}{@datetimeany,5,2}_{@sequence,-5}"},
    {"Prefix_YYYYMMDD_123456    (Auto Number)",
     "{@prefix,1,-1,_}{@datetimeany,1,8}_{@sequence,-6}"},
    {"Prefix_YYMMDD_123456    (Auto Number)",
     "{@prefix,1,-1,_}{@datetimeany,3,2}{@datetimeany,5,4}_{@sequence,-6}"},
    {"Prefix_YYYYMM_123456    (Auto Number)",
     "{@prefix,1,-1,_}{@datetimeany,1,6}_{@sequence,-6}"},
    {"Prefix_YYMM_123456    (Auto Number)",
     "{@prefix,1,-1,_}{@datetimeany,3,2}{@datetimeany,5,2}_{@sequence,-6}"},
    {"Prefix_YYYYMMDD_hhmmss_0001    (Filename Number)",
     "{@prefix,1,-1,_}{@datetimeany}_{@filename,-4}"},
    {"Prefix_YYYYMMDD_hhmmss_3456    (Auto Number)",
     "{@prefix,1,-1,_}{@datetimeany}_{@sequence,-4}"},
    {"Prefix_YYYYMMDD_hhmmss_23456    (Auto Number)",
     "{@prefix,1,-1,_}{@datetimeany}_{@sequence,-5}"},
    {"Prefix_YYYYMMDD_hhmmss_123456    (Auto Number)",
     "{@prefix,1,-1,_}{@datetimeany}_{@sequence,-6}"},
    {"Original Filename", "{@filename}"},
};

const MacroFormat kFolderFormats[7] = {
    {"YYYY/MM/YYYY-MM-DD",
     "{@datetimeany,1,4}/{@datetimeany,5,2}/{@datetimeany,1,4}-{@datetimeany,5,2}-"
     "{@datetimeany,7,2}"},
    {"YYYY/YYYY-MM-DD",
     "{@datetimeany,1,4}/{@datetimeany,1,4}-{@datetimeany,5,2}-{@datetimeany,7,2}"},
    {"YYYY/MM/YYYY-MM-DD subject",
     "{@datetimeany,1,4}/{@datetimeany,5,2}/{@datetimeany,1,4}-{@datetimeany,5,2}-"
     "{@datetimeany,7,2} {@qf.subject}"},
    {"YYYY/YYYY-MM-DD subject",
     "{@datetimeany,1,4}/{@datetimeany,1,4}-{@datetimeany,5,2}-{@datetimeany,7,2} "
     "{@qf.subject}"},
    {"0420-0511 (number range)", "{@numberrange}"},
    {"client/project/0420-0511", "{@client.name}/{@project.name}/{@numberrange}"},
    {"[none] (directly in Primary Folder)", "."},
};

namespace {
template <std::size_t N>
const char* label_in(const MacroFormat (&formats)[N], const std::string& specification) {
  for (const MacroFormat& f : formats)
    if (specification == f.specification) return f.label;
  return kCustomFormatLabel;
}
}  // namespace

const char* name_format_label(const std::string& specification) {
  return label_in(kNameFormats, specification);
}

const char* folder_format_label(const std::string& specification) {
  return label_in(kFolderFormats, specification);
}

}  // namespace cw
