// Where the outside GPS tools are: a path the user configured, else the program found on PATH.
#pragma once

#include <optional>
#include <string>

namespace cw {

// Program names looked for on PATH.
inline constexpr const char* kExifToolName = "exiftool";
inline constexpr const char* kGpsBabelName = "gpsbabel";

// The full path of an executable file `name` in a folder of PATH (empty entries mean the
// current folder); a name containing "/" is checked as it is. Nothing when not found.
std::optional<std::string> find_program_on_path(const std::string& name);

// The program to run: `configured` when not empty, else `name` found on PATH, else `name`
// itself (a later run then fails with a clear message).
std::string resolve_tool(const std::string& configured, const std::string& name);

// True when `program` names an executable file (directly or through PATH).
bool program_exists(const std::string& program);

}  // namespace cw
