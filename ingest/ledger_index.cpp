// Flat lookup tables of the run ledger.
#include "ingest/ledger_index.h"

#include <algorithm>
#include <iterator>

namespace cw {

namespace {

std::size_t mix(const Hash128& hash, std::uint64_t size) {
  // The hash is already uniform; the size only tells apart equal hashes of different lengths.
  return static_cast<std::size_t>(hash.low ^ (size * 0x9e3779b97f4a7c15ull));
}

}  // namespace

std::size_t ContentIndex::slot_of(const Hash128& hash, std::uint64_t size) const {
  const std::size_t mask = table_.size() - 1;
  for (std::size_t i = mix(hash, size) & mask;; i = (i + 1) & mask) {
    const std::uint32_t k = table_[i];
    if (k == kEmpty || (keys_[k].hash == hash && keys_[k].size == size)) return i;
  }
}

void ContentIndex::grow() {
  std::vector<std::uint32_t> old(std::max<std::size_t>(64, table_.size() * 2), kEmpty);
  old.swap(table_);
  const std::size_t mask = table_.size() - 1;
  for (std::uint32_t k = 0; k < keys_.size(); ++k) {
    std::size_t i = mix(keys_[k].hash, keys_[k].size) & mask;
    while (table_[i] != kEmpty) i = (i + 1) & mask;
    table_[i] = k;
  }
}

void ContentIndex::insert(const Hash128& hash, std::uint64_t size, std::size_t index) {
  if ((keys_.size() + 1) * 4 > table_.size() * 3) grow();
  const std::size_t i = slot_of(hash, size);
  if (table_[i] != kEmpty) return;
  table_[i] = static_cast<std::uint32_t>(keys_.size());
  keys_.push_back(Key{hash, size, index});
}

std::optional<std::size_t> ContentIndex::find(const Hash128& hash, std::uint64_t size) const {
  if (table_.empty()) return std::nullopt;
  const std::uint32_t k = table_[slot_of(hash, size)];
  if (k == kEmpty) return std::nullopt;
  return keys_[k].index;
}

void SizeTimes::insert(std::uint64_t size, std::int64_t time) {
  const Pair p{size, time};
  const auto at = std::lower_bound(recent_.begin(), recent_.end(), p);
  if (at != recent_.end() && *at == p) return;
  if (std::binary_search(merged_.begin(), merged_.end(), p)) return;
  recent_.insert(at, p);
  if (recent_.size() >= kRecent) merge();
}

void SizeTimes::insert(const std::vector<Pair>& pairs) {
  recent_.insert(recent_.end(), pairs.begin(), pairs.end());
  std::sort(recent_.begin(), recent_.end());
  merge();
}

void SizeTimes::merge() {
  if (recent_.empty()) return;
  // Only the held pairs from the first new one on take part: files of one size come in the
  // order of their times, so where a card's files share sizes that stretch is short and a
  // merge costs what was added rather than everything held.
  const auto from = std::lower_bound(merged_.begin(), merged_.end(), recent_.front()) -
                    merged_.begin();
  const std::size_t middle = merged_.size();
  merged_.insert(merged_.end(), recent_.begin(), recent_.end());
  recent_.clear();
  std::inplace_merge(merged_.begin() + from, merged_.begin() + static_cast<std::ptrdiff_t>(middle),
                     merged_.end());
  merged_.erase(std::unique(merged_.begin() + from, merged_.end()), merged_.end());
}

}  // namespace cw
