// Naming of one image: examines the source, then expands the user's name and folder
// specifications for it with the macro expander. The image gets its sequence number, its
// number text, a new base name and a target folder relative to the first-copy root. A folder
// specification holding {@numberrange} puts each partition of images into its own
// number-range folder (ingest/number_range.h).
//
// Naming runs image by image in list order while the run holds the order gate's ticket. The
// sequence number comes from the slot records, the expansions run holding the run's metadata
// lock, the folder texts go into the run's folder table under its own lock.
#pragma once

#include <string>

#include "ingest/engine_context.h"

namespace cw {

// Examines then names the image, writing what the report is to say to the run's report.
// On false, `message` says why ("path too long", "error accessing path (1)",
// "can't make image file name", "can't make image folder path").
bool name_image(EngineContext& ctx, ImageRecord& record, std::string& message);

// The two halves of name_image. Examining reads the source's size and modification time and
// finds its capture-time correction; it touches nothing the run shares. Naming an examined
// image takes its sequence number and expands its name and folder; it writes nothing of the
// run's but the image's record, its folder texts and the shared number ranges, each under its
// own lock, and leaves the report's lines in `report`, so that it may run beside the copying.
bool examine_image(EngineContext& ctx, ImageRecord& record, std::string& message);
bool name_examined_image(EngineContext& ctx, ImageRecord& record, std::string& message,
                         std::string& report);

// Reads the image's EXIF values into the run's environment, when not there yet, without
// holding the run's metadata lock through the reading of the file: naming the image then finds
// them there, and the copying and the sidecar thread, which need the lock too, wait less.
void read_exif_ahead(EngineContext& ctx, const ImageRecord& record);
// Whether the run's environment holds the image's EXIF values (naming it read them).
bool exif_remembered(EngineContext& ctx, const ImageRecord& record);

// Takes the next sequence number (returned in `sequence`), makes the number text and expands
// the name format into the record's new base name (the source's base name when the
// expansion gives nothing).
bool make_file_name(EngineContext& ctx, ImageRecord& record, long& sequence);
// Expands the folder format into the record's target folder; "." for the root itself. False
// (and the reason's line in `report`) when text follows {@numberrange}.
bool make_folder_path(EngineContext& ctx, ImageRecord& record, long sequence,
                      std::string& report);

// The number text of an image: with source 1 the 5th to 8th characters of a base name of at
// least 8 characters (IMG_1234 gives 1234), else empty; with source 2 the sequence as "%06d".
std::string number_text_for(int number_range_source, const std::string& base_name,
                            long sequence);

// A name that cannot be a single file name component: each of % * / : < > \ becomes "-".
std::string replace_forbidden_name_characters(std::string name);

// The unique id: the current time in seconds and the millisecond times 1000, both in hex.
std::string make_unique_id();

}  // namespace cw
