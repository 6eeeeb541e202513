// Close matches of a mistyped name among the names that exist, for the messages that refuse
// an unknown preset key, preference, preset name, option or macro: "did you mean ...?" reads
// better than a list of everything, and the desktop program offers the same suggestions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cw {

// The candidates that `word` was probably meant to be, best first, at most `limit`: names
// that differ by a few typing mistakes (case ignored), or that contain the word or are
// contained in it (at least three letters). Empty when nothing is close.
std::vector<std::string> close_matches(std::string_view word,
                                       const std::vector<std::string>& candidates,
                                       std::size_t limit = 3);

// " (did you mean A, B or C?)" for the close matches of `word`; empty when there are none.
std::string did_you_mean(std::string_view word, const std::vector<std::string>& candidates,
                         std::string_view prefix = "");

}  // namespace cw
