// A run that waits (for 1C to load the exchange file, for another run to
// let go of the lock) says since when, and past stallHours calls it a
// failure, so that a stall never passes for success.
#pragma once

#include <cstdint>
#include <string>

// A length of time for a line: "2 d 3 h", "5 h 12 min", "12 min", "40 s".
std::string durationText(std::int64_t seconds);

// "since 2026-12-09T10:15:02+0300 (5 h 12 min)": `since` and the time from
// it to `now`, both seconds since 1970.
std::string sinceText(std::int64_t since, std::int64_t now);

// Whether a wait that began at `since` has lasted more than `hours` hours
// by `now`; never when `hours` is 0 or `since` is unknown (negative).
bool waitedTooLong(std::int64_t since, std::int64_t now, int hours);
