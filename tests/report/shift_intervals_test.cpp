#include "report/shift_intervals.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "report/xml_elements.h"
#include "report_test_support.h"
#include "text/date_time.h"

namespace {

using namespace reporttest;

// Raw service dates of the shift documents and their converted forms.
const std::string kO1 = "2020-03-02T08:00:00.000+0000", kC1 = "2020-03-02T20:00:00.000+0000";
const std::string kO2 = "2020-03-03T08:00:00.000+0000", kC2 = "2020-03-03T20:00:00.000+0000";
const std::string kO3 = "2020-03-04T08:00:00.000+0000", kC3 = "2020-03-04T20:00:00.000+0000";
const std::string kC0 = "2020-03-01T20:00:00.000+0000";

// A service date on 2 March 2020 at `time` (e.g. "21:00:00").
std::string on2nd(const char* time) { return std::string("2020-03-02T") + time + ".000+0000"; }

// Shift documents carrying the shift number `number` (empty text for "").
std::string shiftDoc(int id, int kind, const std::string& dt, const std::string& number) {
  return document(id, kind, dt, R"({\"t1038\":)" + (number.empty() ? "" : number) + R"(,\"t1042\":1})");
}
std::string opening(int id, const std::string& dt, const std::string& number = "1") { return shiftDoc(id, 2, dt, number); }
std::string closing(int id, const std::string& dt, const std::string& number = "1") { return shiftDoc(id, 5, dt, number); }
// A sale check numbered `id`, without a shift number of its own.
std::string sale(int id, const std::string& dt) {
  return document(id, 3, dt, R"({\"t1042\":)" + std::to_string(id) + R"(,\"t1031\":1})");
}

class ShiftIntervalsTest : public CleanSettingsTest {
 protected:
  void SetUp() override {
    CleanSettingsTest::SetUp();
    lastDocDT = kC0;
  }
};

// A UUID in its text form whose version is 5 and whose variant is RFC 4122's.
bool isVersion5Uuid(const std::string& text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash != (text[i] == '-')) return false;
    if (!dash && std::string("0123456789abcdef").find(text[i]) == std::string::npos) return false;
  }
  return text[14] == '5' && std::string("89ab").find(text[19]) != std::string::npos;
}

// The walk takes the shift documents in the order of their dates, reports
// each shift closed after lastDocDT once with every check of its span, and
// stops at its limits.
TEST_F(ShiftIntervalsTest, ReportsEveryShiftOnceInTheOrderOfItsClosing) {
  struct Report {
    std::string opening, closing;  // raw dates
    std::string shiftNumber;
    std::vector<std::string> checks;  // Number of each Check
    // The version-5 UUID of "<kkmNum>/<closing docDt>/<closing id>" under the
    // program's namespace, worked out apart from the program; "" where a row
    // does not pin it (it is then only checked to be a version-5 UUID).
    std::string uuid = "";
  };
  struct Case {
    const char* name;
    std::string shiftDocs;
    std::vector<Report> reports;
    std::vector<std::pair<std::string, std::string>> checksFor = {};  // by closing date
    std::size_t warnings = 0;
    int maxChecks = kMaxChecksPerRun;
    bool slowClock = false;  // ten minutes pass at every look at the clock
    int shiftsLeft = 0;
    std::string refusal = "";  // what stops the walk in front of the next shift; "" when nothing does
    std::string kkm = "0000000000012345";
  };
  const std::string uuidC1id3 = "e8020ed1-17f1-5be2-b460-531aaab8934f";
  const std::string uuidC1id2 = "487256da-392f-5dd0-8df4-f6ff5f7271c6";
  const std::string uuidC2id4 = "405ce78d-c5b8-550c-aa3e-33ddb2f605c2";
  const std::vector<Case> cases = {
      {"leading closing is skipped", list({closing(1, kC0), opening(2, kO1), closing(3, kC1)}),
       {{kO1, kC1, "1", {}, uuidC1id3}}},
      {"two shifts", list({opening(1, kO1, "7"), closing(2, kC1, ""), opening(3, kO2, ""), closing(4, kC2, "8")}),
       {{kO1, kC1, "7", {}, uuidC1id2}, {kO2, kC2, "8", {}, uuidC2id4}}},
      // As after a new fiscal drive: the shifts differ by their closings alone.
      {"two shifts with the same number",
       list({opening(1, kO1, "5"), closing(2, kC1, "5"), opening(3, kO2, "5"), closing(4, kC2, "5")}),
       {{kO1, kC1, "5", {}, uuidC1id2}, {kO2, kC2, "5", {}, uuidC2id4}}},
      {"two shifts of another register",
       list({opening(1, kO1, "7"), closing(2, kC1, ""), opening(3, kO2, ""), closing(4, kC2, "8")}),
       {{kO1, kC1, "7", {}, "19475d78-eb4a-5642-88d4-e3a87ca3f7d8"},
        {kO2, kC2, "8", {}, "de3c9dd9-4687-5200-9f70-55f9e559941a"}},
       {}, 0, kMaxChecksPerRun, false, 0, "", "0000000000054321"},
      {"a second opening replaces the first, its checks stay",
       list({opening(1, kO1, "7"), opening(2, on2nd("12:00:00"), "8"), closing(3, kC1, "")}),
       {{on2nd("12:00:00"), kC1, "8", {"10", "11"}}},
       {{kC1, list({sale(10, on2nd("09:00:00")), sale(11, on2nd("13:00:00"))})}}},
      {"shift still open at the end", list({opening(1, kO1), closing(2, kC1), opening(3, kO2)}), {{kO1, kC1, "1", {}}}},
      {"only an opening", opening(1, kO1), {}},
      {"no documents", "", {}},
      {"kind that is no number is passed over",
       list({opening(1, kO1, ""), document(2, "\"five\"", kC1, R"({\"t1038\":5})"), closing(3, kC1, "")}),
       {{kO1, kC1, "0", {}}}},
      // A shift 1C would refuse ends the walk in front of it; the shifts before it stand.
      {"documents without docDt", list({document(1, 2, "", ""), document(2, 5, "", "")}), {},
       {}, 0, kMaxChecksPerRun, false, 0, "ClosingDate: no docDt"},
      {"a closing without docDt after a good shift",
       list({opening(1, kO1), closing(2, kC1), document(3, 2, "", ""), document(4, 5, "", "")}),
       {{kO1, kC1, "1", {}, uuidC1id2}}, {}, 0, kMaxChecksPerRun, false, 0, "ClosingDate: no docDt"},
      // Document numbers start again at 1 on a new fiscal drive, so an answer
      // sorted by number lists the later shift first.
      {"a fiscal drive change puts the later shift first",
       list({opening(1, kO2, "1"), closing(2, kC2, "1"), opening(301, kO1, "300"), closing(302, kC1, "300")}),
       {{kO1, kC1, "300", {"10"}}, {kO2, kC2, "1", {"20"}}},
       {{kC1, sale(10, on2nd("09:00:00"))}, {kC2, sale(20, "2020-03-03T09:00:00.000+0000")}}},
      {"dates compared with their offsets applied",
       list({opening(1, kO1), closing(2, "2020-03-03T01:00:00.000+0500"), opening(3, on2nd("21:00:00")),
             closing(4, kC2)}),
       {{kO1, "2020-03-03T01:00:00.000+0500", "1", {}}, {on2nd("21:00:00"), kC2, "1", {}}}},
      {"a closing dated before its own opening is reported once",
       list({opening(1, kO1), closing(2, on2nd("07:00:00"))}), {{kC0, on2nd("07:00:00"), "1", {}}}},
      {"shifts before lastDocDT are not reported again",
       list({opening(1, "2020-02-28T08:00:00.000+0000"), closing(2, "2020-02-28T20:00:00.000+0000"),
             opening(3, "2020-03-01T08:00:00.000+0000"), closing(4, kC0), opening(5, kO1), closing(6, kC1)}),
       {{kO1, kC1, "1", {}}}},
      {"a shift document given twice is taken once", list({opening(1, kO1), closing(2, kC1), closing(2, kC1)}),
       {{kO1, kC1, "1", {}}}, {}, 1},
      // Each shift takes what lies after the closing before it, up to and
      // including its own, whatever range the service answers.
      {"a check between a closing and the next opening goes to the next shift",
       list({opening(1, kO1), closing(2, kC1), opening(3, kO2), closing(4, kC2)}),
       {{kO1, kC1, "1", {"10", "11"}}, {kO2, kC2, "1", {"12", "13"}}},
       {{kC1, list({sale(9, kC0), sale(10, kO1), sale(11, kC1)})},
        {kC2, list({sale(11, kC1), sale(12, on2nd("22:00:00")), sale(13, kC2)})}}},
      {"a service that ignores the range",
       list({opening(1, kO1), closing(2, kC1), opening(3, kO2), closing(4, kC2)}),
       {{kO1, kC1, "1", {"10"}}, {kO2, kC2, "1", {"20"}}},
       {{kC1, list({sale(5, "2020-02-28T09:00:00.000+0000"), sale(10, kO1), sale(20, kO2), sale(30, kO3)})},
        {kC2, list({sale(5, "2020-02-28T09:00:00.000+0000"), sale(10, kO1), sale(20, kO2), sale(30, kO3)})}}},
      {"a check given twice is taken once",
       list({opening(1, kO1), closing(2, kC1), opening(3, kO2), closing(4, kC2)}),
       {{kO1, kC1, "1", {"10", "11"}}, {kO2, kC2, "1", {"20"}}},
       {{kC1, list({sale(10, kO1), sale(11, kO1), sale(10, kO1)})},
        {kC2, list({document(10, 3, kO2, R"({\"t1042\":10})"), sale(20, kO2)})}},
       2},
      {"a check without a readable date stays with its interval", list({opening(1, kO1), closing(2, kC1)}),
       {{kO1, kC1, "1", {"10"}}}, {{kC1, sale(10, "soon")}}, 1},
      {"the shift that reaches the check limit is the last",
       list({opening(1, kO1), closing(2, kC1), opening(3, kO2), closing(4, kC2), opening(5, kO3), closing(6, kC3)}),
       {{kO1, kC1, "1", {"10"}}, {kO2, kC2, "1", {"20"}}},
       {{kC1, sale(10, kO1)}, {kC2, sale(20, kO2)}, {kC3, sale(30, kO3)}},
       0, 2, false, 1},
      {"a run takes shifts for twenty minutes",
       list({opening(1, kO1), closing(2, kC1), opening(3, kO2), closing(4, kC2), opening(5, kO3), closing(6, kC3)}),
       {{kO1, kC1, "1", {}}, {kO2, kC2, "1", {}}}, {}, 0, kMaxChecksPerRun, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tinyxml2::XMLDocument d;
    tinyxml2::XMLElement* importData = addRootElementWithText(d, "ImportData", "");
    kkmNum = c.kkm;
    FakeService service;
    service.shiftDocs = c.shiftDocs;
    service.checksFor = c.checksFor;
    WalkLimits limits;
    limits.maxChecks = c.maxChecks;
    std::int64_t now = 0;
    if (c.slowClock) limits.clock = [&now] { return now += 10 * 60; };
    ShiftWalkResult result;
    ASSERT_TRUE(processShiftIntervals(d, importData, service.query(), result, ImportDataFormat::k3000, nullptr, limits));

    EXPECT_EQ(std::vector<std::string>{"SaleReports"}, childNames(importData));
    const auto reports = children(importData->FirstChildElement("SaleReports"), "SaleReport");
    ASSERT_EQ(c.reports.size(), reports.size());
    EXPECT_EQ(static_cast<int>(c.reports.size()), result.reportCount);
    EXPECT_EQ(c.reports.empty() ? "" : c.reports.back().closing, result.lastClosingDate);
    EXPECT_EQ("", result.error);
    EXPECT_EQ(c.warnings, result.warnings.size()) << (result.warnings.empty() ? "" : result.warnings[0]);
    EXPECT_EQ(c.shiftsLeft, result.shiftsLeft);
    EXPECT_EQ(c.slowClock, result.timeLimitReached);
    EXPECT_EQ(c.refusal.empty(), result.refusal.empty()) << result.refusal;
    EXPECT_NE(std::string::npos, result.refusal.find(c.refusal)) << result.refusal;

    // The shift query, then checks and income/outcome for each span in order
    // (the refused one's too).
    ASSERT_EQ(1 + 2 * (c.reports.size() + (c.refusal.empty() ? 0 : 1)), service.calls.size());
    EXPECT_EQ("2,5", service.calls[0].kinds);
    EXPECT_EQ(lastDocDT, service.calls[0].dateFrom);
    for (std::size_t i = 0; i < c.reports.size(); ++i) {
      const Report& want = c.reports[i];
      const std::string spanStart = i == 0 ? lastDocDT : c.reports[i - 1].closing;
      for (const std::size_t call : {1 + 2 * i, 2 + 2 * i}) {
        EXPECT_EQ(spanStart, service.calls[call].dateFrom);
        EXPECT_EQ(want.closing, service.calls[call].dateTo);
      }
      EXPECT_EQ("3,4", service.calls[1 + 2 * i].kinds);
      EXPECT_EQ("129, 130", service.calls[2 + 2 * i].kinds);
      const char* uuid = reports[i]->Attribute("UUID");
      ASSERT_NE(nullptr, uuid);
      EXPECT_TRUE(isVersion5Uuid(uuid)) << uuid;
      EXPECT_EQ((Attributes{{"OpeningDate", convertDateTimeTo1C(want.opening)},
                            {"ClosingDate", convertDateTimeTo1C(want.closing)},
                            {"ShiftNumber", want.shiftNumber},
                            {"UUID", want.uuid.empty() ? uuid : want.uuid}}),
                attributesOf(reports[i]));
      EXPECT_EQ((std::vector<std::string>{"Checks", "ShiftState"}), childNames(reports[i]));
      EXPECT_STREQ("2", reports[i]->FirstChildElement("ShiftState")->GetText());
      std::vector<std::string> numbers;
      for (const auto* check : children(reports[i]->FirstChildElement("Checks"), "Check"))
        numbers.push_back(check->Attribute("Number"));
      EXPECT_EQ(want.checks, numbers);
    }
  }
}

TEST_F(ShiftIntervalsTest, ShiftQueryRunsFromLastDocDTUpToNow) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"0", kFirstDocDT},  // from the very beginning
      {"", ""},
      {kC1, kC1},
  };
  for (const auto& [setting, from] : cases) {
    lastDocDT = setting;
    FakeService service;
    ShiftWalkResult result;
    tinyxml2::XMLDocument d;
    ASSERT_TRUE(processShiftIntervals(d, addRootElementWithText(d, "ImportData", ""), service.query(), result,
                                      ImportDataFormat::k3000, nullptr));
    ASSERT_EQ(1u, service.calls.size());
    EXPECT_EQ(from, service.calls[0].dateFrom) << "lastDocDT " << setting;
    EXPECT_EQ(setting, lastDocDT);  // the setting is only read
    EXPECT_NE(-1, textToTime(service.calls[0].dateTo, kTimeWithZoneFormat)) << service.calls[0].dateTo;
  }
}

}  // namespace
