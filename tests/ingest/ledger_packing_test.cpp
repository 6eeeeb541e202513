// The run's ledger: its packed entries, what it stores and when, and whose entries they are.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "database/database.h"
#include "ingest/ledger_index.h"
#include "ingest/ledger_packing.h"
#include "ingest/run_ledger.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

LedgerCopy copy_of(const LedgerEntry& e, std::string root, std::string path) {
  LedgerCopy c;
  c.root = std::move(root);
  c.path = std::move(path);
  c.size = e.size;
  c.hash = e.hash;
  c.state = CopyState::kVerified;
  return c;
}

LedgerEntry entry(std::uint64_t n) {
  LedgerEntry e;
  e.source = "DCIM/100CARD/IMG_" + std::to_string(n) + ".JPG";
  e.size = 1000 + n;
  e.modified = 1717236000 + static_cast<std::int64_t>(n);
  e.hash = Hash128{n, n * 7};
  e.copies.push_back(copy_of(e, "/archive", "/archive/2024/IMG_" + std::to_string(n) + ".JPG"));
  return e;
}

TEST(LedgerPacking, EveryFieldComesBack) {
  PackedTexts texts;
  LedgerEntry e = entry(1);
  e.key = 1234567890123;
  e.ingestion_id = 42;
  e.card_label = "EOS_DIGITAL";
  e.card_uuid = "1A2B-3C4D";
  e.camera_serial = "0123456789";
  e.modified = -86400;  // before the epoch
  e.captured = "20240601_101500";
  e.hash = Hash128{~0ull, 1};
  e.damage = Damage::kDamagedJpeg;
  e.damage_text = "premature end of data";
  e.damage_stored = false;
  e.copies[0].fingerprint = Fingerprint{64769, 1u << 31, e.size, 1717236000123456789, 5};
  e.copies[0].checked = true;
  e.copies[0].stored = true;
  // Another tree, a path outside its root, a hash of its own, a change under way.
  LedgerCopy other = copy_of(e, "/backup", "/elsewhere/IMG_1.JPG");
  other.tree = CopyTree::kPost;
  other.hash = Hash128{5, 6};
  other.state = CopyState::kChanging;
  other.before_change = CopyState::kConverted;
  other.changed_since_proven = true;
  other.fingerprint = Fingerprint{1, 2, 3, INT64_MIN, INT64_MAX};
  e.copies.push_back(other);
  // No hash yet, and a root that is the whole path.
  LedgerCopy bare = copy_of(e, "/archive", "/archive");
  bare.hash.reset();
  bare.state = CopyState::kBad;
  e.copies.push_back(bare);

  const auto packed = pack_entry(e, texts);
  EXPECT_EQ(unpack_entry(packed.get(), texts), e);
  // The texts every entry repeats are kept once.
  const std::size_t known = texts.size();
  const auto again = pack_entry(e, texts);
  EXPECT_EQ(texts.size(), known);
  EXPECT_EQ(unpack_entry(again.get(), texts), e);
  // Unpacked into an entry that held another, nothing of that one is left.
  const LedgerEntry plain = entry(2);
  LedgerEntry scratch = e;
  unpack_entry_into(pack_entry(plain, texts).get(), texts, scratch);
  EXPECT_EQ(scratch, plain);
}

// The flat lookups answer as ordered maps do, through the table's growth and collisions (many
// keys share the part of the hash the table probes by) and the merges of recent pairs.
TEST(LedgerIndex, AnswersAsOrderedMapsDo) {
  ContentIndex index;
  std::map<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>, std::size_t> by_content;
  for (std::uint64_t n = 0; n < 3000; ++n) {
    const Hash128 hash{n / 3, n % 5};  // n, n+5, ... share the low half
    const std::uint64_t size = n % 7;
    index.insert(hash, size, n);
    by_content.emplace(std::make_tuple(hash.high, hash.low, size), n);  // keeps the first
  }
  for (std::uint64_t high = 0; high < 1010; ++high)
    for (std::uint64_t low = 0; low < 6; ++low)
      for (std::uint64_t size = 0; size < 8; ++size) {
        const auto it = by_content.find({high, low, size});
        const std::optional<std::size_t> want =
            it == by_content.end() ? std::nullopt : std::optional<std::size_t>(it->second);
        ASSERT_EQ(index.find(Hash128{high, low}, size), want) << high << " " << low << " " << size;
      }

  SizeTimes times;
  std::set<std::pair<std::uint64_t, std::int64_t>> known;
  std::vector<std::pair<std::uint64_t, std::int64_t>> bulk;
  for (std::int64_t n = 0; n < 1500; ++n) {
    const std::pair<std::uint64_t, std::int64_t> p{static_cast<std::uint64_t>(n % 37),
                                                   n * 13 % 700};
    known.insert(p);
    if (n % 3 == 0) {
      bulk.push_back(p);
    } else {
      times.insert(p.first, p.second);
    }
    if (n % 500 == 499) times.insert(std::exchange(bulk, {}));
  }
  for (std::uint64_t size = 0; size < 38; ++size)
    for (std::int64_t from = -5; from < 720; from += 9) {
      std::vector<std::int64_t> seen, want;
      times.any(size, from, from + 20, [&](std::int64_t t) {
        seen.push_back(t);
        return false;
      });
      for (auto it = known.lower_bound({size, from});
           it != known.end() && it->first == size && it->second <= from + 20; ++it)
        want.push_back(it->second);
      std::sort(seen.begin(), seen.end());
      ASSERT_EQ(seen, want) << size << " " << from;
    }
}

// A run's ledger over a database of its own.
struct RunLedgerStore : ::testing::Test {
  test::TempDir dir;
  Database db;
  RunLedger ledger;
  void SetUp() override {
    ASSERT_TRUE(db.open(dir / "ledger.sqlite3"));
    ledger.attach(&db);
  }
};

TEST_F(RunLedgerStore, OnlyStoredEntriesArePackedAndLaterChangesAreStored) {
  const std::size_t done = ledger.add(entry(1));
  const std::size_t reading = ledger.add(entry(2));
  ledger.at(done).copies[0].checked = true;
  ledger.at(reading).copies[0].state = CopyState::kPending;
  ASSERT_TRUE(ledger.store(true));
  ledger.release_stored();
  EXPECT_EQ(ledger.unpacked(), 1u);  // the entry still being read back stays as it is

  // Changes made after an unpacking are stored, and only then is the entry packed again.
  ledger.at(done).copies.push_back(copy_of(entry(1), "/backup", "/backup/IMG_1.JPG"));
  ledger.at(reading).copies[0].state = CopyState::kVerified;
  ledger.release_stored();
  EXPECT_EQ(ledger.unpacked(), 2u);
  ASSERT_TRUE(ledger.store(true));
  ledger.release_stored();
  EXPECT_EQ(ledger.unpacked(), 0u);
  EXPECT_EQ(ledger_find(db, Hash128{1, 7}, 1001)->copies.size(), 2u);
  EXPECT_EQ(ledger_find(db, Hash128{2, 14}, 1002)->copies.at(0).state, CopyState::kVerified);
  // Reading a packed entry leaves it packed.
  LedgerEntry scratch;
  EXPECT_EQ(ledger.read(done, scratch).copies.size(), 2u);
  EXPECT_EQ(ledger.unpacked(), 0u);
  EXPECT_EQ(ledger.at(done).copies.size(), 2u);
}

// A copy proven before the disk was flushed waits for a durable store (what the catalogue then
// holds is its own test's): the count of such entries, with those asked for since, is what
// makes a long phase flush. An entry an earlier run stored is looked at once.
TEST_F(RunLedgerStore, ProofsWaitForTheFlushAndEarlierEntriesAreLookedAtOnce) {
  constexpr std::uint64_t kEntries = 3;
  for (std::uint64_t n = 1; n <= kEntries; ++n) {
    const std::size_t index = ledger.add(entry(n));
    EXPECT_TRUE(ledger.created_here(index));
    EXPECT_FALSE(ledger.first_look(index));
  }
  EXPECT_EQ(ledger.asked_since_store(), kEntries);
  ASSERT_TRUE(ledger.store(false));
  EXPECT_EQ(ledger.waiting_for_flush(), kEntries);
  ASSERT_TRUE(ledger.store(false));
  ledger.release_stored();
  EXPECT_EQ(ledger.waiting_for_flush(), kEntries);
  EXPECT_EQ(ledger.asked_since_store(), kEntries);
  ASSERT_TRUE(ledger.store(true));
  ledger.release_stored();
  EXPECT_EQ(ledger.waiting_for_flush(), 0u);
  EXPECT_EQ(ledger.asked_since_store(), 0u);

  RunLedger next;
  next.attach(&db);
  const std::optional<std::size_t> found = next.find(Hash128{2, 14}, 1002);
  ASSERT_TRUE(found);
  EXPECT_FALSE(next.created_here(*found));
  EXPECT_TRUE(next.first_look(*found));
  EXPECT_FALSE(next.first_look(*found));
  EXPECT_FALSE(next.find(Hash128{9, 63}, 1009));
}

// A run that learned its card's sizes finds the entries of earlier runs a stretch of sizes at a
// time: every one of a card longer than two stretches, in the card's order and one taken only
// after the run has passed it, each with its copies; a recorded size brings nothing for a
// content never taken.
TEST_F(RunLedgerStore, EntriesOfACardsSizesAreFoundAStretchAtATime) {
  const std::uint64_t count = 2 * RunLedger::kFindAhead + 10;
  std::vector<std::uint64_t> sizes;
  for (std::uint64_t n = 1; n <= count; ++n) {
    ledger.add(entry(n));
    sizes.push_back(1000 + n);
  }
  ASSERT_TRUE(ledger.store(true));

  RunLedger next;
  next.attach(&db);
  next.learn_sizes(sizes);
  std::vector<std::uint64_t> order;
  for (std::uint64_t n = 1; n <= count; ++n)
    if (n != 7) order.push_back(n);
  order.push_back(7);
  for (std::uint64_t n : order) {
    const std::optional<std::size_t> found = next.find(Hash128{n, n * 7}, 1000 + n);
    ASSERT_TRUE(found) << n;
    EXPECT_FALSE(next.created_here(*found));
    EXPECT_EQ(next.at(*found).source, entry(n).source);
    EXPECT_EQ(next.at(*found).copies.size(), 1u);
  }
  EXPECT_FALSE(next.find(Hash128{99, 1}, 1003));
}

}  // namespace
}  // namespace cw
