// The embedded preview of a camera file: which directory holds the best one (a JPEG stream or
// an uncompressed RGB strip image) and reading its JPEG bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "imagefile/tv_reader.h"

namespace cw {

// RGB thumbnails smaller than this in both directions are preferred by the thumbnail view.
inline constexpr std::uint32_t kSmallRgbThumbnail = 200;
// Olympus RGB previews larger than this in either direction are not used.
inline constexpr std::uint32_t kLargestOlympusRgb = 1600;

struct PreviewChoice {
  TV_IFD* directory = nullptr;  // none when the file has no usable preview
  bool jpeg = false;            // true: a JPEG stream; false: an RGB strip image
};

// Chooses the preview of the file the reader has read, following its prefer-largest flag.
PreviewChoice choose_preview(TV_Reader& reader);

// Reads the JPEG bytes of a directory's preview (without a directory, a JPEG file's whole
// bytes). The source position is restored. False, with the reader's message, on failure.
bool read_jpeg(TV_Reader& reader, TV_IFD* directory, std::vector<std::uint8_t>& bytes);

}  // namespace cw
