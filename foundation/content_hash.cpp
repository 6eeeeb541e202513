// XXH3-128 over files and buffers.
#include "foundation/content_hash.h"

#include <fcntl.h>

#include <cstdio>

#include <xxhash.h>
// On x86-64 the library picks the widest vector unit of the processor it runs on (AVX2,
// AVX-512) for the hash when asked through its dispatching entry points; the plain ones are
// built for the oldest x86-64 and hash at about half that speed. The hash is the same.
#if defined(__x86_64__) && __has_include(<xxh_x86dispatch.h>)
#include <xxh_x86dispatch.h>
#endif

#include "foundation/sysio.h"

namespace cw {

struct ContentHasher::State {
  XXH3_state_t* xxh = XXH3_createState();
  State() = default;
  ~State() { XXH3_freeState(xxh); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
};

std::string Hash128::hex() const {
  char text[33];
  std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(high),
                static_cast<unsigned long long>(low));
  return text;
}

std::optional<Hash128> Hash128::from_hex(std::string_view text) {
  if (text.size() != 32) return std::nullopt;
  Hash128 h;
  for (std::size_t i = 0; i < 32; ++i) {
    const char c = text[i];
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else
      return std::nullopt;
    std::uint64_t& half = i < 16 ? h.high : h.low;
    half = half << 4 | static_cast<std::uint64_t>(v);
  }
  return h;
}

ContentHasher::ContentHasher() : state_(new State) { reset(); }
ContentHasher::~ContentHasher() = default;

void ContentHasher::reset() { XXH3_128bits_reset(state_->xxh); }

void ContentHasher::update(const void* data, std::size_t n) {
  XXH3_128bits_update(state_->xxh, data, n);
}

Hash128 ContentHasher::digest() const {
  const XXH128_hash_t h = XXH3_128bits_digest(state_->xxh);
  return Hash128{h.high64, h.low64};
}

bool hash_file(const std::string& path, Hash128& out, char* buffer, std::size_t size) {
  UniqueFd fd(sysio().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0));
  if (!fd.valid()) return false;
  ContentHasher hasher;
  if (!hash_fd(fd.get(), hasher, buffer, size)) return false;
  out = hasher.digest();
  return true;
}

bool hash_fd(int fd, ContentHasher& hasher, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = read_some(fd, buffer, size);
    if (n < 0) return false;
    if (n == 0) return true;
    hasher.update(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace cw
