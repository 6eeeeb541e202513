// A small image is read once: its copy and its read-back's hash come from that one read, even
// when the card's file changes under it. The end of a run examines each copy once.
#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/sysio.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::Harness;

std::string g_card_file, g_changed;  // the card's file, and what it holds once bytes are taken

ssize_t changed_after(int fd, ssize_t got) {
  if (got > 0 && !g_changed.empty() && test::fd_path(fd) == g_card_file) {
    test::write_file(g_card_file, g_changed);
    g_changed.clear();
  }
  return got;
}

TEST(OneReadOfTheSource, CopyAndProofAreOfTheBytesRead) {
  const std::string original(50000, 'a');
  for (const bool grows : {false, true}) {
    Harness h;
    g_card_file = fsys::weakly_canonical(h.card + "/IMG_0001.JPG");
    test::write_file(g_card_file, original);
    g_changed = grows ? original + "more" : std::string(original.size(), 'b');
    Sysio table = system_sysio();
    // Changed once the kernel moved the bytes (no small image goes that way), or once read.
    if (!grows && table.copy_range)
      table.copy_range = [](int in, int out, std::size_t n) {
        return changed_after(in, system_sysio().copy_range(in, out, n));
      };
    if (grows)
      table.read = [](int fd, void* buf, std::size_t n) {
        return changed_after(fd, system_sysio().read(fd, buf, n));
      };
    ScopedSysio faults(table);
    const std::string copy = h.archive + "/IMG_0001.JPG";
    if (!grows) {
      ASSERT_TRUE(h.run()) << h.ctx->error;
      EXPECT_EQ(test::read_file(copy), original);
      EXPECT_EQ(h.ctx->counts.files_verified, 1);
      continue;
    }
    EXPECT_FALSE(h.run());
    EXPECT_EQ(h.ctx->error, "initial copy size error: \"" + h.card + "/IMG_0001.JPG\"");
    EXPECT_FALSE(fsys::exists(copy));
  }
  g_changed.clear();
}

TEST(SettledCopies, TheFirstLookStandsUntilTheLedgerGivesTheCopyUp) {
  Harness h;
  test::write_file(h.card + "/IMG_0001.JPG", "k");
  ASSERT_TRUE(h.run()) << h.ctx->error;  // its completeness check looked already
  RunState& state = h.ctx->state();
  const ImageRecord& r = state.images.at(0);
  fsys::remove(h.archive + "/IMG_0001.JPG");
  LedgerEntry& e = state.ledger.at(static_cast<std::size_t>(r.ledger));
  const SettledCopy seen =
      state.settled_copies.look(h.ctx->options(), state, r, e, CopyTree::kFirst);
  ASSERT_TRUE(seen.copy && seen.sidecar && seen.companions);
  e.copies[*seen.copy].state = CopyState::kBad;
  EXPECT_FALSE(state.settled_copies.look(h.ctx->options(), state, r, e, CopyTree::kFirst).copy);
}

}  // namespace
}  // namespace cw
