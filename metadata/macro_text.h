// Small text helpers shared by the macro expander's files.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace cw {

// ASCII lowering (macro names and property names are compared this way).
std::string to_lower(std::string_view text);
bool equals_ignoring_case(std::string_view a, std::string_view b);
bool contains_ignoring_case(std::string_view text, std::string_view part);
// strftime into a string (empty when the result would not fit in 200 bytes).
std::string format_time(const char* format, const std::tm& tm);

}  // namespace cw
