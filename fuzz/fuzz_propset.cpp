// Fuzz target for the property-set parser: the input is a set file. Whatever it holds, reading
// must end cleanly; a set that was read is written back through the store and read again, and
// must come back the same (every name and value in order; the reserved Version and Date lines
// are the writer's own). Inputs with lines longer than the reader's line buffer are only read:
// the reader takes those in pieces, which a written set does not reproduce piece for piece.
// The store's root lies in /dev/shm when there is one, so the writer's flushes cost little.
// Run: fuzz_propset -max_len=8192 CORPUS_DIR
#include <sys/mman.h>
#include <strings.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "util/proper.h"

namespace {

constexpr std::size_t kMaxInput = 8192;

bool same_name(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// The properties a written set keeps, as one comparable text.
std::string contents(const cw::PROPSET& set) {
  std::string out;
  for (const cw::PROP& p : set.props) {
    if (same_name(p.propname, "Version") || same_name(p.propname, "Date")) continue;
    out += p.propname + '\n';
    for (const cw::PROPVAL& v : p.vals)
      out += (v.type == cw::kPropStr ? "s" + v.strval : "i" + std::to_string(v.intval)) + '\n';
  }
  return out;
}

bool has_long_line(const std::string& text) {
  std::size_t from = 0;
  for (;;) {
    std::size_t nl = text.find('\n', from);
    const std::size_t end = nl == std::string::npos ? text.size() : nl + 1;
    if (end - from >= cw::kPropLineMax - 1) return true;
    if (nl == std::string::npos) return false;
    from = nl + 1;
  }
}

const std::string& store_root() {
  static const std::string root = [] {
    std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string dir = base + "/fuzz_propset." + std::to_string(getpid());
    if (!cw::PropInit(dir)) std::abort();
    return dir;
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  store_root();
  // The input as a file the reader opens by its path.
  static const int fd = memfd_create("propset", 0);
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
    std::abort();
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  cw::PROPSET read;
  if (!cw::prop_read(read, path)) return 0;
  if (has_long_line(std::string(reinterpret_cast<const char*>(data), size))) return 0;
  read.category = "fuzz";
  read.setname = "set";
  read.modified = true;
  if (!cw::propset_write(&read)) std::abort();
  cw::PropSetPtr again = cw::propset_get("fuzz", std::string("set"));
  if (!again || contents(*again) != contents(read)) std::abort();
  return 0;
}
