// Date-time texts: the current local time, and the service's date-times in the
// accounting platform's form.
//
// Formats use the directives %Y (four-digit year), %m, %d, %H, %M, %S (two
// digits each) and %z (the offset from UTC as a sign and four digits, for
// example +0300); every other character stands for itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Form of the current time and of the texts the service's date-times are read with.
inline constexpr const char* kTimeWithZoneFormat = "%Y-%m-%dT%H:%M:%S%z";
// The accounting platform's date-time form.
inline constexpr const char* k1CDateTimeFormat = "%Y-%m-%dT%H:%M:%S";

// The current local time as "%Y-%m-%dT%H:%M:%S%z", e.g. 2026-12-08T08:22:05+0300.
std::string currentTimeText();

// `t` (seconds since 1970-01-01 00:00:00 UTC) as local time in `format`; the
// empty text when `t` is negative or cannot be converted.
std::string timeToText(std::int64_t t, std::string_view format);

// Reads the wall-clock fields of `text` with `format` and returns them as a
// zone-free count of seconds (the fields taken as UTC), so that the result
// never depends on the machine's time zone or daylight saving. Reading stops
// at the first mismatch; year to seconds must all have been read. Fields out
// of their calendar range (31 February) are carried over as a calendar would.
// Returns -1 when a field is missing or the time lies before 1970 or after
// the year 3000.
std::int64_t textToTime(std::string_view text, std::string_view format);

// The instant a service date-time stands for, in milliseconds since
// 1970-01-01T00:00:00 UTC: the wall-clock fields, a fraction of a second if
// any (".000", only its first three digits count), and the offset from UTC
// applied ("+0300", "+03:00", "Z"; none at all counts as UTC). -1 when the
// fields cannot be read or something other than that follows the seconds.
std::int64_t serviceInstant(std::string_view text);

// The service's date-time (e.g. 2020-03-01T00:00:00.000+0000) in the
// platform's form "%Y-%m-%dT%H:%M:%S": the date and time written in the text,
// whatever follows the seconds (fraction, offset) ignored and never applied.
// The empty text when the text cannot be read.
std::string convertDateTimeTo1C(std::string_view text);
