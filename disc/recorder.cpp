// Names of the physical media types; the text of a recorder that cannot be taken.
#include "disc/recorder.h"

#include "foundation/text.h"

namespace cw {

const char* media_type_name(int type) {
  static constexpr const char* kNames[] = {
      nullptr,
      "CD-ROM or CD-R/RW media",
      "CD-R",
      "CD-RW",
      "DVD ROM",
      "DVD-RAM",
      "DVD+R",
      "DVD+RW",
      "DVD+R Dual Layer",
      "DVD-R",
      "DVD-RW",
      "DVD-R Dual Layer",
      "random-access writes",
      "DVD+RW DL",
      "HD DVD-ROM",
      "HD DVD-R",
      "HD DVD-RAM",
      "Blu-ray DVD (BD-ROM)",
      "Blu-ray media",
      "Blu-ray Rewritable media",
  };
  constexpr int count = static_cast<int>(sizeof kNames / sizeof kNames[0]);
  if (type <= 0 || type >= count) return "Unknown Media Type";
  return kNames[type];
}

std::string open_failure_text(const OpenFailure& failure) {
  if (failure.exclusive_owner.empty()) return failure.message;
  return format_limited(1000, "Failed: %s is exclusive owner", failure.exclusive_owner.c_str());
}

}  // namespace cw
