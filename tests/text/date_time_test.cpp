#include "text/date_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

namespace {

// Runs the test body under a given TZ and restores the old one afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (hadOld_) setenv("TZ", old_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

const std::vector<const char*> kZones = {"UTC", "Europe/Moscow", "America/New_York", "Asia/Kolkata",
                                         "Pacific/Chatham", "Europe/Berlin"};

TEST(convertDateTimeTo1C, KeepsTheWrittenWallClockInEveryZone) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"2020-03-01T00:00:00.000+0000", "2020-03-01T00:00:00"},
      {"2021-06-15T23:59:59+0300", "2021-06-15T23:59:59"},
      {"2021-06-15T23:59:59", "2021-06-15T23:59:59"},
      {"2021-06-15T23:59:59Z", "2021-06-15T23:59:59"},
      // The hour a daylight-saving switch skips in New York and the one it repeats.
      {"2021-03-14T02:30:00.000+0000", "2021-03-14T02:30:00"},
      {"2021-11-07T01:30:00.000+0000", "2021-11-07T01:30:00"},
      {"2021-03-28T02:30:00.000+0000", "2021-03-28T02:30:00"},
      {"1970-01-01T00:00:00.000+0000", "1970-01-01T00:00:00"},
      {"3000-12-31T23:59:59", "3000-12-31T23:59:59"},
      // Out-of-range fields carry over as a calendar does.
      {"2021-02-31T10:00:00", "2021-03-03T10:00:00"},
      {"2020-02-30T10:00:00", "2020-03-01T10:00:00"},
      {"2021-12-31T23:59:60", "2022-01-01T00:00:00"},
      {"2024-02-29T12:00:00", "2024-02-29T12:00:00"},
  };
  for (const char* zone : kZones) {
    ScopedTimeZone tz(zone);
    for (const auto& c : cases) EXPECT_EQ(c.second, convertDateTimeTo1C(c.first)) << c.first << " in " << zone;
  }
}

TEST(convertDateTimeTo1C, UnreadableTextsGiveNothing) {
  const std::vector<std::string> cases = {
      "",
      "letters only",
      "2021/06/15T23:59:59",
      "2021-06-15 23:59:59",
      "2021-06-15T23:59",       // no seconds
      "2021-06-15T23:59:",      // no seconds
      "2021-13-15T23:59:59",    // month out of range
      "2021-06-15T24:00:00",
      "2021-06-15T23:60:00",
      "2021-00-15T23:59:59",
      "2021-06-00T23:59:59",
      "1969-12-31T23:59:59",    // before 1970
      "3001-01-01T00:00:00",    // after the year 3000
      "20x1-06-15T23:59:59",
      "2021-6",
  };
  ScopedTimeZone tz("Europe/Moscow");
  for (const auto& c : cases) EXPECT_EQ("", convertDateTimeTo1C(c)) << "text: " << c;
}

TEST(timeToText, FormatsLocalTimeWithItsOffset) {
  {
    ScopedTimeZone tz("UTC");
    EXPECT_EQ("1970-01-01T00:00:00+0000", timeToText(0, kTimeWithZoneFormat));
  }
  {
    ScopedTimeZone tz("Europe/Moscow");
    EXPECT_EQ("2021-06-15T23:59:59+0300", timeToText(1623790799, kTimeWithZoneFormat));
  }
  {
    ScopedTimeZone tz("America/New_York");
    EXPECT_EQ("2021-01-15T07:00:00-0500", timeToText(1610712000, kTimeWithZoneFormat));
    EXPECT_EQ("2021-07-15T08:00:00-0400", timeToText(1626350400, kTimeWithZoneFormat));
  }
  {
    ScopedTimeZone tz("Asia/Kolkata");
    EXPECT_EQ("1970-01-01T05:30:00+0530", timeToText(0, kTimeWithZoneFormat));
  }
  EXPECT_EQ("", timeToText(-1, kTimeWithZoneFormat));
}

TEST(currentTimeText, IsTheLocalClockWithItsOffset) {
  for (const char* zone : kZones) {
    ScopedTimeZone tz(zone);
    const std::time_t before = std::time(nullptr);
    const std::string text = currentTimeText();
    ASSERT_TRUE(std::regex_match(text, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d{4})"))) << text;
    // Its first nineteen characters are the local date and time of the clock.
    std::tm local{};
    localtime_r(&before, &local);
    char expected[32];
    std::strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M", &local);
    EXPECT_EQ(std::string(expected), text.substr(0, 16)) << zone;
    std::strftime(expected, sizeof expected, "%z", &local);
    EXPECT_EQ(std::string(expected), text.substr(19)) << zone;
  }
}

TEST(serviceInstant, AppliesTheOffsetAndKeepsTheMilliseconds) {
  const std::vector<std::pair<std::string, std::int64_t>> cases = {
      {"2020-03-01T00:00:00.000+0000", 1583020800000},
      {"2020-03-01T03:00:00.000+0300", 1583020800000},
      {"2020-03-01T03:00:00+03:00", 1583020800000},
      {"2020-02-29T19:00:00.000-0500", 1583020800000},
      {"2020-03-01T00:00:00.5Z", 1583020800500},
      {"2020-03-01T00:00:00.1239+0000", 1583020800123},
      {"2020-03-01T00:00:00", 1583020800000},
      {"2020-03-01T00:00:00.+0000", -1},
      {"2020-03-01T00:00:00+03", -1},
      {"2020-03-01T00:00:00 tonight", -1},
      {"1970-01-01T00:00:00+0100", -1},  // before 1970 once the offset is applied
      {"0", -1},
      {"", -1},
  };
  for (const char* zone : kZones) {
    ScopedTimeZone tz(zone);
    for (const auto& [text, want] : cases) EXPECT_EQ(want, serviceInstant(text)) << text << " in " << zone;
  }
}

TEST(textToTime, IsZoneFree) {
  for (const char* zone : kZones) {
    ScopedTimeZone tz(zone);
    EXPECT_EQ(0, textToTime("1970-01-01T00:00:00", k1CDateTimeFormat)) << zone;
    EXPECT_EQ(1583020800, textToTime("2020-03-01T00:00:00.000+0000", kTimeWithZoneFormat)) << zone;
  }
}

}  // namespace
