// The run ledger's lookups in flat arrays: a card of a hundred thousand files is looked up by
// content and by size and time for every file, and node-based maps would spend about a
// hundred bytes an entry on pointers and allocator overhead where these spend a third of it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "foundation/content_hash.h"

namespace cw {

// Entry indexes by content (hash and size). The keys lie in the order they were added; an
// open-addressing table of key numbers finds them. A key added again keeps its first index.
class ContentIndex {
 public:
  void insert(const Hash128& hash, std::uint64_t size, std::size_t index);
  std::optional<std::size_t> find(const Hash128& hash, std::uint64_t size) const;
  void clear() { *this = ContentIndex{}; }

 private:
  struct Key {
    Hash128 hash;
    std::uint64_t size = 0;
    std::size_t index = 0;
  };
  static constexpr std::uint32_t kEmpty = 0xffffffffu;
  // The table slot of the key, or the empty slot where it would go.
  std::size_t slot_of(const Hash128& hash, std::uint64_t size) const;
  void grow();
  std::vector<Key> keys_;
  std::vector<std::uint32_t> table_;  // key numbers; a power of two long, at most 3/4 full
};

// A set of (size, time) pairs asked for the times recorded of one size. Most pairs lie in one
// sorted array; the newest few wait in a small sorted one that is merged in once it fills, so
// that adding costs about as little as looking up.
class SizeTimes {
 public:
  void insert(std::uint64_t size, std::int64_t time);
  // Adds many at once (a database's answer).
  void insert(const std::vector<std::pair<std::uint64_t, std::int64_t>>& pairs);
  // True when a time of `size` within [earliest, latest] satisfies `accept`.
  template <typename Accept>
  bool any(std::uint64_t size, std::int64_t earliest, std::int64_t latest,
           Accept&& accept) const {
    return any_in(merged_, size, earliest, latest, accept) ||
           any_in(recent_, size, earliest, latest, accept);
  }
  // True when a time of `size` is held at all.
  bool holds_size(std::uint64_t size) const {
    return any(size, INT64_MIN, INT64_MAX, [](std::int64_t) { return true; });
  }
  void clear() { *this = SizeTimes{}; }

 private:
  using Pair = std::pair<std::uint64_t, std::int64_t>;
  static constexpr std::size_t kRecent = 256;
  template <typename Accept>
  static bool any_in(const std::vector<Pair>& v, std::uint64_t size, std::int64_t earliest,
                     std::int64_t latest, Accept& accept);
  void merge();
  std::vector<Pair> merged_, recent_;
};

template <typename Accept>
bool SizeTimes::any_in(const std::vector<Pair>& v, std::uint64_t size, std::int64_t earliest,
                       std::int64_t latest, Accept& accept) {
  for (auto it = std::lower_bound(v.begin(), v.end(), Pair{size, earliest});
       it != v.end() && it->first == size && it->second <= latest; ++it)
    if (accept(it->second)) return true;
  return false;
}

}  // namespace cw
