// Fuzz target for the XMP merge, which walks the marker structure of JPEG files straight from a
// card. Each input is split into a JPEG and a sidecar; after the merge the target checks what
// the merge promises: on failure the JPEG and the sidecar are exactly as they were and no
// temporary file is left; on success the sidecar is gone and the JPEG holds its packet in one
// XMP segment. A broken promise aborts, so the fuzzer keeps the input.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "foundation/user_interface.h"
#include "metadata/jpeg_xmp.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxInput = 1 << 18;

class QuietUi : public cw::HeadlessUserInterface {
 public:
  void pane_append(const std::string&) override {}
};

std::string read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

void check(bool promise) {
  if (!promise) std::abort();
}

const fs::path& work_folder() {
  static const fs::path folder = [] {
    fs::path f = fs::temp_directory_path() / ("cw_fuzz_xmp_" + std::to_string(getpid()));
    fs::create_directories(f);
    return f;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > kMaxInput) return 0;
  static QuietUi ui;
  cw::set_log_front_end(&ui);
  // The first two bytes give the sidecar's length (taken from the end of the input).
  const std::string input(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::size_t packet_size = ((data[0] << 8) | data[1]) % (input.size() + 1);
  const std::string jpeg = input.substr(0, input.size() - packet_size);
  const std::string packet = input.substr(input.size() - packet_size);

  const fs::path jpeg_path = work_folder() / "IMG_0001.JPG";
  const fs::path xmp_path = work_folder() / "IMG_0001.xmp";
  write(jpeg_path, jpeg);
  write(xmp_path, packet);

  if (!cw::merge_xmp_into_jpeg(jpeg_path.string())) {
    check(read(jpeg_path) == jpeg);
    check(read(xmp_path) == packet);
  } else {
    check(!fs::exists(xmp_path));
    const std::string merged = read(jpeg_path);
    check(merged.compare(0, 2, "\xFF\xD8") == 0);
    if (!packet.empty()) {
      std::string segment_start(cw::kXmpNamespaceId, cw::kXmpNamespaceIdLength);
      segment_start += '\0';
      const std::size_t at = merged.find(segment_start + packet);
      check(at != std::string::npos);
    }
  }
  check(!fs::exists(work_folder() / "IMG_0001.JPG-cwtmp"));
  fs::remove(jpeg_path);
  fs::remove(xmp_path);
  return 0;
}
