// The end of a run examines each copy once: the completeness check's look is what the verdict
// and the manifests take, and only a copy the ledger gave up on since is looked at again.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ingest/settled_copies.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

using test::Harness;
using test::write_file;

TEST(SettledCopies, TheFirstLookIsKeptUntilTheLedgerGivesTheCopyUp) {
  Harness h;
  write_file(h.card + "/IMG_0001.JPG", std::string(4000, 'k'));
  ASSERT_TRUE(h.run()) << h.ctx->error;
  RunState& state = h.ctx->state();
  ASSERT_EQ(state.images.size(), 1u);
  const ImageRecord& r = state.images[0];
  SettledCopy seen = state.settled_copies.look(h.ctx->options(), state, r, CopyTree::kFirst);
  ASSERT_TRUE(seen.copy);
  EXPECT_TRUE(seen.sidecar && seen.companions);

  // The file is not examined again: the run's own look stands.
  std::filesystem::remove(h.archive + "/IMG_0001.JPG");
  seen = state.settled_copies.look(h.ctx->options(), state, r, CopyTree::kFirst);
  EXPECT_TRUE(seen.copy);

  // A copy recorded as bad since is looked for anew, and is found gone.
  state.ledger.at(static_cast<std::size_t>(r.ledger)).copies[*seen.copy].state = CopyState::kBad;
  EXPECT_FALSE(state.settled_copies.look(h.ctx->options(), state, r, CopyTree::kFirst).copy);
}

}  // namespace
}  // namespace cw
