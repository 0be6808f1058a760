// Date-time texts of the cloud service.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cloudsim {

// Reads "YYYY-MM-DDTHH:MM:SS", optionally followed by a fraction ".f..."
// and a zone ("Z", "+HHMM", "-HHMM", "+HH:MM"); no zone means UTC.
// Returns milliseconds since 1970-01-01T00:00:00Z, or nothing when the
// text is not exactly of that form or names an impossible date or time.
std::optional<int64_t> parseInstantMs(const std::string& text);

// Reads a plain "YYYY-MM-DDTHH:MM:SS" wall-clock time as UTC seconds.
std::optional<int64_t> parseWallClockSeconds(const std::string& text);

// UTC seconds as the service writes document dates:
// "YYYY-MM-DDTHH:MM:SS.000+0000".
std::string formatServiceTime(int64_t epochSeconds);

// UTC seconds as "YYYY-MM-DDTHH:MM:SS".
std::string formatWallClock(int64_t epochSeconds);

}  // namespace cloudsim
