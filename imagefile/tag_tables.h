// The tag tables of the camera-file reader, kept as data: TIFF/EXIF/DNG/GeoTIFF tag names,
// the EXIF macro names, the GPS tag names and the Canon CRW heap tag names. Each table is
// checked for repeated tag numbers at its first use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cw {

struct TagRow {
  std::uint32_t tag;
  const char* text;  // for tag_def: "Name\tDescription"; elsewhere the name
};

class TagTable {
 public:
  // repeat_format is the fatal message for a repeated tag ("tag %d repeated in ...\n").
  TagTable(std::span<const TagRow> rows, const char* repeat_format);
  // The row text for a tag, or null when the tag is not in the table.
  const char* find(std::uint32_t tag) const;
  // The name (text before a tab), or "[Tag %d]" for a tag not in the table.
  std::string name(std::uint32_t tag) const;
  std::span<const TagRow> rows() const { return rows_; }

 private:
  std::span<const TagRow> rows_;
  std::vector<std::uint32_t> sorted_;  // row indexes ordered by tag, for lookups
};

// The first tag number that occurs twice in the rows, or -1.
long first_repeated_tag(std::span<const TagRow> rows);

const TagTable& tag_def();
const TagTable& tag_def_EXIF();
const TagTable& tag_def_GPS();
const TagTable& tag_def_CRW();

}  // namespace cw
