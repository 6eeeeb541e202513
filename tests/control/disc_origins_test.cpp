// What the ledger tells a disc plan of its files' origins, found through links as the copies
// were recorded at their real paths.
#include "control/disc_origins.h"

#include <unistd.h>

#include <fstream>

#include "database/ledger_store.h"
#include "disc/burner.h"
#include "foundation/path_guard.h"
#include "tests/database/db_fixture.h"

namespace cw {
namespace {

using test::DatabaseTest;

TEST_F(DatabaseTest, DiscFilesFindTheirOriginsThroughLinkedFoldersAndLinkedFiles) {
  open_db();
  // The archive is planned through a link to it; one file in it is a link to a copy kept in
  // another folder, one was never ingested, one vanished after planning.
  namespace fs = std::filesystem;
  const fs::path archive = dir.path() / "archive", day = archive / "Day 1",
                 other = dir.path() / "other";
  fs::create_directories(day);
  fs::create_directories(other);
  for (const fs::path& p : {day / "a'1.jpg", other / "b.jpg", day / "c.jpg"})
    std::ofstream(p) << p.filename().string();
  fs::create_symlink(other / "b.jpg", day / "b.jpg");
  fs::create_symlink(archive, dir.path() / "linked");
  const std::string real_archive = *real_path_of(archive.string());

  auto entry = [](const char* card, const std::string& copy_path) {
    LedgerEntry e;
    e.hash.low = static_cast<std::uint64_t>(card[0]);
    e.size = 1;
    e.card_label = card;
    LedgerCopy c;
    c.path = copy_path;
    c.size = 1;
    c.hash = e.hash;
    c.state = CopyState::kVerified;
    e.copies.push_back(c);
    return e;
  };
  LedgerEntry a = entry("A", real_archive + "/Day 1/a'1.jpg");
  LedgerEntry b = entry("B", *real_path_of(other.string()) + "/b.jpg");
  ASSERT_TRUE(ledger_store(db, {&a, &b}, true));

  DiscSet set;
  set.root = dir / "linked";
  set.discs.resize(1);
  set.discs[0].folders.push_back(DiscFolder{"Day 1", {"a'1.jpg", "b.jpg", "c.jpg", "gone.jpg"}, 4});
  add_ledger_origins(db, set);
  ASSERT_EQ(set.origins.size(), 2u);
  EXPECT_EQ(set.origins.at(set.root + "/Day 1/a'1.jpg").card_label, "A");
  EXPECT_EQ(set.origins.at(set.root + "/Day 1/b.jpg").hash, b.hash);
}

}  // namespace
}  // namespace cw
