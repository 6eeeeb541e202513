// printf-style formatting into std::string, with the fixed size limits the system uses
// (most messages are formatted into at most 1000 bytes, status lines into 500).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace cw {

// Formats at most limit-1 bytes (like vsnprintf into a buffer of `limit` bytes).
std::string vformat_limited(std::size_t limit, const char* fmt, va_list ap);
std::string format_limited(std::size_t limit, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

// Appends formatted text, at most 999 bytes of it.
void text_append_printf(std::string& text, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

// A message about one file or tree: the message, then the path it is about in quotes.
inline std::string text_with_path(std::string_view message, std::string_view path) {
  std::string out(message);
  out += ": \"";
  out += path;
  out += '"';
  return out;
}

// `text` with a–z turned into A–Z; other bytes (UTF-8 included) stay as they are.
inline std::string ascii_upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// Appends the UTF-8 encoding of the code point `c` (at most U+10FFFF).
void append_utf8(std::string& out, char32_t c);

// `text` as it may be shown on a terminal or written to the log. Valid UTF-8 stays as it is, and
// so do newlines, tabs and carriage returns (the texts' own line breaks). Every other control
// character (C0, DEL, and C1 written as UTF-8) and every byte that is not part of valid UTF-8
// becomes a visible escape ("\x1b", "\u009b"): a file name, a tag value or a volume label read
// from a card then cannot move the cursor, recolour or retitle a terminal. Backslashes are kept,
// so the function is idempotent and sinks may apply it again.
std::string printable_text(std::string_view text);

// Cuts `text` to at most n bytes.
inline void truncate_to(std::string& text, std::size_t n) {
  if (text.size() > n) text.resize(n);
}

}  // namespace cw
