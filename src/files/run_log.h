// The run log: one line per run appended to a file the configuration names,
// so that a run under a scheduler that throws its console away (the Windows
// Task Scheduler) still leaves what it did and why it failed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Past this size the log is renamed to NAME.1 (replacing an older one) and
// a new one begun, so that it never fills the disk.
inline constexpr std::int64_t kRunLogCap = 1024 * 1024;

// Appends `line` (every secret masked) and a line end (CR LF on Windows) to
// the file at `path` in one write, so that runs that end at the same moment
// never mix their lines nor lose one to the rotation. The log is only ever a
// regular file of its own: a link, FIFO or device at that name is not
// written through. A failure to write is one error line on standard error
// and never changes a run's outcome.
void appendRunLogLine(const std::string& path, std::string_view line);
