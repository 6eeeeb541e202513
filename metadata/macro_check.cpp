// Unknown macros of a specification and their close matches.
#include "metadata/macro_check.h"

#include <algorithm>

#include "metadata/macro.h"
#include "metadata/macro_exif.h"
#include "metadata/macro_reference.h"
#include "metadata/macro_text.h"
#include "settings/close_match.h"
#include "settings/preset_keys.h"

namespace cw {

namespace {

const char* const kSimpleNames[] = {
    "catalogsets", "keywords",        "notes",           "prefix",
    "filename",    "sourcepath",      "extension",       "filenamenew",
    "datetimeany", "datetimeanymonth", "datetimeanyweekday", "datetimecurrent",
    "datetimecurrentmonth", "datetimecurrentweekday", "datetime", "datetimemonth",
    "datetimeweekday", "sequence",     "uniqueid",        "numberrange",
};

// EXIF names a macro may use beyond the reader's tags.
const char* const kExifAliases[] = {
    "datetime",  "datetimeoriginalmonth", "datetimedigitizedmonth", "datetimechangedmonth",
    "datetimeoriginalweekday", "datetimedigitizedweekday", "datetimechangedweekday",
    "makefirstword", "serialnumber",
};

const char* const kDatabaseNames[] = {"client.name", "project.name", "card.name"};

// The name of a macro text "{@name,start,length,suffix}", lowered.
std::string name_of(const std::string& text) {
  std::size_t begin = 2;
  while (begin < text.size() && text[begin] == ',') ++begin;
  std::size_t end = text.find_first_of(",}", begin);
  return to_lower(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
}

}  // namespace

const std::vector<std::string>& known_macro_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out(std::begin(kSimpleNames), std::end(kSimpleNames));
    for (const ExifMacroTag& t : kExifMacroTags) out.push_back("exif." + to_lower(t.name));
    for (const char* alias : kExifAliases) out.push_back(std::string("exif.") + alias);
    for (const auto* table : {&photog_fields(), &content_fields(), &rights_fields()})
      for (const PresetKey& k : *table) out.push_back("iptc." + to_lower(k.key));
    out.insert(out.end(), std::begin(kDatabaseNames), std::end(kDatabaseNames));
    return out;
  }();
  return names;
}

std::vector<UnknownMacro> unknown_macros(std::string_view specification, MacroEnvironment& env) {
  std::vector<std::string> found;
  std::string ignored;
  if (!macro_process_with_data(specification, ignored, macro_laboratory_inputs(), env, &found))
    return {};
  std::vector<UnknownMacro> out;
  for (const std::string& text : found) {
    if (std::any_of(out.begin(), out.end(), [&](const UnknownMacro& u) { return u.text == text; }))
      continue;
    UnknownMacro u{text, {}};
    std::string name = name_of(text);
    // An EXIF name written without its namespace is the most common slip.
    if (is_exif_macro_name(name)) name = "exif." + name;
    for (const std::string& near : close_matches(name, known_macro_names()))
      u.suggestions.push_back("{@" + near + "}");
    out.push_back(std::move(u));
  }
  return out;
}

std::string unknown_macro_warning(const std::string& what,
                                  const std::vector<UnknownMacro>& unknown) {
  std::string text = "The " + what + " holds ";
  for (std::size_t i = 0; i < unknown.size(); ++i) {
    if (i > 0) text += i + 1 == unknown.size() ? " and " : ", ";
    text += unknown[i].text;
    const auto& s = unknown[i].suggestions;
    if (s.empty()) continue;
    text += " (did you mean ";
    for (std::size_t k = 0; k < s.size(); ++k) text += (k ? " or " : "") + s[k];
    text += "?)";
  }
  text += unknown.size() == 1 ? ", which is no macro" : ", which are no macros";
  return text + "; it stays in the result as written ('cardwright macro --reference' lists the "
                "macros).";
}

}  // namespace cw
