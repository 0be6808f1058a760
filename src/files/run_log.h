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

// Appends `line` and a line end (CR LF on Windows) to the file at `path` in
// one write, so that runs that end at the same moment never mix their
// lines. A failure to write is ignored: it never changes a run's outcome.
void appendRunLogLine(const std::string& path, std::string_view line);
