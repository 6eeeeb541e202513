// Ledger copies and manifests below archive roots shared between stations by name.
#include <algorithm>

#include "database/ledger_store.h"
#include "foundation/path_guard.h"
#include "tests/database/db_fixture.h"

namespace cw {
namespace {

using test::captured_ui;
using test::CatalogueTest;
using test::raw_values;

ArchiveRoots roots_of(const std::string& text) {
  std::string why;
  return ArchiveRoots::parse(text, why).value_or(ArchiveRoots{});
}

// Station A mounts the root "studio" at one folder (and "backup" inside it: the deeper mount
// holds its copies), station B mounts "studio" elsewhere and not "backup": B reads A's copies
// below its own mount point, and those it cannot reach as unreachable, never as its own.
TEST_P(CatalogueTest, CopiesBelowANamedRootAreFoundAtEachStationsMountPoint) {
  open_db();
  const std::string a = *real_path_of(dir / "a"), b = *real_path_of(dir / "b");
  db.set_archive_roots(roots_of("studio=" + a + "; backup=" + a + "/backup"));
  LedgerEntry e;
  e.hash = *Hash128::from_hex("0000000000000000000000000000abcd");
  e.size = 9;
  e.ingestion_id = 1;
  const std::string inside = "photos/IMG_0001.JPG";  // the same path inside both roots
  for (const std::string& root : {a + "/backup", a, std::string("/elsewhere")}) {
    LedgerCopy c;
    c.tree = static_cast<CopyTree>(e.copies.size());
    c.root = root;
    c.path = root + "/" + inside;
    c.size = 9;
    c.hash = e.hash;
    c.state = CopyState::kVerified;
    e.copies.push_back(c);
  }
  ASSERT_TRUE(ledger_store(db, {&e}, true));
  ASSERT_TRUE(manifest_add(db, 1, {a, a + "/Manifests/m.xxh128", ""}));
  const std::string stored = "select root_name || ':' || root || ':' || path from ledger_copy "
                             "order by tree";
  EXPECT_EQ(raw_values(path, stored), "backup::" + inside + "|studio::" + inside +
                                          "|:/elsewhere:/elsewhere/" + inside);

  db.set_archive_roots(roots_of("studio=" + b));
  std::optional<LedgerEntry> found = ledger_find(db, e.hash, 9);
  ASSERT_TRUE(found && found->copies.size() == 3u);
  std::sort(found->copies.begin(), found->copies.end(),
            [](const LedgerCopy& x, const LedgerCopy& y) { return x.tree < y.tree; });
  EXPECT_EQ(found->copies[0].unmapped_root + ":" + found->copies[0].path, "backup:" + inside);
  EXPECT_EQ(found->copies[1].root + "|" + found->copies[1].path, b + "|" + b + "/" + inside);
  EXPECT_EQ(found->copies[2].path, "/elsewhere/" + inside);
  EXPECT_EQ(ledger_origin_at(db, b + "/" + inside)->ingestion_id, 1);
  EXPECT_EQ(manifests_of(db, 1)->at(0).path, b + "/Manifests/m.xxh128");
  EXPECT_EQ(ledger_copies_of_sizes(db, {9})->size(), 2u);  // the unreachable one left out

  // Stored again at B, the unreachable copy keeps its root; a rename at B's mount point
  // moves the copies below it.
  for (LedgerCopy& c : found->copies) c.stored = false;
  ASSERT_TRUE(ledger_store(db, {&*found}, true));
  ASSERT_TRUE(ledger_rename_folder(db, b + "/photos", b + "/2026"));
  EXPECT_EQ(raw_values(path, stored), "backup::" + inside + "|studio::2026/IMG_0001.JPG" +
                                          "|:/elsewhere:/elsewhere/" + inside);

  db.set_archive_roots(ArchiveRoots{});
  EXPECT_EQ(manifests_of(db, 1)->at(0).unmapped_root, "studio");
  EXPECT_FALSE(ledger_origin_at(db, b + "/2026/IMG_0001.JPG"));
  EXPECT_TRUE(captured_ui().pane.empty()) << captured_ui().pane;
}

}  // namespace
}  // namespace cw
