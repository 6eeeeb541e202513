// MD5 against RFC 1321 vectors of each length class, and fed in pieces that cross block edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "foundation/md5.h"

namespace cw {
namespace {

TEST(Md5, MatchesTheRfcVectorsWholeAndInPieces) {
  std::string eighty_digits;
  for (int i = 0; i < 8; ++i) eighty_digits += "1234567890";
  const std::pair<std::string, std::string> vectors[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      // 62 bytes: the length no longer fits the block, the padding takes a second one.
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {eighty_digits, "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  for (const auto& [text, digest] : vectors) {
    EXPECT_EQ(md5_hex_upper(text), digest) << text;
    // Pieces of 1, 7 and 63 bytes straddle the 64-byte blocks and the padding's edge.
    for (std::size_t piece : {1u, 7u, 63u}) {
      Md5 md5;
      for (std::size_t at = 0; at < text.size(); at += piece)
        md5.update(text.data() + at, std::min(piece, text.size() - at));
      std::string hex;
      for (std::uint8_t b : md5.finish()) {
        hex += "0123456789ABCDEF"[b >> 4];
        hex += "0123456789ABCDEF"[b & 15];
      }
      EXPECT_EQ(hex, digest) << text << " in pieces of " << piece;
    }
  }
}

}  // namespace
}  // namespace cw
