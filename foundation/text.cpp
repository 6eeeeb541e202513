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

namespace {

// Length of the valid UTF-8 sequence at the start of `s` (overlong forms, surrogates and code
// points above U+10FFFF refused), 0 when it is not one; `code` receives its code point.
std::size_t utf8_sequence(std::string_view s, char32_t& code) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  std::size_t len;
  char32_t min;
  if (b0 < 0x80) {
    code = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, min = 0x80, code = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, min = 0x800, code = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, min = 0x10000, code = b0 & 0x07;
  } else {
    return 0;
  }
  if (s.size() < len) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    code = (code << 6) | (b & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return len;
}

bool kept_control(unsigned char c) { return c == '\n' || c == '\t' || c == '\r'; }

}  // namespace

std::string printable_text(std::string_view text) {
  // Most texts need nothing: find the first byte that might, and copy only from there.
  std::size_t clean = 0;
  while (clean < text.size()) {
    const auto c = static_cast<unsigned char>(text[clean]);
    if ((c < 0x20 && !kept_control(c)) || c >= 0x7F) break;
    ++clean;
  }
  if (clean == text.size()) return std::string(text);
  std::string out(text.substr(0, clean));
  out.reserve(text.size() + 16);
  char esc[16];
  for (std::size_t i = clean; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if ((c < 0x20 && !kept_control(c)) || c == 0x7F) {
        std::snprintf(esc, sizeof esc, "\\x%02x", c);
        out += esc;
      } else {
        out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    char32_t code = 0;
    const std::size_t len = utf8_sequence(text.substr(i), code);
    if (len == 0) {
      std::snprintf(esc, sizeof esc, "\\x%02x", c);
      out += esc;
      ++i;
    } else if (code < 0xA0) {  // C1 controls, which some terminals obey like ESC sequences
      std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(code));
      out += esc;
      i += len;
    } else {
      out.append(text, i, len);
      i += len;
    }
  }
  return out;
}

void text_append_printf(std::string& text, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  text += vformat_limited(1000, fmt, ap);
  va_end(ap);
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace cw
