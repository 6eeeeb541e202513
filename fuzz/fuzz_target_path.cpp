// Fuzz target for the construction of an image's target path: the name and folder
// specifications and the camera's EXIF values (Model, Make, Artist, DateTimeOriginal) come from
// the input, one per line in that order, and go through the engine's own naming. Aborts when
// the target would not stay inside the archive root: a folder or name component that is
// empty, "." or "..", holds a control character, a character FAT, exFAT or NTFS refuse, or
// invalid UTF-8, or is longer than the component limit.
// Run: fuzz_target_path -dict=fuzz/fuzz_target_path.dict -max_len=2048 CORPUS_DIR
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/fs.h"
#include "foundation/path_guard.h"
#include "ingest/naming.h"
#include "ingest/number_range.h"
#include "metadata/macro_environment.h"

namespace {

constexpr std::size_t kMaxInput = 2048;
constexpr const char* kRoot = "/archive";
constexpr const char* kSource = "/card/DCIM/100CANON/IMG_0001.JPG";

std::vector<std::string> lines_of(const std::string& text, std::size_t n) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (lines.size() + 1 < n) {
    std::size_t nl = text.find('\n', from);
    if (nl == std::string::npos) break;
    lines.push_back(text.substr(from, nl - from));
    from = nl + 1;
  }
  lines.push_back(text.substr(std::min(from, text.size())));
  lines.resize(n);
  return lines;
}

void check_component(const std::string& part) {
  if (part.empty() || part == "." || part == ".." || part.size() > cw::kMaxPathComponent)
    std::abort();
  for (unsigned char c : part)
    if (c < 0x20 || c == 0x7F || std::string_view("\"*:<>?|\\/").find(static_cast<char>(c)) !=
                                     std::string_view::npos)
      std::abort();
  std::string utf8, why;
  if (!cw::to_utf8(part, utf8, why) || utf8 != part) std::abort();  // valid UTF-8 passes as is
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  const std::vector<std::string> in =
      lines_of(std::string(reinterpret_cast<const char*>(data), size), 6);

  cw::MemoryMacroEnvironment env;
  env.images[kSource] = {{"Model", in[2]}, {"Make", in[3]}, {"Artist", in[4]},
                         {"DateTimeOriginal", in[5]}};
  cw::SingleSlotControl control;
  cw::EngineContext ctx(cw::EngineJob{&control, 0, "fuzz"});
  ctx.first_copy_root = kRoot;
  ctx.name_format = in[0];
  ctx.folder_format = in[1];
  ctx.macro_env = &env;
  cw::number_range_choose(control.number_ranges(), 4);
  cw::ImageRecord record;
  record.base_name = "IMG_0001";
  record.extension_text = &ctx.folders.intern("JPG");
  record.set_source(ctx.folders, kSource);
  record.modified = 1715941230;
  long sequence = 0;
  cw::make_file_name(ctx, record, sequence);
  std::string report;
  if (!cw::make_folder_path(ctx, record, sequence, report)) return 0;  // text after {@numberrange}

  check_component(record.new_base_name);
  if (record.target_folder() != ".") {
    std::size_t from = 0;
    for (;;) {
      const std::size_t sep = record.target_folder().find('/', from);
      check_component(record.target_folder().substr(from, sep - from));
      if (sep == std::string::npos) break;
      from = sep + 1;
    }
  }
  cw::number_range_reset(control.number_ranges());
  return 0;
}
