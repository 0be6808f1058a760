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
  };
  const std::vector<Case> cases = {
      {"leading closing is skipped", list({closing(1, kC0), opening(2, kO1), closing(3, kC1)}), {{kO1, kC1}}, {"1"}},
      {"two shifts", list({opening(1, kO1, "7"), closing(2, kC1, ""), opening(3, kO2, ""), closing(4, kC2, "8")}),
       {{kO1, kC1}, {kO2, kC2}}, {"7", "8"}},
      {"a second opening replaces the first", list({opening(1, kO1, "7"), opening(2, kO2, "8"), closing(3, kC2, "")}),
       {{kO2, kC2}}, {"8"}},
      {"shift still open at the end", list({opening(1, kO1), closing(2, kC1), opening(3, kO2)}), {{kO1, kC1}}, {"1"}},
      {"only an opening", opening(1, kO1), {}, {}},
      {"no documents", "", {}, {}},
      {"kind that is no number is passed over",
       list({opening(1, kO1, ""), document(2, "\"five\"", kC0, R"({\"t1038\":5})"), closing(3, kC1, "")}),
       {{kO1, kC1}}, {"0"}},
      {"documents without docDt", list({document(1, 2, "", ""), document(2, 5, "", "")}), {{"", ""}}, {"0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
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

    // The shift query, then checks and income/outcome for each interval in order.
    ASSERT_EQ(1 + 2 * c.intervals.size(), service.calls.size());
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
                            {"ShiftNumber", c.shiftNumbers.at(i)}}),
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
