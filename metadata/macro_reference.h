// The user-facing vocabulary of the macro language: the reference text of the macro
// laboratory with its sample data, and the name and folder formats the preset dialogs offer.
#pragma once

#include <string>
#include <vector>

#include "metadata/macro.h"

namespace cw {

// The laboratory's sample data: file ABCD0001.NEF of "[path]", date "YYYYMMDD_hhmmss",
// sequence 123456, unique id ABCDEF0123456, number range 0420-0511, no image, no XML.
MacroInputs macro_laboratory_inputs();

// The sample inputs replaced by what a real image gives: its name, extension, folder, capture
// date (the file's modification time when it has none) and, through its path, its EXIF
// values. False with the system's reason in `message` when the file cannot be read.
// `video_times_local` is the reading setting of movie times kept in UTC.
bool macro_inputs_from_image(const std::string& file, MacroInputs& in, std::string& message,
                             bool video_times_local = false);

// The fixed text naming every macro beside the macro itself.
std::string macro_reference_text();

// The reference text as rows, so that a front end can show each macro's text beside its
// value: a heading row ("Simple Macros"), or a macro row with its label ("Filename"; empty
// for the example names) and its specification ("{@filename}").
struct ReferenceRow {
  std::string heading;
  std::string label;
  std::string specification;
};
std::vector<ReferenceRow> macro_reference_rows();

// A labelled specification of a preset dialog's format list.
struct MacroFormat {
  const char* label;
  const char* specification;
};
extern const MacroFormat kNameFormats[21];
extern const MacroFormat kFolderFormats[7];
inline constexpr const char* kCustomFormatLabel = "Custom";
// The label of a stored specification (exact comparison), "Custom" when none matches.
const char* name_format_label(const std::string& specification);
const char* folder_format_label(const std::string& specification);

}  // namespace cw
