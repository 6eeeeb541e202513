// Checking a specification before it is used: the macros in it that the expander does not
// know, each with the macros it was probably meant to be ("{@model}" → "{@exif.model}"), and
// the warning that says so. An unknown macro is not an error of the language (it stays in the
// result as written), but in a file name it is almost always a typing mistake.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "metadata/macro_environment.h"

namespace cw {

struct UnknownMacro {
  std::string text;                      // as written, "{@model}"
  std::vector<std::string> suggestions;  // close macros, written the same way
};

// The unknown macros of `specification`, in order, each once, found by expanding it with the
// laboratory's sample data in `env`.
std::vector<UnknownMacro> unknown_macros(std::string_view specification, MacroEnvironment& env);

// "The file-name specification holds {@model}, which is no macro (did you mean
// {@exif.model}?); it stays in the result as written." for `what` = "file-name specification".
std::string unknown_macro_warning(const std::string& what, const std::vector<UnknownMacro>& unknown);

// The names the expander knows, lowered, as a macro names them after "{@" (exif., iptc. and the
// database names included): what suggestions are chosen from.
const std::vector<std::string>& known_macro_names();

}  // namespace cw
