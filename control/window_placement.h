// Window placement. The main window's placement, kept between program runs in the preference
// "DlgMainPlacement3": a 44-byte record laid out like the window-placement record the
// preference has always held (length, flags, show state, minimised and maximised positions,
// the normal rectangle as left, top, right, bottom; little-endian 32-bit fields), so that the
// preference keeps its documented size; where that placement lands on the screen the program
// starts on; and the remembered sizes and divisions of the other windows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
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

// The part of a screen windows may take (without panels and docks).
struct ScreenArea {
  int x = 0, y = 0, width = 0, height = 0;
};

// Where the main window opens on a screen whose free area is `area`. A stored placement keeps
// its size and place as far as the area allows: a window saved on a larger screen is moved
// and shrunk to lie within this one. Without one, the window takes a share of the area
// (kDefaultWidthShare by kDefaultHeightShare), centred, so that it grows with the screen. The
// size is never below `min_width` by `min_height`, unless the area itself is smaller.
inline constexpr double kDefaultWidthShare = 0.7;
inline constexpr double kDefaultHeightShare = 0.85;
WindowPlacement fit_window_placement(const std::optional<WindowPlacement>& stored,
                                     const ScreenArea& area, int min_width, int min_height);

// The size and inner divisions of another window, kept between runs under its name in the
// profile section "Windows": opaque bytes its front end makes and reads back.
std::optional<std::vector<std::uint8_t>> load_window_state(const std::string& window);
bool save_window_state(const std::string& window, const std::vector<std::uint8_t>& state);

}  // namespace cw
