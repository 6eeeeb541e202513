// The macro language: turns a specification such as "{@prefix,1,-1,_}{@datetimeany,1,8}" into
// an image name, a folder path or metadata text.
//
// A macro is "{@name,start,length,suffix}": the value of `name` (file name, dates, sequence
// numbers, preset fields, EXIF values, database values, vocabulary lists, ...), trimmed of
// spaces, cut to a substring, followed by the suffix when the value is not empty. Values are
// expanded again (two more levels), may be XML-escaped for sidecars, and list-valued IPTC
// fields become RDF list items. Anything the expander cannot resolve stays in the output as
// written, so a user sees a mistake in the result instead of losing text.
//
// Everything outside the expander's own inputs comes through a MacroEnvironment
// (macro_environment.h). The expander takes no lock: callers that run in several threads
// hold their run's metadata lock (RunMetadata::hold) while they expand.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "metadata/macro_environment.h"

namespace cw {

// The values one expansion works with.
struct MacroInputs {
  std::string cur_filename;             // the image's file name as the caller wants it used
  std::string cur_datetime;             // "YYYYMMDD_hhmmss"
  std::string cur_sequence;             // the sequence number text
  std::string unique_id;
  std::string number_range;
  std::optional<std::string> cur_path;  // the image file EXIF values are read from, or none
  std::string ext;                      // the extension without its dot
  std::optional<std::string> cur_relPath;  // folder of the image relative to the card
  bool xml = false;                     // escape values for XML, list values as RDF items
};

// Limits of the language.
inline constexpr std::size_t kMacroTextMax = 99;      // from "{" to before "}"
inline constexpr std::size_t kMacroValueMax = 1999;   // any value
inline constexpr std::size_t kMacroShortValueMax = 499;  // notes and prefix
inline constexpr int kMacroExpansionDepth = 3;        // values are expanded at depths 1 and 2

// Expands `template_text` into `processed`. Fails only when memory runs out.
bool macro_process_with_data(std::string_view template_text, std::string& processed,
                             const MacroInputs& inputs, MacroEnvironment& env);
// The same, and each macro whose name the expander does not know is appended to `unknown` as
// written ("{@model}"), for the caller to warn about: it stays in the result verbatim, which
// is rarely what the user meant. An exif. name that is no EXIF macro counts too.
bool macro_process_with_data(std::string_view template_text, std::string& processed,
                             const MacroInputs& inputs, MacroEnvironment& env,
                             std::vector<std::string>* unknown);

// The text shown for the retired {@client}, {@project} and {@card} macros; the first use in
// a process also shows a message saying so.
inline constexpr const char* kMacroNoLongerImplemented = "[macro no longer implemented]";

}  // namespace cw
