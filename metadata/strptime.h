// Parsing a date/time text by a format: the inverse of strftime.
//
// Our own implementation rather than the C library's, so that the conversion set behaves the
// same everywhere: %c is "%x %X" and %x is "%m/%d/%y" (the C library reads the locale's
// forms there), and month and weekday names are the English ones in full or abbreviated,
// compared without regard to case. Used by the macro language (capture dates) and by the GPS
// track reader (track-point times).
#pragma once

#include <ctime>

namespace cw {

// Parses `text` by `format` into `tm` and returns the position after the parsed text, or
// nullptr when the text does not match. Conversions: %% %A %a %B %b %h %C %c %D %d %e %H %k
// %I %l %j %M %m %n %t %p %R %r %S %T %U %W %X %x %Y %y (an E or O modifier is accepted and
// ignored). White space in the format, %n and %t match any run of white space, including
// none. Numbers may have leading white space and at most the field's digits; a number out of
// the field's range fails. Fields the format does not mention are left as they were; when the
// year, month and day are all known, tm_wday and tm_yday are filled in as well.
//
// Call it qualified (cw::strptime): an unqualified call next to <time.h> is ambiguous.
const char* strptime(const char* text, const char* format, std::tm* tm);

}  // namespace cw
