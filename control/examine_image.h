// Examining an image: what the Examine window and `cardwright examine` do. The report gives
// the value of every EXIF and IPTC macro the next ingestion would use for one image file, then
// the file's internal structure as the reader sees it, so that the user finds out why a name
// came out as it did and whether a new camera's files are understood. The file is only read.
#pragma once

#include <string>

namespace cw {

class MacroEnvironment;

struct Examination {
  std::string report;
  bool understood = false;  // the reader understood the file's structure
};

// Examines `path` with the macros of `env` (control/macro_laboratory.h:
// next_ingestion_macros). It may take a while for a large raw file: a window calls it off its
// own thread, with `env` readied on its thread first.
Examination examine_image(const std::string& path, MacroEnvironment& env);

}  // namespace cw
