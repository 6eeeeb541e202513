// Content hashes of image files: XXH3-128 (libxxhash), made while a file's bytes pass through
// a copy so that no file is read a second time for it. The text form is the one `xxh128sum`
// prints (32 lower-case hexadecimal digits, the canonical big-endian order), so the hashes in
// the ledger and in manifests can be checked with that standard tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace cw {

struct Hash128 {
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  bool operator==(const Hash128&) const = default;
  // 32 hexadecimal digits, as xxh128sum prints them.
  std::string hex() const;
  // The hash of a 32-digit text; nothing for any other text.
  static std::optional<Hash128> from_hex(std::string_view text);
};

// A hash fed piece by piece.
class ContentHasher {
 public:
  ContentHasher();
  ~ContentHasher();
  ContentHasher(const ContentHasher&) = delete;
  ContentHasher& operator=(const ContentHasher&) = delete;
  void reset();
  void update(const void* data, std::size_t n);
  Hash128 digest() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The hash of a whole file read through the system-call table (foundation/sysio.h), with
// `buffer` of `size` bytes; false with errno set when it cannot be opened or read.
bool hash_file(const std::string& path, Hash128& out, char* buffer, std::size_t size);
// Feeds `hasher` with what is left of the open file `fd` (read through the table) with
// `buffer` of `size` bytes; false with errno set when a read fails.
bool hash_fd(int fd, ContentHasher& hasher, char* buffer, std::size_t size);

}  // namespace cw
