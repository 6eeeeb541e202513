// Paths built from the user's specifications and from what a card carries (EXIF text, file
// names, symbolic links) kept inside the tree they are meant for. An expanded name or folder is
// cleaned component by component; where a path really lands is then compared with its root as
// the file system resolves both (symbolic links, "." and "..").
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace cw {

// Longest file or folder name kept, in bytes.
inline constexpr std::size_t kMaxPathComponent = 200;

// One file or folder name as every file system an archive may live on takes it: text that is
// not UTF-8 converted from CP1252, control characters removed, the characters FAT, exFAT and
// NTFS refuse (" * : < > ? | and both separators) replaced by "-", trailing spaces and dots
// dropped (those file systems drop them), cut to kMaxPathComponent bytes at a character
// boundary. The result may be empty; it is never "." or "..".
std::string safe_path_component(std::string_view name);

// A relative folder path cleaned component by component ("/" and "\" both separate); empty
// components and those that clean to nothing (".", "..") are dropped, so the result never
// leads out of the folder it is joined to. Components are joined by "/"; empty when none is
// left.
std::string safe_relative_path(std::string_view path);

// The absolute form of `path` as the system resolves it: symbolic links, "." and ".." of its
// existing part resolved, the part that does not exist yet appended. Nothing when the existing
// part cannot be resolved (a link that leads nowhere, a file where a folder should be, no
// permission): nothing can then be said about where the path lands.
std::optional<std::string> real_path_of(const std::string& path);

// True when `path` is `root` or lies below it (both as real_path_of gives them).
bool path_is_inside(std::string_view root, std::string_view path);

// True when `path` really lands inside the tree whose real path is `real_root` (nothing
// that cannot be resolved does).
bool lands_inside(const std::string& real_root, const std::string& path);

}  // namespace cw
