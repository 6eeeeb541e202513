// Fuzz target for the camera-file reader: arbitrary bytes through the buffer-backed source in
// every mode combination, with the preview choice and reading that follow a read.
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
// The extensions that change the reader's choices.
const char* const kNames[] = {"f.jpg", "f.cr2", "f.rw2", "f.mef", "f.nef"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // The first byte picks the extension so that every preview rule is reachable.
  const char* name = kNames[size ? data[0] % 5 : 0];
  std::string dump;
  for (int mode = 0; mode < 16; ++mode) {
    cw::TV_Reader reader(mode & 8);
    if (mode & 4) reader.set_print(cw::string_sink(dump));
    reader.open_bytes(bytes, name, mode & 1, mode & 2, mode & 4);
    if (const cw::TV_Image* image = reader.image()) {
      cw::capture_identity_text(*image);
      cw::capture_datetime(*image);
    }
    cw::PreviewChoice choice = cw::choose_preview(reader);
    std::vector<std::uint8_t> jpeg;
    if (choice.directory && choice.jpeg) cw::read_jpeg(reader, choice.directory, jpeg);
    if (choice.directory && !choice.jpeg) {
      std::vector<std::uint8_t> strip;
      if (choice.directory->strip_size(0) < kMaxInput) choice.directory->read_strip(0, strip);
    }
    dump.clear();
  }
  return 0;
}
