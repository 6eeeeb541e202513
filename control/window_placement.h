// The main window's placement, kept between program runs in the preference
// "DlgMainPlacement3": a 44-byte record laid out like the window-placement record the
// preference has always held (length, flags, show state, minimised and maximised positions,
// the normal rectangle as left, top, right, bottom; little-endian 32-bit fields), so that the
// preference keeps its documented size.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace cw {

inline constexpr std::size_t kPlacementBytes = 44;

struct WindowPlacement {
  int x = 100, y = 100;  // top-left corner of the normal (not maximised) window
  int width = 0, height = 0;
  bool maximized = false;
};

std::vector<std::uint8_t> encode_placement(const WindowPlacement& p);
// Nothing for a record of another size or length field, or with an empty rectangle.
std::optional<WindowPlacement> decode_placement(const std::vector<std::uint8_t>& bytes);

// The stored placement, if any, and storing one.
std::optional<WindowPlacement> load_window_placement();
bool save_window_placement(const WindowPlacement& p);

}  // namespace cw
