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

std::string naming_preview(AppSession& session, const std::string& path) {
  CWPreset& m = session.settings().master();
  const std::size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  MacroInputs in;
  in.cur_filename = dot == std::string::npos ? name : name.substr(0, dot);
  in.ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  in.cur_path = path;
  struct stat st {};
  std::time_t when = ::stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
  std::tm local{};
  char date[32] = "00000000_000000";
  if (localtime_r(&when, &local)) std::strftime(date, sizeof date, "%Y%m%d_%H%M%S", &local);
  in.cur_datetime = date;
  const long sequence = std::strtol(starting_number().c_str(), nullptr, 10);
  in.cur_sequence = number_text_for(2, in.cur_filename, sequence);
  in.unique_id = make_unique_id();
  // The range is known only once the run has named its images: zeros stand for it.
  const auto digits = static_cast<std::size_t>(std::clamp(m.get_int("NumberRangeDigits"), 4, 6));
  in.number_range = std::string(digits, '0') + "-" + std::string(digits, '0');

  MacroEnvironment& env = session.macro_environment();
  std::string folder, base;
  if (!macro_process_with_data(m.get_str("FolderFormat").value_or(""), folder, in, env) ||
      !macro_process_with_data(m.get_str("NameFormat").value_or(""), base, in, env))
    return {};
  base = replace_forbidden_name_characters(base);
  if (base.empty()) base = in.cur_filename;
  std::string out = folder.empty() ? base : folder + "/" + base;
  if (!in.ext.empty()) out += "." + in.ext;
  return out;
}

}  // namespace cw
