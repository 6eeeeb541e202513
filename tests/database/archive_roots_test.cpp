// Archive roots shared by name: the preference's text, and the ledger's copies and manifests
// recorded by one station and read back by stations that mount the root elsewhere or not at all.
#include "database/archive_roots.h"

#include <filesystem>
#include <map>
#include <utility>

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
  std::optional<ArchiveRoots> roots = ArchiveRoots::parse(text, why);
  EXPECT_TRUE(roots) << why;
  return roots.value_or(ArchiveRoots{});
}

TEST(ArchiveRoots, TextIsCheckedAndPathsGoToTheDeepestMount) {
  std::string why;
  EXPECT_FALSE(ArchiveRoots::parse("studio=/a;studio=/b", why));
  EXPECT_EQ(why, "the root \"studio\" is given twice");
  EXPECT_FALSE(ArchiveRoots::parse("studio=mnt/studio", why));
  EXPECT_EQ(why, "the mount point of \"studio\" is not an absolute path");
  EXPECT_FALSE(ArchiveRoots::parse("/mnt/studio", why));
  EXPECT_FALSE(ArchiveRoots::parse("my studio=/mnt/studio", why));
  EXPECT_TRUE(roots_of(" ; ").empty());

  const ArchiveRoots roots = roots_of("studio=/mnt/studio/; nas = /mnt/studio/nas");
  auto place = [&](const std::string& path) {
    const std::optional<ArchiveRoots::Place> p = roots.place_of(path);
    return p ? p->name + ":" + p->inside : "-";
  };
  EXPECT_EQ(place("/mnt/studio/2026/IMG.JPG"), "studio:2026/IMG.JPG");
  EXPECT_EQ(place("/mnt/studio/nas/IMG.JPG"), "nas:IMG.JPG");
  EXPECT_EQ(place("/mnt/studio"), "studio:");
  EXPECT_EQ(place("/mnt/studio2/IMG.JPG"), "-");
  EXPECT_EQ(roots.path_of("nas", "x/IMG.JPG"), "/mnt/studio/nas/x/IMG.JPG");
  EXPECT_EQ(roots.path_of("studio", ""), "/mnt/studio");
  EXPECT_FALSE(roots.path_of("backup", "IMG.JPG"));

  // A mount point reached through a link is compared as the system resolves it.
  test::TempDir dir;
  std::filesystem::create_directories(dir / "real");
  std::filesystem::create_directory_symlink(dir / "real", dir / "link");
  const ArchiveRoots linked = roots_of("studio=" + (dir / "link"));
  const std::string real = *real_path_of(dir / "real");
  EXPECT_EQ(linked.path_of("studio", "IMG.JPG"), real + "/IMG.JPG");
}

// Station A mounts the root "studio" at one folder, station B at another; a station without it
// sees its copies as unreachable, never as copies of its own.
TEST_P(CatalogueTest, CopiesBelowANamedRootAreFoundAtEachStationsMountPoint) {
  open_db();
  const std::string a = *real_path_of(dir / "a"), b = *real_path_of(dir / "b");
  db.set_archive_roots(roots_of("studio=" + a + ";backup=" + a + "-backup"));
  LedgerEntry e;
  e.hash = *Hash128::from_hex("0000000000000000000000000000abcd");
  e.size = 9;
  e.ingestion_id = 1;
  const std::string inside = "photos/IMG_0001.JPG";
  for (const auto& [tree, root] : {std::pair{CopyTree::kFirst, a + "-backup"},
                                   std::pair{CopyTree::kPrimary, a},
                                   std::pair{CopyTree::kPost, std::string("/elsewhere")}}) {
    LedgerCopy c;
    c.tree = tree;
    c.root = root;
    c.path = root + "/" + inside;  // the same path inside both named roots
    c.size = 9;
    c.hash = e.hash;
    c.state = CopyState::kVerified;
    e.copies.push_back(c);
  }
  ASSERT_TRUE(ledger_store(db, {&e}, true));
  ASSERT_TRUE(manifest_add(db, 1, {a, a + "/Manifests/m.xxh128", ""}));
  EXPECT_EQ(raw_values(path, "select root_name || ':' || root || ':' || path from ledger_copy "
                             "order by tree"),
            "backup::" + inside + "|studio::" + inside + "|:/elsewhere:/elsewhere/" + inside);

  db.set_archive_roots(roots_of("studio=" + b));
  std::optional<LedgerEntry> found = ledger_find(db, e.hash, 9);
  ASSERT_TRUE(found);
  ASSERT_EQ(found->copies.size(), 3u);
  std::map<CopyTree, LedgerCopy> by_tree;
  for (const LedgerCopy& c : found->copies) by_tree[c.tree] = c;
  EXPECT_EQ(by_tree[CopyTree::kPrimary].root, b);
  EXPECT_EQ(by_tree[CopyTree::kPrimary].path, b + "/" + inside);
  EXPECT_EQ(by_tree[CopyTree::kPrimary].unmapped_root, "");
  EXPECT_EQ(by_tree[CopyTree::kFirst].unmapped_root, "backup");
  EXPECT_EQ(by_tree[CopyTree::kFirst].path, inside);
  EXPECT_EQ(by_tree[CopyTree::kPost].path, "/elsewhere/" + inside);
  EXPECT_EQ(ledger_origin_at(db, b + "/" + inside)->ingestion_id, 1);
  const auto manifests = manifests_of(db, 1);
  ASSERT_TRUE(manifests && manifests->size() == 1u);
  EXPECT_EQ((*manifests)[0].path, b + "/Manifests/m.xxh128");
  const auto copies = ledger_copies_of_sizes(db, {9});
  ASSERT_TRUE(copies);
  EXPECT_EQ(copies->size(), 2u);  // the unreachable one is left out

  // Stored again from station B, the unreachable copy keeps its root; a rename at B's mount
  // point moves the copies below it.
  for (LedgerCopy& c : found->copies) c.stored = false;
  ASSERT_TRUE(ledger_store(db, {&*found}, true));
  ASSERT_TRUE(ledger_rename_folder(db, b + "/photos", b + "/2026"));
  EXPECT_EQ(raw_values(path, "select root_name || ':' || path from ledger_copy order by tree"),
            "backup:" + inside + "|studio:2026/IMG_0001.JPG|:/elsewhere/" + inside);

  db.set_archive_roots(ArchiveRoots{});
  found = ledger_find(db, e.hash, 9);
  ASSERT_TRUE(found);
  for (const LedgerCopy& c : found->copies)
    EXPECT_EQ(c.unmapped_root.empty(), c.tree == CopyTree::kPost) << c.path;
  EXPECT_EQ(manifests_of(db, 1)->at(0).unmapped_root, "studio");
  EXPECT_FALSE(ledger_origin_at(db, b + "/2026/IMG_0001.JPG"));
  EXPECT_TRUE(captured_ui().pane.empty()) << captured_ui().pane;
}

}  // namespace
}  // namespace cw
