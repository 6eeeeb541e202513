// The examination report: for one image file, the value of every EXIF and IPTC macro the
// program would use for it, then the file's internal structure as the reader sees it. It is
// the user's tool for finding out why a name came out as it did and whether a new camera's
// files are understood. The file is only read.
#pragma once

#include <string>

#include "metadata/macro_environment.h"

namespace cw {

// One line per EXIF macro and per IPTC field, each "\t" + label + ": " + macro + "\n".
const std::string& examination_macro_text();

// The whole report for `path`; the macros read presets through `env`. `read_ok` (when given)
// tells whether the reader understood the file.
std::string examination_report(const std::string& path, MacroEnvironment& env,
                               bool* read_ok = nullptr);

// The report as the edit box shows it: every line feed as carriage return + line feed.
std::string with_crlf(const std::string& text);

}  // namespace cw
