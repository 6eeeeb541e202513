// Fuzz target for the ISO base media readers (CR3/CRM raws, HEIF images, movies) and the AVCHD
// stream reader: arbitrary bytes under the names of those families, read for macro values,
// for the capture identity and for the examination dump, then the preview choice and reading.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imagefile/identity.h"
#include "imagefile/preview.h"
#include "imagefile/tv_reader.h"

namespace {

// Inputs larger than this add no new structure and only slow the fuzzer down.
constexpr std::size_t kMaxInput = 1 << 20;
// The names whose extensions lead the reader to each family.
const char* const kNames[] = {"x.cr3", "x.heic", "x.mp4", "x.mts"};

struct Mode {
  bool quick, macros, dump, prefer_largest;
};
constexpr Mode kModes[] = {
    {true, true, false, false},   // EXIF macro values
    {true, false, false, true},   // capture identity
    {false, false, true, true},   // the examination dump
    {false, true, false, false},  // raw and JPEG handling (every pair recorded)
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // The first byte picks the name, so every family's name-dependent choice is reachable.
  const char* name = kNames[size ? data[0] % 4 : 0];
  std::string dump;
  for (const Mode& mode : kModes) {
    cw::TV_Reader reader(mode.prefer_largest);
    if (mode.dump) reader.set_print(cw::string_sink(dump));
    reader.open_bytes(bytes, name, mode.quick, mode.macros, !mode.quick && mode.macros);
    if (const cw::TV_Image* image = reader.image()) {
      cw::capture_identity_text(*image);
      cw::capture_datetime(*image);
    }
    cw::PreviewChoice choice = cw::choose_preview(reader);
    std::vector<std::uint8_t> jpeg;
    if (choice.directory && choice.jpeg) cw::read_jpeg(reader, choice.directory, jpeg);
    if (choice.directory && !choice.jpeg && choice.directory->strip_size(0) < kMaxInput) {
      std::vector<std::uint8_t> strip;
      choice.directory->read_strip(0, strip);
    }
    dump.clear();
  }
  return 0;
}
