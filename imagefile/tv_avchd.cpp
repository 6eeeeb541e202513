// AVCHD transport streams (.MTS, .M2TS): 192-byte packets, each a 4-byte arrival time and a
// 188-byte transport packet. The recording date is in the H.264 video's supplemental
// enhancement information: a user-data message with the MDPM identifier whose tagged 4-byte
// entries give the date (0x18: zone, year, month) and the time (0x19: day, hour, minute,
// second) in BCD. Cameras write it with the first frames, so only the start of the stream is
// read.
#include <cstring>
#include <string>

#include "imagefile/movie_facts.h"
#include "imagefile/tv_reader.h"

namespace cw {

namespace {

constexpr std::size_t kStreamPacket = 192;
constexpr std::size_t kPacketHeader = 4;
constexpr std::size_t kTsPacket = 188;
constexpr std::uint8_t kSyncByte = 0x47;
// Packets read at most (about 3.8 MB: the first group of pictures and more).
constexpr std::uint64_t kMaxStreamPackets = 20000;
// Video bytes of one PES gathered at most before its NAL units are searched.
constexpr std::size_t kMaxPesBytes = 1u << 20;
constexpr std::uint8_t kNalSei = 6;
constexpr unsigned kSeiUserDataUnregistered = 5;
constexpr std::uint8_t kTagDate = 0x18;
constexpr std::uint8_t kTagTime = 0x19;
constexpr std::uint8_t kMdpmUuid[16] = {0x17, 0xee, 0x8c, 0x60, 0xf8, 0x4d, 0x11, 0xd9,
                                        0x8c, 0xd6, 0x08, 0x00, 0x20, 0x0c, 0x9a, 0x66};

bool bcd(std::uint8_t b, int& value) {
  if ((b >> 4) > 9 || (b & 0x0f) > 9) return false;
  value = (b >> 4) * 10 + (b & 0x0f);
  return true;
}

// The MDPM entries of one user-data payload (after its identifier) into the date and zone.
bool read_mdpm(const std::string& p, std::string& date, std::string& offset) {
  if (p.size() < 5 || p.compare(0, 4, "MDPM") != 0) return false;
  const std::size_t count = static_cast<std::uint8_t>(p[4]);
  const std::uint8_t* d = nullptr;
  const std::uint8_t* t = nullptr;
  for (std::size_t i = 0; i < count && 5 + 5 * i + 5 <= p.size(); ++i) {
    const auto* e = reinterpret_cast<const std::uint8_t*>(p.data() + 5 + 5 * i);
    if (e[0] == kTagDate) d = e + 1;
    if (e[0] == kTagTime) t = e + 1;
  }
  if (!d || !t) return false;
  int yh, yl, mo, dd, h, mi, s;
  if (!bcd(d[1], yh) || !bcd(d[2], yl) || !bcd(d[3], mo) || !bcd(t[0], dd) || !bcd(t[1], h) ||
      !bcd(t[2], mi) || !bcd(t[3], s))
    return false;
  if (mo < 1 || mo > 12 || dd < 1 || dd > 31 || h > 23 || mi > 59 || s > 60) return false;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d%02d:%02d:%02d %02d:%02d:%02d", yh, yl, mo, dd, h, mi, s);
  date = buf;
  // The zone byte: 0x20 the sign (set: west of UTC), bits 1-4 the hours, bit 0 half an hour,
  // 0x40 summer time, which puts the clock an hour ahead of the zone.
  const std::uint8_t z = d[0];
  int minutes = ((z >> 1) & 0x0f) * 60 + ((z & 0x01) ? 30 : 0);
  if (z & 0x20) minutes = -minutes;
  if (z & 0x40) minutes += 60;
  const int magnitude = minutes < 0 ? -minutes : minutes;
  std::snprintf(buf, sizeof buf, "%c%02d:%02d", minutes < 0 ? '-' : '+', magnitude / 60,
                magnitude % 60);
  offset = buf;
  return true;
}

// Searches the SEI NAL units of an H.264 elementary-stream piece for the MDPM message.
bool find_mdpm(const std::string& es, std::string& date, std::string& offset) {
  std::size_t p = 0;
  while ((p = es.find(std::string("\0\0\1", 3), p)) != std::string::npos) {
    p += 3;
    if (p >= es.size() || (es[p] & 0x1f) != kNalSei) continue;
    // The NAL unit runs to the next start code; emulation-prevention bytes are dropped.
    std::size_t end = es.find(std::string("\0\0\1", 3), p);
    if (end == std::string::npos) end = es.size();
    std::string rbsp;
    for (std::size_t i = p + 1; i < end; ++i) {
      if (es[i] == 3 && rbsp.size() >= 2 && rbsp[rbsp.size() - 1] == 0 &&
          rbsp[rbsp.size() - 2] == 0)
        continue;
      rbsp += es[i];
    }
    std::size_t q = 0;
    while (q + 2 <= rbsp.size()) {
      unsigned type = 0, size = 0;
      while (q < rbsp.size() && static_cast<std::uint8_t>(rbsp[q]) == 0xff) type += 255, ++q;
      if (q >= rbsp.size()) break;
      type += static_cast<std::uint8_t>(rbsp[q++]);
      while (q < rbsp.size() && static_cast<std::uint8_t>(rbsp[q]) == 0xff) size += 255, ++q;
      if (q >= rbsp.size()) break;
      size += static_cast<std::uint8_t>(rbsp[q++]);
      if (size > rbsp.size() - q) break;
      if (type == kSeiUserDataUnregistered && size >= 16 &&
          std::memcmp(rbsp.data() + q, kMdpmUuid, 16) == 0 &&
          read_mdpm(rbsp.substr(q + 16, size - 16), date, offset))
        return true;
      q += size;
    }
    p = end;
  }
  return false;
}

}  // namespace

bool TV_Reader::read_avchd(bool, bool macros) {
  print("AVCHD transport stream\n");
  ByteSource& src = *source_;
  const std::uint64_t packets = src.size() / kStreamPacket;
  int video_pid = -1;
  std::string pes;
  MovieFacts facts;
  std::string date, offset;
  bool found = false;
  std::uint8_t buf[kStreamPacket];
  for (std::uint64_t i = 0; i < packets && i < kMaxStreamPackets && !found; ++i) {
    if (!src.seek(i * kStreamPacket) || src.read(buf, sizeof buf) != sizeof buf)
      return fail("read error - stream may be short");
    const std::uint8_t* ts = buf + kPacketHeader;
    if (ts[0] != kSyncByte) return fail("transport packet without its sync byte");
    const int pid = (ts[1] & 0x1f) << 8 | ts[2];
    const bool unit_start = (ts[1] & 0x40) != 0;
    const unsigned adaptation = (ts[3] >> 4) & 3;
    std::size_t at = 4;
    if (adaptation & 2) at += 1u + ts[4];
    if (!(adaptation & 1) || at >= kTsPacket) continue;
    const std::uint8_t* payload = ts + at;
    const std::size_t length = kTsPacket - at;
    // The first PES of a video stream (stream ids 0xE0-0xEF) names the video's packet id.
    const bool video_pes = unit_start && length >= 9 && payload[0] == 0 && payload[1] == 0 &&
                           payload[2] == 1 && (payload[3] & 0xf0) == 0xe0;
    if (video_pid < 0 && video_pes) {
      video_pid = pid;
      print("\tVideo stream: packet id 0x%04x\n", static_cast<unsigned>(pid));
    }
    if (pid != video_pid) continue;
    if (unit_start) {
      // A new PES: the one before it is complete.
      found = find_mdpm(pes, date, offset);
      pes.clear();
      if (found || !video_pes) continue;
      const std::size_t header = 9u + payload[8];
      if (header < length)
        pes.append(reinterpret_cast<const char*>(payload + header), length - header);
    } else if (pes.size() < kMaxPesBytes) {
      pes.append(reinterpret_cast<const char*>(payload), length);
    }
  }
  if (!found) found = find_mdpm(pes, date, offset);
  if (video_pid < 0) return fail("no video stream in the first packets of the stream");
  if (!found) {
    print("\tNo recording date in the first packets\n");
    return true;
  }
  facts.offer_date(date, offset, "MDPM");
  record_movie_facts(facts, macros);
  return true;
}

}  // namespace cw
