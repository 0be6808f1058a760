// Debug log and dump files: time-stamped lines appended to files in the
// current directory. Callers write only when debug mode is on.
#pragma once

#include <string>
#include <string_view>

// Appends one entry to the file `fileName`: the current local time (with its
// offset), " --- ", `text` and a line end. The file is created when missing
// and never truncated; a text holding line ends is written unchanged. A file
// that cannot be opened is skipped silently: logging never stops a run.
// Always returns 0.
int writeLog(const std::string& fileName, std::string_view text);
