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

TEST_F(CheckListsTest, ShiftNumberComesFromTheFirstCheck) {
  struct Case {
    const char* name;
    std::string docs;
    const char* shiftNumber;  // nullptr: no attribute
    std::vector<std::string> checkNumbers;
  };
  const std::vector<Case> cases = {
      {"first check decides",
       list({check(1, R"({\"t1038\":15,\"t1042\":1,\"t1031\":1})"), check(2, R"({\"t1038\":16,\"t1042\":2,\"t1031\":1})"),
             check(3, R"({\"t1042\":3,\"t1031\":1})")}),
       "15",
       {"1", "2", "3"}},
      {"first check without t1038 gives 0",
       list({check(1, R"({\"t1042\":1,\"t1031\":1})"), check(2, R"({\"t1038\":15,\"t1042\":2,\"t1031\":1})")}),
       "0",
       {"1", "2"}},
      {"an empty first value lets the next decide",
       list({check(1, R"({\"t1038\":,\"t1042\":1,\"t1031\":1})"), check(2, R"({\"t1038\":15,\"t1042\":2,\"t1031\":1})")}),
       "15",
       {"1", "2"}},
      {"only empty values leave it out", check(1, R"({\"t1038\":,\"t1042\":1,\"t1031\":1})"), nullptr, {"1"}},
      {"empty list", "", "0", {}},
      {"list without documents", "garbage", "0", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tinyxml2::XMLDocument doc;
    tinyxml2::XMLElement* report = addRootElementWithText(doc, "SaleReport", "");
    report->SetAttribute("OpeningDate", "a");
    report->SetAttribute("ClosingDate", "b");
    processChecks(doc, report, c.docs);

    Attributes want = {{"OpeningDate", "a"}, {"ClosingDate", "b"}};
    if (c.shiftNumber) want.emplace_back("ShiftNumber", c.shiftNumber);
    EXPECT_EQ(want, attributesOf(report));
    EXPECT_EQ(std::vector<std::string>{"Checks"}, childNames(report));
    std::vector<std::string> numbers;
    for (const auto* element : children(report->FirstChildElement("Checks"), "Check")) numbers.push_back(element->Attribute("Number"));
    EXPECT_EQ(c.checkNumbers, numbers);
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
      {"no kind, no date, no body", R"({"id":5,"docNo":5})",
       {{"Date", ""}, {"Type", "Income"}, {"Number", "0"}, {"Sum", "0.00"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tinyxml2::XMLDocument doc;
    tinyxml2::XMLElement* report = addRootElementWithText(doc, "SaleReport", "");
    processIncomeOutcomeChecks(doc, report, c.doc);
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
      {"text without documents: empty element", "[]", {"IncomeOutcomeChecks"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tinyxml2::XMLDocument doc;
    tinyxml2::XMLElement* report = addRootElementWithText(doc, "SaleReport", "");
    processIncomeOutcomeChecks(doc, report, c.docs);
    EXPECT_EQ(c.reportChildren, childNames(report));
    EXPECT_TRUE(children(report->FirstChildElement("IncomeOutcomeChecks"), "IncomeOutcomeCheck").empty());
  }
}

}  // namespace
