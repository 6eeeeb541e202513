// Naming of one image: examines the source and decides the new base name, the target folder
// and the number text.
//
// This build names without the macro expander: every image keeps its source base name and
// goes to the first-copy root itself (target folder "."). The sequence number and the number
// text are made as the full naming makes them.
#pragma once

#include <string>

#include "ingest/engine_context.h"

namespace cw {

// On false, `message` says why ("path too long", "error accessing path (1)").
bool name_image(EngineContext& ctx, ImageRecord& record, std::string& message);

// The number text of an image: with source 1 the 5th to 8th characters of a base name of at
// least 8 characters (IMG_1234 gives 1234), else empty; with source 2 the sequence as "%06d".
std::string number_text_for(int number_range_source, const std::string& base_name,
                            long sequence);

}  // namespace cw
