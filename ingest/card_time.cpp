// Card file times that a change of zone may have shifted.
#include "ingest/card_time.h"

#include <limits>

namespace cw {

namespace {

constexpr std::int64_t kWidest = kMaxZoneShift + kLocalTimeRounding;

}  // namespace

bool same_card_time(std::int64_t a, std::int64_t b, bool local_times) {
  if (a == b) return true;
  if (!local_times) return false;
  // Unsigned, so that no pair of times overflows the difference.
  const std::uint64_t d = a > b ? static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b)
                                : static_cast<std::uint64_t>(b) - static_cast<std::uint64_t>(a);
  if (d > static_cast<std::uint64_t>(kWidest)) return false;
  const std::int64_t rest = static_cast<std::int64_t>(d) % kZoneStep;
  return rest <= kLocalTimeRounding || kZoneStep - rest <= kLocalTimeRounding;
}

std::int64_t earliest_card_time(std::int64_t t, bool local_times) {
  if (!local_times) return t;
  return t < std::numeric_limits<std::int64_t>::min() + kWidest
             ? std::numeric_limits<std::int64_t>::min()
             : t - kWidest;
}

std::int64_t latest_card_time(std::int64_t t, bool local_times) {
  if (!local_times) return t;
  return t > std::numeric_limits<std::int64_t>::max() - kWidest
             ? std::numeric_limits<std::int64_t>::max()
             : t + kWidest;
}

}  // namespace cw
