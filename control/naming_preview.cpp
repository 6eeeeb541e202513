// The naming preview of the main window.
#include "control/naming_preview.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "control/app_session.h"
#include "ingest/naming.h"
#include "metadata/macro.h"
#include "metadata/macro_settings_env.h"
#include "settings/param.h"
#include "settings/preferences.h"

namespace cw {

namespace {

// A camera file the name example shows when no card is in.
constexpr const char* kSampleName = "IMG_0042";
constexpr const char* kSampleExtension = "JPG";
constexpr const char* kSampleTime = "20240601_143000";
constexpr const char* kSampleExifTime = "2024:06:01 14:30:00";

// The session's settings and database, with the sample's EXIF in place of a file's: the
// sample exists nowhere on the disk.
class SampleEnvironment : public SettingsMacroEnvironment {
 public:
  using SettingsMacroEnvironment::SettingsMacroEnvironment;
  bool read_image_exif(const std::string&, ExifPairs& pairs) override {
    pairs = {{"DateTimeOriginal", kSampleExifTime},
             {"DateTimeDigitized", kSampleExifTime},
             {"Model", "Sample Camera"}};
    return true;
  }
};

// The macro inputs for the image at `path`, or for the sample image when there is none.
MacroInputs inputs_for(CWPreset& m, const std::optional<std::string>& path) {
  MacroInputs in;
  const std::string name = !path ? std::string(kSampleName) + "." + kSampleExtension
                                 : path->substr(path->find_last_of('/') + 1);
  const std::size_t dot = name.find_last_of('.');
  in.cur_filename = dot == std::string::npos ? name : name.substr(0, dot);
  in.ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  in.cur_path = path ? *path : name;
  in.cur_datetime = kSampleTime;
  struct stat st {};
  std::tm local{};
  char date[32] = "00000000_000000";
  if (path) {
    std::time_t when = ::stat(path->c_str(), &st) == 0 ? st.st_mtime : 0;
    if (localtime_r(&when, &local)) std::strftime(date, sizeof date, "%Y%m%d_%H%M%S", &local);
    in.cur_datetime = date;
  }
  const long sequence = std::strtol(starting_number().c_str(), nullptr, 10);
  in.cur_sequence = number_text_for(2, in.cur_filename, sequence);
  in.unique_id = make_unique_id();
  // The range is known only once the run has named its images: zeros stand for it.
  const auto digits = static_cast<std::size_t>(std::clamp(m.get_int("NumberRangeDigits"), 4, 6));
  in.number_range = std::string(digits, '0') + "-" + std::string(digits, '0');
  return in;
}

// "NAME.EXT" as `name_format` names the image of `in`; empty when the format fails.
std::string file_name(const std::string& name_format, const MacroInputs& in, MacroEnvironment& env) {
  std::string base;
  if (!macro_process_with_data(name_format, base, in, env)) return {};
  base = replace_forbidden_name_characters(base);
  if (base.empty()) base = in.cur_filename;
  return in.ext.empty() ? base : base + "." + in.ext;
}

}  // namespace

std::string naming_preview(AppSession& session, const std::string& path) {
  CWPreset& m = session.settings().master();
  const MacroInputs in = inputs_for(m, path);
  MacroEnvironment& env = session.macro_environment();
  std::string folder;
  if (!macro_process_with_data(m.get_str("FolderFormat").value_or(""), folder, in, env)) return {};
  const std::string name = file_name(m.get_str("NameFormat").value_or(""), in, env);
  if (name.empty()) return {};
  return folder.empty() ? name : folder + "/" + name;
}

std::string name_format_example(AppSession& session, const std::string& name_format,
                                const std::optional<std::string>& path) {
  const MacroInputs in = inputs_for(session.settings().master(), path);
  if (path) return file_name(name_format, in, session.macro_environment());
  SampleEnvironment sample(session.settings(), session.database());
  sample.notes = session.macro_environment().notes;
  return file_name(name_format, in, sample);
}

}  // namespace cw
