// Bounded printf-style formatting into std::string.
#include "foundation/text.h"

#include <cstdio>
#include <vector>

namespace cw {

std::string vformat_limited(std::size_t limit, const char* fmt, va_list ap) {
  if (limit == 0) return {};
  std::vector<char> buf(limit);
  int n = std::vsnprintf(buf.data(), limit, fmt, ap);
  if (n < 0) return {};
  std::size_t len = static_cast<std::size_t>(n) < limit ? static_cast<std::size_t>(n) : limit - 1;
  return std::string(buf.data(), len);
}

std::string format_limited(std::size_t limit, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = vformat_limited(limit, fmt, ap);
  va_end(ap);
  return s;
}

void text_append_printf(std::string& text, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  text += vformat_limited(1000, fmt, ap);
  va_end(ap);
}

}  // namespace cw
