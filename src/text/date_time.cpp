#include "text/date_time.h"

#include <cstdlib>
#include <ctime>

#include "platform/platform.h"

namespace {

// Latest value the platforms' calendar conversions accept: 3000-12-31T23:59:59.
constexpr std::int64_t kLatestTime = 32535215999LL;

// Days since 1970-01-01 of a proleptic Gregorian date; month 1..12.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The fields of `tm` read as UTC. Days past the month's end carry into the
// next month, seconds past 59 into the next minute.
std::int64_t fieldsAsUtc(const std::tm& tm) {
  return daysFromCivil(tm.tm_year + 1900LL, static_cast<unsigned>(tm.tm_mon + 1), 1) * 86400 +
         (tm.tm_mday - 1) * 86400LL + tm.tm_hour * 3600LL + tm.tm_min * 60LL + tm.tm_sec;
}

// Broken-down UTC time of a non-negative `t`.
std::tm utcFields(std::int64_t t) {
  std::int64_t days = t / 86400;
  std::int64_t secs = t % 86400;
  // civil_from_days
  days += 719468;
  const std::int64_t era = days / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
  std::tm tm{};
  tm.tm_year = static_cast<int>(y - 1900);
  tm.tm_mon = static_cast<int>(m) - 1;
  tm.tm_mday = static_cast<int>(d);
  tm.tm_hour = static_cast<int>(secs / 3600);
  tm.tm_min = static_cast<int>(secs / 60 % 60);
  tm.tm_sec = static_cast<int>(secs % 60);
  return tm;
}

void appendPadded(std::string& out, long value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (value < 0) out += '-';
  for (int i = static_cast<int>(digits.size()); i < width; ++i) out += '0';
  out += digits;
}

std::string formatFields(const std::tm& tm, long utcOffsetSeconds, std::string_view format) {
  std::string out;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 >= format.size()) {
      out += format[i];
      continue;
    }
    switch (format[++i]) {
      case 'Y': appendPadded(out, tm.tm_year + 1900L, 4); break;
      case 'm': appendPadded(out, tm.tm_mon + 1L, 2); break;
      case 'd': appendPadded(out, tm.tm_mday, 2); break;
      case 'H': appendPadded(out, tm.tm_hour, 2); break;
      case 'M': appendPadded(out, tm.tm_min, 2); break;
      case 'S': appendPadded(out, tm.tm_sec, 2); break;
      case 'z': {
        const long minutes = (utcOffsetSeconds < 0 ? -utcOffsetSeconds : utcOffsetSeconds) / 60;
        out += utcOffsetSeconds < 0 ? '-' : '+';
        appendPadded(out, minutes / 60 * 100 + minutes % 60, 4);
        break;
      }
      default: out += '%'; out += format[i]; break;
    }
  }
  return out;
}

// Reads up to `maxDigits` decimal digits at `pos`; false when there is none
// or the value lies outside [low, high].
bool readNumber(std::string_view text, std::size_t& pos, int maxDigits, int low, int high, int& value) {
  int digits = 0;
  int v = 0;
  while (digits < maxDigits && pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    v = v * 10 + (text[pos] - '0');
    ++pos;
    ++digits;
  }
  if (digits == 0 || v < low || v > high) return false;
  value = v;
  return true;
}

}  // namespace

std::string timeToText(std::int64_t t, std::string_view format) {
  if (t < 0) return "";
  std::tm tm{};
  if (!platform::localCalendarTime(t, tm)) return "";
  const long offset = static_cast<long>(fieldsAsUtc(tm) - t);
  return formatFields(tm, offset, format);
}

std::string currentTimeText() { return timeToText(platform::now(), kTimeWithZoneFormat); }

std::int64_t textToTime(std::string_view text, std::string_view format) {
  enum { kYear, kMonth, kDay, kHour, kMinute, kSecond, kFieldCount };
  int fields[kFieldCount] = {};
  bool read[kFieldCount] = {};
  std::size_t pos = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      int field = -1, width = 2, low = 0, high = 99;
      switch (format[++i]) {
        case 'Y': field = kYear; width = 4; high = 9999; break;
        case 'm': field = kMonth; low = 1; high = 12; break;
        case 'd': field = kDay; low = 1; high = 31; break;
        case 'H': field = kHour; high = 23; break;
        case 'M': field = kMinute; high = 59; break;
        case 'S': field = kSecond; high = 60; break;
        default: break;  // %z and others: nothing the result depends on
      }
      if (field < 0) continue;
      if (!readNumber(text, pos, width, low, high, fields[field])) break;
      read[field] = true;
    } else {
      if (pos >= text.size() || text[pos] != format[i]) break;
      ++pos;
    }
  }
  for (bool r : read)
    if (!r) return -1;
  std::tm tm{};
  tm.tm_year = fields[kYear] - 1900;
  tm.tm_mon = fields[kMonth] - 1;
  tm.tm_mday = fields[kDay];
  tm.tm_hour = fields[kHour];
  tm.tm_min = fields[kMinute];
  tm.tm_sec = fields[kSecond];
  const std::int64_t t = fieldsAsUtc(tm);
  if (t < 0 || t > kLatestTime) return -1;
  return t;
}

std::string convertDateTimeTo1C(std::string_view text) {
  const std::int64_t t = textToTime(text, kTimeWithZoneFormat);
  if (t < 0) return "";
  return formatFields(utcFields(t), 0, k1CDateTimeFormat);
}

std::int64_t serviceInstant(std::string_view text) {
  static constexpr std::size_t kFieldsLength = 19;  // YYYY-MM-DDTHH:MM:SS
  if (text.size() < kFieldsLength) return -1;
  const std::int64_t fields = textToTime(text.substr(0, kFieldsLength), k1CDateTimeFormat);
  if (fields < 0) return -1;
  std::size_t pos = kFieldsLength;
  const auto isDigit = [&](std::size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '9'; };
  std::int64_t millis = 0;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    if (!isDigit(pos)) return -1;
    for (int place = 0; isDigit(pos); ++pos, ++place)
      if (place < 3) millis = millis * 10 + (text[pos] - '0');
    for (std::size_t digits = pos - kFieldsLength - 1; digits < 3; ++digits) millis *= 10;
  }
  std::int64_t offsetSeconds = 0;
  if (pos < text.size() && text[pos] == 'Z') {
    ++pos;
  } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    const bool negative = text[pos] == '-';
    ++pos;
    int hours = 0, minutes = 0;
    if (!isDigit(pos) || !isDigit(pos + 1)) return -1;
    hours = (text[pos] - '0') * 10 + (text[pos + 1] - '0');
    pos += 2;
    if (pos < text.size() && text[pos] == ':') ++pos;
    if (!isDigit(pos) || !isDigit(pos + 1)) return -1;
    minutes = (text[pos] - '0') * 10 + (text[pos + 1] - '0');
    pos += 2;
    if (hours > 23 || minutes > 59) return -1;
    offsetSeconds = (hours * 3600LL + minutes * 60LL) * (negative ? -1 : 1);
  }
  if (pos != text.size()) return -1;
  const std::int64_t utc = fields - offsetSeconds;
  if (utc < 0) return -1;
  return utc * 1000 + millis;
}
