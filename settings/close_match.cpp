// Close matches by edit distance and containment.
#include "settings/close_match.h"

#include <algorithm>
#include <cctype>

namespace cw {

namespace {

std::string folded(std::string_view s) {
  std::string out;
  for (char c : s) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Edits (insert, delete, replace, swap two neighbours) that turn `a` into `b`.
std::size_t edit_distance(const std::string& a, const std::string& b) {
  const std::size_t n = a.size(), m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i)
    for (std::size_t j = 1; j <= m; ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[n][m];
}

}  // namespace

std::vector<std::string> close_matches(std::string_view word,
                                       const std::vector<std::string>& candidates,
                                       std::size_t limit) {
  const std::string w = folded(word);
  if (w.empty()) return {};
  // A third of the word's letters may be wrong, at least one and at most three.
  const std::size_t allowed = std::clamp<std::size_t>(w.size() / 3, 1, 3);
  std::vector<std::pair<std::size_t, std::string>> scored;
  for (const std::string& c : candidates) {
    const std::string f = folded(c);
    std::size_t score;
    if (f == w) {
      score = 0;
    } else if (w.size() >= 3 && (f.find(w) != std::string::npos || w.find(f) != std::string::npos)) {
      score = 1;
    } else {
      const std::size_t d = edit_distance(w, f);
      if (d > allowed) continue;
      score = d + 1;
    }
    if (std::none_of(scored.begin(), scored.end(), [&](const auto& s) { return s.second == c; }))
      scored.emplace_back(score, c);
  }
  std::stable_sort(scored.begin(), scored.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  // A name that differs only in letter case is the one meant.
  if (!scored.empty() && scored.front().first == 0) scored.resize(1);
  std::vector<std::string> out;
  for (const auto& s : scored) {
    if (out.size() == limit) break;
    out.push_back(s.second);
  }
  return out;
}

std::string did_you_mean(std::string_view word, const std::vector<std::string>& candidates,
                         std::string_view prefix) {
  const std::vector<std::string> near = close_matches(word, candidates);
  if (near.empty()) return {};
  std::string text = " (did you mean ";
  for (std::size_t i = 0; i < near.size(); ++i) {
    if (i > 0) text += i + 1 == near.size() ? " or " : ", ";
    text.append(prefix).append(near[i]);
  }
  return text + "?)";
}

}  // namespace cw
