// Fuzz target for the GPX and LOG track readers and everything that reads a loaded store.
//
// The first byte picks the reader (bit 0: LOG instead of GPX) and whether LOG fixes without a
// date get one from the user (bit 1); the rest is the file's text.
// After the load the tracks are sorted, summarised, analysed and looked up at a few times,
// and the points of every track must then be in time order.
// Run: fuzz_gps_tracks -max_len=65536 CORPUS_DIR (seed it with ../shared/corpus/gps).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "gps/gpx.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  cw::GPX store(cw::CameraZone::listed("Paris +1", false));
  std::string message;
  if (data[0] & 2) store.undated_fix_date = "170524";
  if (data[0] & 1)
    store.load_log_text(text, "fuzz.log", message);
  else
    store.load_gpx_text(text, "fuzz.gpx", message);
  store.sort();
  (void)store.summary();
  (void)store.analysis();
  for (const cw::GpsTrack& track : store.tracks) {
    for (std::size_t i = 1; i < track.points.size(); ++i)
      if (track.points[i - 1].time > track.points[i].time) std::abort();
    if (track.points.empty()) continue;
    cw::GpsPosition where;
    for (std::int64_t t : {track.points.front().time, track.points.back().time,
                           track.points.front().time + 1})
      (void)store.position_at(store.zone.to_local(t), 0, where);
  }
  return 0;
}
