// Fuzz target for the zone-file reader and the POSIX rules it carries.
//
// The first byte picks what the rest is: bit 0 a POSIX rule alone instead of a zone file.
// Whatever loads is asked for the clocks' reading and for local times across a wide range of
// instants, and every local time must come back to a UTC instant near it (offsets differ by
// at most two days).
// Run: fuzz_zone_file -max_len=8192 CORPUS_DIR (seed it with files of /usr/share/zoneinfo).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/zone_db.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string error;
  std::optional<cw::ZoneRules> zone = (data[0] & 1)
                                           ? cw::ZoneRules::from_posix(bytes, error)
                                           : cw::ZoneRules::from_tzif(bytes, "fuzz", error);
  if (!zone) return 0;
  constexpr std::int64_t kDay = 86400;
  for (std::int64_t t = -4000000000; t < 8000000000; t += 37 * kDay + 3601) {
    const cw::LocalTimeType at = zone->at_utc(t);
    const std::int64_t back = zone->to_utc(t + at.utc_offset);
    if (back < t - 3 * kDay || back > t + 3 * kDay) std::abort();
  }
  return 0;
}
