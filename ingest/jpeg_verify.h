// JPEG verification: a copied JPEG counts as sound when the JPEG decoder gets through all of
// its entropy-coded data without a fatal error or a warning; as damaged when it gets through
// only with a warning that image data is missing or corrupt (the file ends early, entropy-coded
// data is garbled), so that part of the picture is lost; and as corrupt when the decoder stops
// with a fatal error. Other warnings (a bad colour-transform code, stray bytes between header
// segments) leave the image data whole and the file sound.
#pragma once

#include <string>

namespace cw {

enum class JpegVerdict { kSound, kDamaged, kCorrupt, kUnreadable };

struct JpegCheck {
  JpegVerdict verdict = JpegVerdict::kSound;
  std::string error;    // the decoder's fatal message (kCorrupt)
  std::string warning;  // the decoder's first warning, if any
  std::string damage;   // the first warning that means damaged image data (kDamaged)
};

// Decodes the whole file and says what the decoder found; shows and prints nothing, and may
// run on any thread (every call has a decoder of its own).
JpegCheck check_jpeg(const std::string& path);

// Shows a check's messages: "can't open %s\n" on standard error for a file that cannot be
// opened; in the text pane "\nWARNING processing JPEG: " + the first warning + " (" + path +
// ")\n" when the decoder warned, and "\nERROR processing JPEG: " + the fatal message + "\n"
// when it stopped.
void show_jpeg_check(const std::string& path, const JpegCheck& check);

// check_jpeg and show_jpeg_check: false when the file cannot be opened or is corrupt (a
// damaged file decodes, and passes).
bool verify_jpeg(const std::string& path);

}  // namespace cw
