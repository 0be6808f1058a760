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
const std::string kC0 = "2020-03-01T20:00:00.000+0000";

// Shift documents carrying the shift number `number` (empty text for "").
std::string shiftDoc(int id, int kind, const std::string& dt, const std::string& number) {
  return document(id, kind, dt, R"({\"t1038\":)" + (number.empty() ? "" : number) + R"(,\"t1042\":1})");
}
std::string opening(int id, const std::string& dt, const std::string& number = "1") { return shiftDoc(id, 2, dt, number); }
std::string closing(int id, const std::string& dt, const std::string& number = "1") { return shiftDoc(id, 5, dt, number); }

class ShiftIntervalsTest : public CleanSettingsTest {
 protected:
  void SetUp() override {
    CleanSettingsTest::SetUp();
    lastDocDT = "2020-03-01T20:00:00.000+0000";
  }
};

TEST_F(ShiftIntervalsTest, PairsEachOpeningWithTheNextClosing) {
  struct Case {
    const char* name;
    std::string shiftDocs;
    std::vector<std::pair<std::string, std::string>> intervals;  // raw opening and closing dates
    std::vector<std::string> shiftNumbers;  // of each SaleReport, from its closing, else its opening
    // Of each SaleReport: the version-5 UUID of "<kkmNum>/<closing docDt>/<closing id>"
    // under the program's namespace, as RFC 4122 makes it (worked out apart from the program).
    std::vector<std::string> uuids;
    std::string refusal = "";  // what stops the walk in front of the next shift; "" when nothing does
    std::string kkm = "0000000000012345";
  };
  const std::string uuidC1id3 = "e8020ed1-17f1-5be2-b460-531aaab8934f";
  const std::string uuidC1id2 = "487256da-392f-5dd0-8df4-f6ff5f7271c6";
  const std::string uuidC2id4 = "405ce78d-c5b8-550c-aa3e-33ddb2f605c2";
  const std::string uuidC2id3 = "6381e66a-10df-5f95-8f25-a11ec7a1c75d";
  const std::vector<Case> cases = {
      {"leading closing is skipped", list({closing(1, kC0), opening(2, kO1), closing(3, kC1)}), {{kO1, kC1}}, {"1"},
       {uuidC1id3}},
      {"two shifts", list({opening(1, kO1, "7"), closing(2, kC1, ""), opening(3, kO2, ""), closing(4, kC2, "8")}),
       {{kO1, kC1}, {kO2, kC2}}, {"7", "8"}, {uuidC1id2, uuidC2id4}},
      // As after a new fiscal drive: the shifts differ by their closings alone.
      {"two shifts with the same number",
       list({opening(1, kO1, "5"), closing(2, kC1, "5"), opening(3, kO2, "5"), closing(4, kC2, "5")}),
       {{kO1, kC1}, {kO2, kC2}}, {"5", "5"}, {uuidC1id2, uuidC2id4}},
      {"two shifts of another register",
       list({opening(1, kO1, "7"), closing(2, kC1, ""), opening(3, kO2, ""), closing(4, kC2, "8")}),
       {{kO1, kC1}, {kO2, kC2}}, {"7", "8"}, {"19475d78-eb4a-5642-88d4-e3a87ca3f7d8", "de3c9dd9-4687-5200-9f70-55f9e559941a"}, "", "0000000000054321"},
      {"a second opening replaces the first", list({opening(1, kO1, "7"), opening(2, kO2, "8"), closing(3, kC2, "")}),
       {{kO2, kC2}}, {"8"}, {uuidC2id3}},
      {"shift still open at the end", list({opening(1, kO1), closing(2, kC1), opening(3, kO2)}), {{kO1, kC1}}, {"1"},
       {uuidC1id2}},
      // A closing the service gives twice would fill one report in 1C twice over.
      {"the same closing twice", list({opening(1, kO1), closing(2, kC1), opening(3, kO2), closing(2, kC1)}),
       {{kO1, kC1}}, {"1"}, {uuidC1id2}},
      {"only an opening", opening(1, kO1), {}, {}, {}},
      {"no documents", "", {}, {}, {}},
      {"kind that is no number is passed over",
       list({opening(1, kO1, ""), document(2, "\"five\"", kC0, R"({\"t1038\":5})"), closing(3, kC1, "")}),
       {{kO1, kC1}}, {"0"}, {uuidC1id3}},
      // A shift 1C would refuse ends the walk in front of it; the shifts before it stand.
      {"a closing without docDt", list({opening(1, kO1), closing(2, kC1), document(3, 2, "", ""), document(4, 5, "", "")}),
       {{kO1, kC1}}, {"1"}, {uuidC1id2}, "ClosingDate: no docDt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kkmNum = c.kkm;
    tinyxml2::XMLDocument d;
    tinyxml2::XMLElement* importData = addRootElementWithText(d, "ImportData", "");
    FakeService service;
    service.shiftDocs = c.shiftDocs;
    ShiftWalkResult result;
    ASSERT_TRUE(processShiftIntervals(d, importData, service.query(), result));

    EXPECT_EQ(std::vector<std::string>{"SaleReports"}, childNames(importData));
    const auto reports = children(importData->FirstChildElement("SaleReports"), "SaleReport");
    ASSERT_EQ(c.intervals.size(), reports.size());
    EXPECT_EQ(static_cast<int>(c.intervals.size()), result.reportCount);
    EXPECT_EQ(c.intervals.empty() ? "" : c.intervals.back().second, result.lastClosingDate);
    EXPECT_EQ("", result.error);
    EXPECT_EQ(c.refusal.empty(), result.refusal.empty()) << result.refusal;
    EXPECT_EQ(std::string(c.name) == "the same closing twice", !result.warnings.empty());
    EXPECT_NE(std::string::npos, result.refusal.find(c.refusal)) << result.refusal;

    // The shift query, then checks and income/outcome for each interval in order (the refused one's too).
    ASSERT_EQ(1 + 2 * (c.intervals.size() + (c.refusal.empty() ? 0 : 1)), service.calls.size());
    EXPECT_EQ("2,5", service.calls[0].kinds);
    EXPECT_EQ(lastDocDT, service.calls[0].dateFrom);
    for (std::size_t i = 0; i < c.intervals.size(); ++i) {
      const auto& [from, to] = c.intervals[i];
      EXPECT_EQ(from, service.calls[1 + 2 * i].dateFrom);
      EXPECT_EQ(to, service.calls[1 + 2 * i].dateTo);
      EXPECT_EQ("3,4", service.calls[1 + 2 * i].kinds);
      EXPECT_EQ(from, service.calls[2 + 2 * i].dateFrom);
      EXPECT_EQ(to, service.calls[2 + 2 * i].dateTo);
      EXPECT_EQ("129, 130", service.calls[2 + 2 * i].kinds);
      EXPECT_EQ((Attributes{{"OpeningDate", convertDateTimeTo1C(from)}, {"ClosingDate", convertDateTimeTo1C(to)},
                            {"ShiftNumber", c.shiftNumbers.at(i)}, {"UUID", c.uuids.at(i)}}),
                attributesOf(reports[i]));
      EXPECT_EQ((std::vector<std::string>{"Checks", "ShiftState"}), childNames(reports[i]));
      EXPECT_STREQ("2", reports[i]->FirstChildElement("ShiftState")->GetText());
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
    ASSERT_TRUE(processShiftIntervals(d, addRootElementWithText(d, "ImportData", ""), service.query(), result));
    ASSERT_EQ(1u, service.calls.size());
    EXPECT_EQ(from, service.calls[0].dateFrom) << "lastDocDT " << setting;
    EXPECT_EQ(from, lastDocDT);  // "0" is replaced for the rest of the run
    EXPECT_NE(-1, textToTime(service.calls[0].dateTo, kTimeWithZoneFormat)) << service.calls[0].dateTo;
  }
}

}  // namespace
