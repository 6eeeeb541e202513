// Creating a first-copy target without ever replacing an existing file: when the name is
// taken, either the file there is the same image (the copy is a duplicate) or a numeric
// suffix makes the name free.
#pragma once

#include <string>

#include "ingest/engine_context.h"

namespace cw {

// Highest numeric suffix tried before giving up.
inline constexpr int kMaxUniqueSuffix = 99999;

// Creates `target` (exclusively, so two runs can never take the same name) and returns its
// descriptor. A taken name is compared once with `source`; when both are the same image,
// `duplicate` is set and -1 returned. Otherwise "_00001", "_00002", ... are tried, placed
// before an extension of exactly three characters; `target` ends as the name created.
// -1 without `duplicate`: errno says why, or every suffix was taken (reported).
// The caller holds databaseLock.
int open_unique_target(std::string& target, EngineContext& ctx, bool& duplicate,
                       const std::string& source);

// The identity of an image file: its size, its modification time in local time and its
// capture identity ("[no exif time]" when the image has none). False when the file cannot be
// examined or the image reader fails on it.
bool file_identity(const std::string& path, std::string& identity);
// True when both identities can be made and are equal.
bool same_image(const std::string& a, const std::string& b);

}  // namespace cw
