// Debug log and dump files: time-stamped lines appended to files in the
// current directory. Callers write only when debug mode is on.
#pragma once

#include <string>
#include <string_view>

// Appends one entry to the file `fileName`: the current local time (with its
// offset), " --- ", `text` (every secret masked) and a line end. The file
// is created, readable by this account only, when missing and never
// truncated; a text holding line ends is written unchanged. Only a regular
// file is written: a link at that name is never followed, and a FIFO or
// device is never waited on. A file that cannot be opened is skipped, with
// one warning line per file: logging never stops a run. Always returns 0.
int writeLog(const std::string& fileName, std::string_view text);
