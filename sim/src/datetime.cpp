#include "datetime.h"

#include <cstdio>

namespace cloudsim {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

bool isLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(int64_t y, unsigned m) {
    static const unsigned days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && isLeap(y)) return 29;
    return days[m - 1];
}

// A cursor over the text; every read checks the remaining length first.
struct Reader {
    const std::string& s;
    size_t pos = 0;

    bool atEnd() const { return pos >= s.size(); }
    bool peekIs(char c) const { return pos < s.size() && s[pos] == c; }
    bool expect(char c) {
        if (!peekIs(c)) return false;
        ++pos;
        return true;
    }
    bool digits(size_t count, int& out) {
        if (pos > s.size() || s.size() - pos < count) return false;
        int v = 0;
        for (size_t i = 0; i < count; ++i) {
            const char c = s[pos + i];
            if (c < '0' || c > '9') return false;
            v = v * 10 + (c - '0');
        }
        pos += count;
        out = v;
        return true;
    }
};

// Reads the fixed "YYYY-MM-DDTHH:MM:SS" part; returns UTC seconds.
std::optional<int64_t> readWallClock(Reader& r) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!r.digits(4, year) || !r.expect('-') || !r.digits(2, month) || !r.expect('-') ||
        !r.digits(2, day) || !r.expect('T') || !r.digits(2, hour) || !r.expect(':') ||
        !r.digits(2, minute) || !r.expect(':') || !r.digits(2, second))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 ||
        static_cast<unsigned>(day) > daysInMonth(year, static_cast<unsigned>(month)) ||
        hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
           hour * 3600 + minute * 60 + second;
}

}  // namespace

std::optional<int64_t> parseInstantMs(const std::string& text) {
    Reader r{text};
    const auto seconds = readWallClock(r);
    if (!seconds) return std::nullopt;
    int64_t ms = 0;
    if (r.expect('.')) {
        size_t count = 0;
        int scale = 100;
        while (!r.atEnd() && text[r.pos] >= '0' && text[r.pos] <= '9') {
            if (scale > 0) {
                ms += (text[r.pos] - '0') * scale;
                scale /= 10;
            }
            ++r.pos;
            ++count;
        }
        if (count == 0) return std::nullopt;
    }
    int64_t offsetSeconds = 0;
    if (r.expect('Z')) {
        // UTC
    } else if (r.peekIs('+') || r.peekIs('-')) {
        const bool east = text[r.pos] == '+';
        ++r.pos;
        int hh = 0, mm = 0;
        if (!r.digits(2, hh)) return std::nullopt;
        r.expect(':');
        if (!r.digits(2, mm) || hh > 23 || mm > 59) return std::nullopt;
        offsetSeconds = (hh * 3600 + mm * 60) * (east ? 1 : -1);
    }
    if (!r.atEnd()) return std::nullopt;
    return (*seconds - offsetSeconds) * 1000 + ms;
}

std::optional<int64_t> parseWallClockSeconds(const std::string& text) {
    Reader r{text};
    const auto seconds = readWallClock(r);
    if (!seconds || !r.atEnd()) return std::nullopt;
    return seconds;
}

std::string formatWallClock(int64_t epochSeconds) {
    int64_t days = epochSeconds / 86400;
    int64_t rest = epochSeconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int64_t y = 0;
    unsigned m = 0, d = 0;
    civilFromDays(days, y, m, d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lld",
                  static_cast<long long>(y), m, d, static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return buf;
}

std::string formatServiceTime(int64_t epochSeconds) {
    return formatWallClock(epochSeconds) + ".000+0000";
}

}  // namespace cloudsim
