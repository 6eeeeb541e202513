// A compact byte form of ledger entries, for a run that keeps the entries of a large card in
// memory. An unpacked entry spends about 900 bytes on string and vector headers, copies of
// the same roots and card texts, and padding; packed, the same entry takes about 200: numbers
// as variable-length integers, each copy's path relative to its root, its hash omitted when it
// is the entry's, and the texts every entry repeats (the roots, the card's label and UUID, the
// camera serial, the folders of the source and of the copies) kept once in a table and named
// by number.
//
// The form is exact: unpacking gives back every field, the run's own flags included, so an
// entry can be packed whenever nobody holds a reference into it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "database/ledger_store.h"

namespace cw {

// The texts that packed entries name by number: each stored once, numbered in order of first
// use.
class PackedTexts {
 public:
  std::uint32_t number_of(std::string_view text);
  const std::string& text(std::uint32_t number) const { return texts_[number]; }
  std::size_t size() const { return texts_.size(); }

 private:
  std::deque<std::string> texts_;  // stable: the index below refers to them
  std::unordered_map<std::string_view, std::uint32_t> numbers_;
};

// The bytes of `entry`, with its repeated texts numbered in `texts`.
std::unique_ptr<std::uint8_t[]> pack_entry(const LedgerEntry& entry, PackedTexts& texts);
// The entry `packed` holds (made by pack_entry with the same `texts`).
LedgerEntry unpack_entry(const std::uint8_t* packed, const PackedTexts& texts);
// The same into `entry`, every field set and the storage of its texts and copies reused: a walk
// that unpacks many entries into one allocates almost nothing.
void unpack_entry_into(const std::uint8_t* packed, const PackedTexts& texts, LedgerEntry& entry);

}  // namespace cw
