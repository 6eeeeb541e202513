// EXIF date/time values ("YYYY:MM:DD hh:mm:ss") as local calendar times.
#pragma once

#include <ctime>
#include <string>

namespace cw {

enum class ExifTime {
  kNotADate,  // the text is not of the EXIF form: callers keep it as it is
  kInvalid,   // of the form, but a field out of range (an unset clock, junk): the zero date
  kValid,     // `local` holds the time
};

// Reads the fields of an EXIF date/time as written, checked (a real calendar day, hours 0-23,
// minutes and seconds 0-59) and without any zone: for callers that do their own zone
// arithmetic. The one parser of capture dates: naming, GPS matching and multi-camera work all
// read through it. `length`, when given, receives how many characters the date took.
ExifTime exif_time_fields(const std::string& value, std::tm& fields,
                          std::size_t* length = nullptr);
// Reads an EXIF date/time as local wall-clock time, whatever the daylight-saving rule says.
ExifTime exif_time_local(const std::string& value, std::tm& local);

// True when a date/time value names no time: empty, blank or zero ("0000:00:00 00:00:00",
// "    :  :     :  :  ", the stamp "00000000_000000"), or of the EXIF form with a field out of
// range. Routines that fall back to another date (the file's time) skip such values.
bool exif_date_absent(const std::string& value);

// "YYYYMMDD_hhmmss" of an EXIF date/time: the text unchanged when it is not of the EXIF form,
// "00000000_000000" when it names no real time.
std::string exif_time_stamp(const std::string& value);

// Makes the process read the system's time zone once: without TZ, the C library looks at
// /etc/localtime again on every mktime (a file status per conversion, several per image);
// naming that file in TZ lets it keep what it read. A TZ already set is left as it is. To be
// called at start-up, before any thread runs.
void keep_system_zone();

}  // namespace cw
