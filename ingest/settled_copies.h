// The end of a run looks at each taken image's copies three times over: whether every tree got
// its copy (with its sidecar and companions), the safe-to-format verdict, and the manifests.
// The three follow one another once the copies are done and nothing changes them any more, so
// the first look at an image's copy in a tree is kept and the later ones take it: each copy
// and its sidecar are examined on the disk once instead of once per step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "database/ledger_store.h"

namespace cw {

struct ImageRecord;
struct RunOptions;
struct RunState;

// An image's copy in one tree as the end of the run found it.
struct SettledCopy {
  std::optional<std::size_t> copy;  // its index in the image's ledger entry; none: no copy there
  bool sidecar = false;             // its sidecar is in place (sidecar_in_place)
  bool companions = false;          // its clip companions are (companions_in_place)
};

class SettledCopies {
 public:
  // The copy of `r` in `tree`: looked at on the first call for that image and tree, the same
  // answer afterwards. `entry` is r's ledger entry as the ledger holds it now (the caller has
  // read it already). Only for the steps after the copies are done.
  SettledCopy look(const RunOptions& options, RunState& state, const ImageRecord& r,
                   const LedgerEntry& entry, CopyTree tree);

 private:
  // Per image and tree: 0 not looked at yet; else bit 0 set, bit 1 the sidecar, bit 2 the
  // companions, and the copy's index + 1 above them (0: no copy).
  std::vector<std::uint32_t> looks_;
};

}  // namespace cw
