// Connects the macro language's EXIF values to this reader: the process-wide cached reader
// of the expander reads images through read_image_macro_pairs once connected.
#pragma once

#include <string>

#include "metadata/macro_environment.h"

namespace cw {

// Reads `path` in quick mode with macro pairs recorded; false with the reader's message.
bool read_image_macro_pairs(const std::string& path, ExifPairs& pairs, std::string& message);

// Installs read_image_macro_pairs as the expander's image reader (once per process is
// enough; installing again forgets the cached image).
void connect_image_macro_reader();

}  // namespace cw
