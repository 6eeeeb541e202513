// XMP sidecars: a metadata template (an XMP packet holding macros that pull in the IPTC
// presets, keywords, catalog sets and EXIF values) plus an optional develop-settings file
// (a Camera Raw defaults XMP or a ".lrtemplate" develop preset, turned into one crs: settings
// description) are combined, expanded with XML escaping, converted to UTF-8, tidied (what came
// out empty left out, the copyright flag and the capture dates completed: xmp_tidy.h) and
// written as the sidecar of one image. A template that does not expand to well-formed XML
// fails the sidecar: nothing is written that other programs could not read.
//
// Files are read line by line: CR, LF or CRLF end a line, each line is kept with a single
// line feed, and a line longer than kSidecarLineMax characters is an error.
//
// The settings block of the last develop-settings path is kept in the caller's SidecarCache, as
// is the last template (until its file changes): a run keeps one for all its images. A cache is
// used by one build at a time; its owner says how (a run holds its metadata lock).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "metadata/macro_environment.h"

namespace cw {

// Longest line of a template or settings file, without its line ending.
inline constexpr std::size_t kSidecarLineMax = 998;

// What the expansion of a sidecar uses for the run values it cannot know.
inline constexpr const char* kSidecarUniqueId = "ABCDEF0123456";
inline constexpr const char* kSidecarNumberRange = "[numberrange not available]";

// Namespace of the raw-development settings.
inline constexpr const char* kCrsNamespace = "http://ns.adobe.com/camera-raw-settings/1.0/";

// What building sidecars keeps between images: the settings block of the last develop-settings
// path, and the template as copy_template last made it (a card's images all take the same one,
// which is read again only when the file or the settings block changes).
struct SidecarCache {
  std::optional<std::string> settings_path;  // none: no block kept
  std::string settings_block;
  std::string template_path, template_settings_block, template_document;
  struct timespec template_modified {};
  off_t template_size = -1;  // -1: no template kept
};

// The text of a sidecar built from the template and the develop-settings file (either may be
// empty), in UTF-8: empty when both are empty, and when only a settings file whose block is
// empty is given. On false, `msg` holds the failure. Macros read presets, vocabulary,
// database and EXIF values through `env`; the settings block and the template are kept in
// `cache`.
bool sidecar_text(const std::string& path_template, const std::string& path_CRDefaults,
                  const std::string& cur_filename, const std::string& cur_datetime,
                  const std::string& cur_sequence, const std::string& cur_path,
                  MacroEnvironment& env, SidecarCache& cache, std::string& utf8,
                  std::string& msg);

// Builds the sidecar at `path_new_sidecar` from the template and the develop-settings file
// (either may be empty). `wanted` is false when both are empty: then nothing is written and
// the result is true. With only a settings file whose block is empty, nothing is written
// either. On false, `msg` holds the failure; a partly written sidecar stays on disk.
// Macros read presets, vocabulary, database and EXIF values through `env`.
bool sidecar_from_template(const std::string& path_template, const std::string& path_CRDefaults,
                           const std::string& path_new_sidecar, const std::string& cur_filename,
                           const std::string& cur_datetime, const std::string& cur_sequence,
                           const std::string& cur_path, MacroEnvironment& env,
                           SidecarCache& cache, std::string& msg, bool& wanted);

// The settings description built from a develop-settings file, led by a comment naming the
// file; empty for an empty path; nothing (with `msg` set) on failure. The last path's block
// is kept in `cache`: asking again for it reads nothing.
std::optional<std::string> get_rdf_crs(SidecarCache& cache, const std::string& path_CRDefaults,
                                       std::string& msg);

// Appends to `rdf` the crs: description of a Camera Raw defaults XMP: from the line that
// starts "xmlns:crs=" to the first "</rdf:Description>" line, under a description head.
bool get_CameraRaw(std::FILE* in, std::string& rdf, std::string& msg);
// Appends to `rdf` a crs: description made from the settings table of a develop preset:
// one element per setting, list values (tone curves) as an rdf:Seq of coordinate pairs.
bool get_Lightroom(std::FILE* in, std::string& rdf, std::string& msg);

// Converts the expanded text to UTF-8 (text already in UTF-8 passes unchanged, anything else
// is taken as the system's 8-bit code page, CP1252).
bool convert_to_UTF8(std::string_view processed, std::string& processedUTF8, std::string& msg);

}  // namespace cw
