// The placement record and its preference.
#include "control/window_placement.h"

#include <algorithm>

#include "platform/profile.h"

namespace cw {

namespace {

constexpr const char* kPlacementKey = "DlgMainPlacement3";
constexpr const char* kWindowsSection = "Windows";
constexpr std::int32_t kShowNormal = 1;
constexpr std::int32_t kShowMaximized = 3;

void put32(std::vector<std::uint8_t>& out, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
}

std::int32_t get32(const std::vector<std::uint8_t>& in, std::size_t at) {
  std::uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<std::uint32_t>(in[at + i]) << (8 * i);
  return static_cast<std::int32_t>(u);
}

}  // namespace

std::vector<std::uint8_t> encode_placement(const WindowPlacement& p) {
  std::vector<std::uint8_t> out;
  put32(out, static_cast<std::int32_t>(kPlacementBytes));
  put32(out, 0);  // flags
  put32(out, p.maximized ? kShowMaximized : kShowNormal);
  for (int i = 0; i < 4; ++i) put32(out, -1);  // minimised and maximised positions: unset
  put32(out, p.x);
  put32(out, p.y);
  put32(out, p.x + p.width);
  put32(out, p.y + p.height);
  return out;
}

std::optional<WindowPlacement> decode_placement(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() != kPlacementBytes ||
      get32(bytes, 0) != static_cast<std::int32_t>(kPlacementBytes))
    return std::nullopt;
  WindowPlacement p;
  p.maximized = get32(bytes, 8) == kShowMaximized;
  const std::int32_t left = get32(bytes, 28), top = get32(bytes, 32);
  const std::int32_t right = get32(bytes, 36), bottom = get32(bytes, 40);
  if (right <= left || bottom <= top) return std::nullopt;
  p.x = left;
  p.y = top;
  p.width = right - left;
  p.height = bottom - top;
  return p;
}

std::optional<WindowPlacement> load_window_placement() {
  std::optional<std::vector<std::uint8_t>> bytes =
      profile_get_binary(kProfileSection, kPlacementKey);
  if (!bytes) return std::nullopt;
  return decode_placement(*bytes);
}

bool save_window_placement(const WindowPlacement& p) {
  return profile_put_binary(kProfileSection, kPlacementKey, encode_placement(p));
}

WindowPlacement fit_window_placement(const std::optional<WindowPlacement>& stored,
                                     const ScreenArea& area, int min_width, int min_height) {
  WindowPlacement p;
  if (stored) {
    p = *stored;
  } else {
    p.width = static_cast<int>(area.width * kDefaultWidthShare);
    p.height = static_cast<int>(area.height * kDefaultHeightShare);
  }
  p.width = std::min(std::max(p.width, min_width), area.width);
  p.height = std::min(std::max(p.height, min_height), area.height);
  if (!stored) {
    p.x = area.x + (area.width - p.width) / 2;
    p.y = area.y + (area.height - p.height) / 2;
  }
  p.x = std::clamp(p.x, area.x, area.x + area.width - p.width);
  p.y = std::clamp(p.y, area.y, area.y + area.height - p.height);
  return p;
}

std::optional<std::vector<std::uint8_t>> load_window_state(const std::string& window) {
  return profile_get_binary(kWindowsSection, window);
}

bool save_window_state(const std::string& window, const std::vector<std::uint8_t>& state) {
  return profile_put_binary(kWindowsSection, window, state);
}

}  // namespace cw
