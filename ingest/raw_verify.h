// Raw verification when no converter reads the raw files: the raw decoder library opens the
// copy and unpacks its image data. A file the decoder opens as a raw of a camera it knows
// counts as sound when it unpacks without a word, and as corrupt when it cannot be unpacked or
// the decoder meets damaged or missing data on the way (a file cut short). A file it cannot
// open as such a raw (a format it does not know, a name that only looks like a raw's), or
// whose kind of data it cannot decode, is left unverified: that says nothing about the file.
#pragma once

#include <string>

namespace cw {

enum class RawVerdict { kSound, kCorrupt, kUnknown };

struct RawCheck {
  RawVerdict verdict = RawVerdict::kUnknown;
  std::string message;  // why it is corrupt (or unknown)
  bool no_decoder = false;  // unknown because the decoder could not be loaded (`message` says why)
};

// Unpacks the file's image data. Prints nothing, and may run on any thread (every call has a
// decoder of its own).
RawCheck check_raw(const std::string& path);

}  // namespace cw
