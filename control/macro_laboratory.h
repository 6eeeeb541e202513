// Macro laboratory: what the Macro Lab window and `cardwright macro` do. A specification is
// expanded as the next ingestion would expand it (the user's presets, keyword vocabulary,
// database choices and notes) with the laboratory's sample image data or with what a real
// image gives; the macros the expander does not know are named with what they were probably
// meant to be; the reference lists every macro beside its value. The examiner
// (control/examine_image.h) expands with the same environment.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "metadata/macro.h"
#include "metadata/macro_check.h"

namespace cw {

class AppSession;

// The session's macro environment readied as the next ingestion will find it: the notes are
// `notes`, or else the preference IngestionNotes; `video_times_local` set reads movie header
// times as the camera's local time (unset leaves the session's reading as it is).
MacroEnvironment& next_ingestion_macros(AppSession& session,
                                        const std::optional<std::string>& notes = std::nullopt,
                                        bool video_times_local = false);

// The laboratory's sample data: file ABCD0001.NEF, date YYYYMMDD_hhmmss, sequence 123456,
// number range 0420-0511.
MacroInputs laboratory_sample_inputs();
// `in` (the sample data) with the name, date and EXIF values of `image`, read as `env` reads
// movie times. False with the system's reason in `why` when the file cannot be read; `in` is
// then unchanged.
bool laboratory_image_inputs(const std::string& image, MacroEnvironment& env, MacroInputs& in,
                             std::string& why);

struct LabExpansion {
  bool ok = false;  // false only when the expansion ran out of memory
  std::string text;
  std::vector<UnknownMacro> unknown;  // in the order written, each once
  std::string warning;  // what to tell the user about `unknown`; empty when there are none
};
LabExpansion expand_in_laboratory(const std::string& specification, const MacroInputs& in,
                                  MacroEnvironment& env);

// The reference as lines: a heading (only `heading` set), or a macro with its label (empty for
// the example names), its specification and its value with `in`.
struct ReferenceLine {
  std::string heading;
  std::string label;
  std::string specification;
  std::string value;
};
std::vector<ReferenceLine> macro_reference_values(const MacroInputs& in, MacroEnvironment& env);
// The fixed text naming every macro beside the macro itself ("Insert Reference").
std::string laboratory_reference_text();

// Changes the presets for the expansions of this session only; nothing is saved: a property
// of the master preset, an IPTC field of the photographer preset.
void set_laboratory_property(AppSession& session, const std::string& name,
                             const std::string& value);
void set_laboratory_iptc(AppSession& session, const std::string& name, const std::string& value);
// Checks the entry "A|B|C" under `heading` ("Keywords", "Catalog Sets") in the working set's
// vocabulary, adding what is missing along it there; nothing is saved to the user's files.
void check_laboratory_vocabulary(AppSession& session, const std::string& heading,
                                 const std::string& path);

}  // namespace cw
