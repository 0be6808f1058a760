// The few calls that differ between Windows and POSIX, side by side in one
// unit so that the rest of the program builds unchanged on both.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace platform {

// Local broken-down time (zone and daylight saving of the machine) of a
// calendar time. Returns false when the platform cannot convert the value;
// `out` is then unchanged.
bool localCalendarTime(std::int64_t t, std::tm& out);

// The current calendar time, seconds since 1970-01-01 00:00:00 UTC.
std::int64_t now();

// Replaces `target` with `source` in one step, so that a reader sees either
// the old file or the new one, never a mix. A read-only `target` is not
// replaced. On failure `target` is untouched and `error` says why.
bool replaceFile(const std::string& source, const std::string& target, std::string& error);

// Pushes what was written to `f` through to the disk (beyond the runtime's
// and the system's buffers). Returns false when the system refuses.
bool flushToDisk(std::FILE* f);

// Opens a file for binary reading that other programs may have open too.
std::FILE* openForReading(const std::string& path);

// The reason of the last failed C runtime call, as one line of text.
std::string lastErrorText();

// Process id, used to make temporary file names unique.
long processId();

// Sets the runtime-library locale (all categories) by name; a name that the
// platform does not know is ignored.
void trySetLocale(const char* name);

}  // namespace platform
