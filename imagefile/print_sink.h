// Where the reader's structural dump goes: by default nowhere (reading for names and dates
// formats nothing), for the examination report into a text; the command line prints its own.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace cw {

using PrintSink = std::function<void(std::string_view text)>;

// Each printed piece is formatted into at most this many bytes (longer pieces are cut).
inline constexpr std::size_t kPrintPieceLimit = 10000;

// A sink that appends every piece to `out` (which must outlive the sink's use).
PrintSink string_sink(std::string& out);

}  // namespace cw
