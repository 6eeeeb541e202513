// JPEG verification: a copied JPEG counts as sound when the JPEG decoder gets through all of
// its entropy-coded data without a fatal error. Warnings (damaged but decodable data, a
// premature end) do not fail the check; their text and that of a fatal error go to the text
// pane.
#pragma once

#include <string>

namespace cw {

// Decodes the whole file. False when it cannot be opened ("can't open %s\n" on standard
// error) or when the decoder stops with a fatal error ("\nERROR processing JPEG: " + the
// decoder's message + "\n" in the text pane).
bool verify_jpeg(const std::string& path);

}  // namespace cw
