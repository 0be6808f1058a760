#include "report/check_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/settings.h"
#include "report/xml_elements.h"
#include "report_test_support.h"

namespace {

using namespace reporttest;

const char* kDt = "2020-03-02T10:15:30.000+0000";

std::string check(int id, const std::string& body) { return document(id, 3, kDt, body); }

using CheckListsTest = CleanSettingsTest;

// 1C finds or makes its cash shift by ShiftNumber: the shift's own documents
// give it, else the first check that has one; "0" only when nothing does.
// Only whole numbers count, and a check of another shift is pointed out.
TEST_F(CheckListsTest, ShiftNumberComesFromTheShiftItself) {
  struct Case {
    const char* name;
    std::string docs;
    std::string fromShiftDocuments;
    const char* shiftNumber;
    std::vector<std::string> checkNumbers;
    std::vector<std::string> notes;  // each in one note on the shift, in order
  };
  const std::vector<Case> cases = {
      {"the shift's documents decide",
       list({check(1, R"({\"t1038\":41,\"t1042\":1,\"t1031\":1})"), check(2, R"({\"t1038\":16,\"t1042\":2,\"t1031\":1})"),
             check(3, R"({\"t1042\":3,\"t1031\":1})")}),
       "41", "41",
       {"1", "2", "3"},
       {"check 2 (id 2) carries the shift number 16, not the shift's 41"}},
      {"without them the first check that has one decides",
       list({check(1, R"({\"t1042\":1,\"t1031\":1})"), check(2, R"({\"t1038\":15,\"t1042\":2,\"t1031\":1})"),
             check(3, R"({\"t1038\":16,\"t1042\":3,\"t1031\":1})")}),
       "", "15",
       {"1", "2", "3"},
       {"check 3 (id 3) carries the shift number 16, not the shift's 15"}},
      {"an empty first value lets the next decide",
       list({check(1, R"({\"t1038\":,\"t1042\":1,\"t1031\":1})"), check(2, R"({\"t1038\":15,\"t1042\":2,\"t1031\":1})")}),
       "", "15",
       {"1", "2"},
       {}},
      {"a value that is no whole number is passed over",
       list({check(1, R"({\"t1038\":\"15a\",\"t1042\":1,\"t1031\":1})"), check(2, R"({\"t1038\":1.5,\"t1042\":2,\"t1031\":1})"),
             check(3, R"({\"t1038\":15,\"t1042\":3,\"t1031\":1})")}),
       "", "15",
       {"1", "2", "3"},
       {R"(check 1 (id 1) carries the shift number "\"15a\"", which is no whole number)",
        R"(check 2 (id 2) carries the shift number "1.5", which is no whole number)"}},
      {"checks without one: the shift's documents decide", check(1, R"({\"t1038\":,\"t1042\":1,\"t1031\":1})"), "41",
       "41", {"1"}, {}},
      {"checks without one, nor the shift's documents", check(1, R"({\"t1038\":0,\"t1042\":1,\"t1031\":1})"), "", "0",
       {"1"}, {}},
      {"empty list", "", "41", "41", {}, {}},
      {"empty list, no number anywhere", "", "", "0", {}, {}},
      {"list without documents", "garbage", "", "0", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tinyxml2::XMLDocument doc;
    tinyxml2::XMLElement* report = addRootElementWithText(doc, "SaleReport", "");
    report->SetAttribute("OpeningDate", "a");
    report->SetAttribute("ClosingDate", "b");
    ShiftValues values("b");
    processChecks(doc, report, c.docs, c.fromShiftDocuments, values);

    EXPECT_EQ((Attributes{{"OpeningDate", "a"}, {"ClosingDate", "b"}, {"ShiftNumber", c.shiftNumber}}), attributesOf(report));
    EXPECT_EQ(std::vector<std::string>{"Checks"}, childNames(report));
    std::vector<std::string> numbers;
    for (const auto* element : children(report->FirstChildElement("Checks"), "Check")) numbers.push_back(element->Attribute("Number"));
    EXPECT_EQ(c.checkNumbers, numbers);
    EXPECT_EQ(c.notes, values.shift().mended);
  }
}

TEST_F(CheckListsTest, IncomeOutcomeChecksTakeTypeNumberAndSum) {
  struct Case {
    const char* name;
    std::string doc;
    Attributes want;
  };
  const std::vector<Case> cases = {
      {"income", document(1, 129, kDt, R"({\"t1042\":7,\"t1055\":950,\"t1031\":950})"),
       {{"Date", "2020-03-02T10:15:30"}, {"Type", "Income"}, {"Number", "7"}, {"Sum", "9.50"}}},
      {"outcome", document(2, 130, kDt, R"({\"t1042\":8,\"t1055\":12345,\"t1031\":1})"),
       {{"Date", "2020-03-02T10:15:30"}, {"Type", "Outcome"}, {"Number", "8"}, {"Sum", "123.45"}}},
      {"no t1042, no t1055", document(3, 130, kDt, R"({\"t1031\":1,\"t1081\":2})"),
       {{"Date", "2020-03-02T10:15:30"}, {"Type", "Outcome"}, {"Number", "0"}, {"Sum", "0.00"}}},
      {"kind that is no number", document(4, "\"x\"", kDt, R"({\"t1042\":9,\"t1055\":5,\"t1031\":1})"),
       {{"Date", "2020-03-02T10:15:30"}, {"Type", "Income"}, {"Number", "9"}, {"Sum", "0.05"}}},
      {"no kind, no date, no body: the shift's ClosingDate", R"({"id":5,"docNo":5})",
       {{"Date", "2020-03-02T20:00:00"}, {"Type", "Income"}, {"Number", "0"}, {"Sum", "0.00"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tinyxml2::XMLDocument doc;
    tinyxml2::XMLElement* report = addRootElementWithText(doc, "SaleReport", "");
    ShiftValues values("2020-03-02T20:00:00");
    processIncomeOutcomeChecks(doc, report, c.doc, values);
    const auto checks = children(report->FirstChildElement("IncomeOutcomeChecks"), "IncomeOutcomeCheck");
    ASSERT_EQ(1u, checks.size());
    EXPECT_EQ(c.want, attributesOf(checks[0]));
  }
}

TEST_F(CheckListsTest, IncomeOutcomeListShapes) {
  struct Case {
    const char* name;
    std::string docs;
    std::vector<std::string> reportChildren;
  };
  const std::vector<Case> cases = {
      {"empty list: no element", "", {}},
      // 1C's format has no IncomeOutcomeChecks without an IncomeOutcomeCheck.
      {"text without documents: no element", "[]", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tinyxml2::XMLDocument doc;
    tinyxml2::XMLElement* report = addRootElementWithText(doc, "SaleReport", "");
    ShiftValues values("");
    processIncomeOutcomeChecks(doc, report, c.docs, values);
    EXPECT_EQ(c.reportChildren, childNames(report));
    EXPECT_TRUE(children(report->FirstChildElement("IncomeOutcomeChecks"), "IncomeOutcomeCheck").empty());
  }
}

}  // namespace
