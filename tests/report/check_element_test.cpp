#include "report/check_element.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/settings.h"
#include "report/check_payments.h"
#include "report/xml_elements.h"
#include "report_test_support.h"

namespace {

using namespace reporttest;

// Two goods items as the service writes them, each beginning with its t1023 key.
const std::string kTwoItems =
    R"(\"t1023\":\"1.000\",\"t40385\":\"A-1\",\"t1079\":5000,\"t1043\":15000,\"t1199\":1,\"t1214\":4,\"t1030\":\"Tea\"},)"
    R"({\"t1023\":\"2.500\",\"t40385\":\"B-2\",\"t1079\":99,\"t1043\":248,\"t1199\":2,\"t1214\":1,\"t1030\":\"Bun\")";

const std::vector<Attributes> kTwoGoods = {
    {{"Code", "A-1"}, {"Quantity", "1.000"}, {"Price", "50.00"}, {"Sum", "150.00"}, {"TaxRate", "20"}, {"PaymentMethod", "4"}},
    {{"Code", "B-2"}, {"Quantity", "2.500"}, {"Price", "0.99"}, {"Sum", "2.48"}, {"TaxRate", "10"}, {"PaymentMethod", "1"}},
};

class CheckElementTest : public CleanSettingsTest {
 protected:
  void SetUp() override {
    CleanSettingsTest::SetUp();
    checks = addRootElementWithText(doc, "Checks", "");
  }

  // The Good that `item` gives, as the first of its check.
  Attributes goodOf(const std::string& item) {
    tinyxml2::XMLDocument d;
    tinyxml2::XMLElement* goods = addRootElementWithText(d, "Goods", "");
    ValueNotes notes;
    processOneGoodElement(d, goods, item, 1, notes);
    return attributesOf(goods->FirstChildElement("Good"));
  }

  std::vector<Attributes> goodsOf(const tinyxml2::XMLElement* check) {
    std::vector<Attributes> out;
    for (const auto* good : children(check->FirstChildElement("Goods"), "Good")) out.push_back(attributesOf(good));
    return out;
  }

  tinyxml2::XMLDocument doc;
  tinyxml2::XMLElement* checks = nullptr;
  ShiftValues values{"2020-03-02T20:00:00"};  // of a shift closed then
};

TEST_F(CheckElementTest, WritesTheWholeCheckInOrder) {
  const std::string body = R"({\"t1038\":15,\"t1042\":7,\"t1054\":1,\"t1055\":2,\"t1031\":10000,\"t1081\":2550,)"
                           R"(\"tl1059\":[{)" + kTwoItems + R"(}]})";
  processOneCheckElement(doc, checks, document(101, 3, "2020-03-02T10:15:30.000+0000", body), values);

  ASSERT_EQ(1u, children(checks, "Check").size());
  const tinyxml2::XMLElement* check = checks->FirstChildElement("Check");
  EXPECT_EQ((Attributes{{"Date", "2020-03-02T10:15:30"}, {"Number", "7"}, {"TaxationSystem", "2"}, {"OperationType", "1"}}),
            attributesOf(check));
  EXPECT_EQ((std::vector<std::string>{"Goods", "Payments"}), childNames(check));
  EXPECT_EQ(kTwoGoods, goodsOf(check));
  const auto payments = children(check->FirstChildElement("Payments"), "Payment");
  ASSERT_EQ(2u, payments.size());
  EXPECT_EQ((Attributes{{"Cash", "100.00"}, {"ElectronicPayment", "0.00"}, {"PrePayment", "0.00"},
                        {"PostPayment", "0.00"}, {"Barter", "0.00"}}),
            attributesOf(payments[0]));
  EXPECT_EQ((Attributes{{"Cash", "0.00"}, {"ElectronicPayment", "25.50"}, {"PrePayment", "0.00"},
                        {"PostPayment", "0.00"}, {"Barter", "0.00"}}),
            attributesOf(payments[1]));
}

TEST_F(CheckElementTest, CutsTheGoodsOutOfEitherLayout) {
  struct Case {
    const char* name;
    std::string body;
    std::vector<Attributes> goods;
    bool lastBraceLost = false;  // the last document of a list can lose its closing brace
  };
  const std::vector<Case> cases = {
      {"list marker, body string closed", R"({\"t1042\":1,\"tl1059\":[{)" + kTwoItems + R"(}]})", kTwoGoods},
      {"list marker, only }]} left", R"({\"t1042\":1,\"tl1059\":[{)" + kTwoItems + R"(}]})", kTwoGoods, true},
      {"goods tag up to the next },\\\"",
       R"({\"t1042\":1,\"t1059\":[{)" + kTwoItems + R"(}],\"t1084\":{\"t1085\":\"note\"},\"t1031\":100})", kTwoGoods},
      // Without any item Goods stays empty: no Good is made up.
      {"goods tag without },\\\" after it", R"({\"t1042\":1,\"t1059\":[{)" + kTwoItems + R"(}]})", {}},
      {"no goods array at all", R"({\"t1042\":1,\"t1031\":100})", {}},
      {"goods array without any t1023", R"({\"t1042\":1,\"tl1059\":[{\"t1030\":\"Tea\",\"t1079\":5000}]})", {}},
      {"list marker too close to the end", R"({\"tl1059\"}]})", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tinyxml2::XMLDocument d;
    tinyxml2::XMLElement* list = addRootElementWithText(d, "Checks", "");
    std::string text = document(1, 3, "2020-03-02T10:15:30.000+0000", c.body);
    if (c.lastBraceLost) text.pop_back();
    processOneCheckElement(d, list, text, values);
    const tinyxml2::XMLElement* check = list->FirstChildElement("Check");
    ASSERT_NE(nullptr, check);
    EXPECT_EQ(1u, children(check, "Goods").size());
    EXPECT_EQ(c.goods, goodsOf(check));
  }
}

TEST_F(CheckElementTest, GoodValuesComeFromTheItem) {
  struct Case {
    std::string item;
    Attributes good;
  };
  const std::vector<Case> cases = {
      // Kopecks become currency units with two decimals.
      {R"("t1023\":\"1\",\"t1079\":5000,\"t1043\":15000,\"t1199\":1,\"t1214\":4,\"t1030\":\"x\")",
       {{"Code", ""}, {"Quantity", "1"}, {"Price", "50.00"}, {"Sum", "150.00"}, {"TaxRate", "20"}, {"PaymentMethod", "4"}}},
      {R"("t1023\":\"0.250\",\"t1079\":5,\"t1043\":-45,\"t1030\":\"x\")",
       {{"Code", ""}, {"Quantity", "0.250"}, {"Price", "0.05"}, {"Sum", "-0.45"}, {"TaxRate", "0"}, {"PaymentMethod", "0"}}},
      // A quantity written as a bare number reads as well, also as the item's last tag.
      {R"("t1023\":3,\"t1079\":100,\"t1030\":\"x\")",
       {{"Code", ""}, {"Quantity", "3"}, {"Price", "1.00"}, {"Sum", "0.00"}, {"TaxRate", "0"}, {"PaymentMethod", "0"}}},
      {R"("t1030\":\"x\",\"t1023\":25)",
       {{"Code", ""}, {"Quantity", "25"}, {"Price", "0.00"}, {"Sum", "0.00"}, {"TaxRate", "0"}, {"PaymentMethod", "0"}}},
      // A number as the item's last tag keeps its last digit (the item is cut without its brace).
      {R"("t1023\":\"1\",\"t1199\":2,\"t1214\":4,\"t1079\":5000)",
       {{"Code", ""}, {"Quantity", "1"}, {"Price", "50.00"}, {"Sum", "0.00"}, {"TaxRate", "10"}, {"PaymentMethod", "4"}}},
      {R"("t1023\":\"1\",\"t1079\":5000,\"t1214\":4)",
       {{"Code", ""}, {"Quantity", "1"}, {"Price", "50.00"}, {"Sum", "0.00"}, {"TaxRate", "0"}, {"PaymentMethod", "4"}}},
      // Escapes inside a code stay as they are in the body.
      {R"("t1023\":\"1\",\"t40385\":\"A\\/B\\\"C\",\"t1030\":\"x\")",
       {{"Code", R"(A\\/B\\\"C)"}, {"Quantity", "1"}, {"Price", "0.00"}, {"Sum", "0.00"}, {"TaxRate", "0"}, {"PaymentMethod", "0"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    EXPECT_EQ(c.good, goodOf(c.item));
  }
  // Whatever the spelling, a quantity is a plain decimal of at most three
  // decimals, and above 0 (1C divides the Sum by it): one with no reading,
  // below 0 or 0 at three decimals is 1 for a line without Price or Sum.
  const std::vector<std::pair<std::string, std::string>> quantities = {
      {R"(\"1,500\")", "1.500"},  {R"(\"1.2345\")", "1.235"}, {"1e-3", "0.001"},       {R"(\" +007.50 \")", "7.50"},
      {"-1.0005", "1"},           {"-0.0004", "1"},           {"0.0005", "0.001"},      {"999.9995", "1000.000"},
      {"1.5E+1", "15"},           {"2e-999999999999", "1"},   {"0e999999999999", "1"},  {"123456789012.0004", "123456789012.000"},
      {R"(\"\")", "1"},           {R"(\"1.5 kg\")", "1"},     {"1.2.3", "1"},           {"e5", "1"},
      {"0", "1"},                 {"0.000", "1"},
  };
  for (const auto& [written, quantity] : quantities) {
    const Attributes good = goodOf(R"("t1023\":)" + written + R"(,\"t1030\":\"x\")");
    EXPECT_EQ(quantity, good.at(1).second) << written;
  }
  // With a Price and a Sum, such a quantity is Sum / Price at three decimals, at least 0.001.
  const std::vector<std::pair<std::string, std::string>> fromSums = {
      {R"(\"\",\"t1079\":5000,\"t1043\":12500)", "2.500"},  // no reading
      {R"(0,\"t1079\":300,\"t1043\":100)", "0.333"},         // zero, rounded down
      {R"(0.0001,\"t1079\":300,\"t1043\":200)", "0.667"},    // 0 at three decimals, rounded up
      {R"(0,\"t1079\":100000,\"t1043\":1)", "0.001"},        // never below 0.001
      {R"(0,\"t1079\":-500,\"t1043\":-1500)", "3.000"},      // the signs left out
      {R"(-2,\"t1079\":5000,\"t1043\":12500)", "2.500"},    // below 0
      {R"(0,\"t1079\":0,\"t1043\":1500)", "1"},              // no Price: 1C takes it from the Sum
      {R"(0,\"t1079\":1500,\"t1043\":0)", "1"},
      {R"(0,\"t1079\":1,\"t1043\":999999999999999)", "1"},  // a quotient of more than 15 digits
      {R"(\"2\",\"t1079\":5000,\"t1043\":12500)", "2"},     // a quantity that reads stays as it is
  };
  for (const auto& [written, quantity] : fromSums) {
    const Attributes good = goodOf(R"("t1023\":)" + written + R"(,\"t1030\":\"x\")");
    EXPECT_EQ(quantity, good.at(1).second) << written;
  }
}

TEST_F(CheckElementTest, MapsTaxRateCodes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"1", "20"}, {"2", "10"}, {"3", "20/120"}, {"4", "10/110"}, {"5", "0"}, {"6", "none"},
      {"7", "7"},  {"0", "0"},  {"01", "01"},    {"", ""},
  };
  for (const auto& [code, rate] : cases)
    EXPECT_EQ(rate, goodOf("\"t1023\\\":\\\"1\\\",\\\"t1199\\\":" + code + ",\\\"t1214\\\":4,\\\"t1030\\\":\\\"x\\\"").at(4).second)
        << "t1199 " << code;
  // An item without t1199 reads the scanner's "0".
  EXPECT_EQ("0", goodOf("\"t1023\\\":\\\"1\\\",\\\"t1030\\\":\\\"x\\\"").at(4).second);
}

TEST_F(CheckElementTest, OddDocumentsTakeDefaults) {
  struct Case {
    const char* name;
    std::string text;
    Attributes check;
    std::vector<std::string> childElements;
  };
  const std::vector<Case> cases = {
      {"no body", R"({"id":5,"docKind":3,"docDt":"2020-03-02T10:15:30.000+0000"})",
       {{"Date", "2020-03-02T10:15:30"}, {"Number", "0"}, {"TaxationSystem", "0"}, {"OperationType", "0"}},
       {}},
      // A check without a readable date takes its shift's ClosingDate.
      {"no docDt", document(5, 3, "", R"({\"t1042\":9,\"t1031\":100})"),
       {{"Date", "2020-03-02T20:00:00"}, {"Number", "9"}, {"TaxationSystem", "0"}, {"OperationType", "0"}},
       {"Goods", "Payments"}},
      {"docDt that is no date", document(5, 3, "yesterday", R"({\"t1042\":9,\"t1031\":100})"),
       {{"Date", "2020-03-02T20:00:00"}, {"Number", "9"}, {"TaxationSystem", "0"}, {"OperationType", "0"}},
       {"Goods", "Payments"}},
      {"body cut after a tag", R"({"id":5,"docDt":"2020-03-02T10:15:30.000+0000","body":"{\"t1042\":)",
       {{"Date", "2020-03-02T10:15:30"}, {"Number", "0"}, {"TaxationSystem", "0"}, {"OperationType", "0"}},
       {"Goods", "Payments"}},
      // An empty number counts as a missing one.
      {"empty numbers", document(5, 3, "2020-03-02T10:15:30.000+0000", R"({\"t1042\":9,\"t1055\":,\"t1054\": 1 ,\"t1031\":1})"),
       {{"Date", "2020-03-02T10:15:30"}, {"Number", "9"}, {"TaxationSystem", "0"}, {"OperationType", "1"}},
       {"Goods", "Payments"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tinyxml2::XMLDocument d;
    tinyxml2::XMLElement* list = addRootElementWithText(d, "Checks", "");
    processOneCheckElement(d, list, c.text, values);
    const tinyxml2::XMLElement* check = list->FirstChildElement("Check");
    ASSERT_NE(nullptr, check);
    EXPECT_EQ(c.check, attributesOf(check));
    EXPECT_EQ(c.childElements, childNames(check));
  }
  // An empty document text writes nothing.
  processOneCheckElement(doc, checks, "", values);
  EXPECT_EQ(nullptr, checks->FirstChildElement());
}

// 1C reads one means of payment per Payment element, so each means paid gets its own.
TEST_F(CheckElementTest, PaymentsHoldOneMeansEach) {
  const Attributes kZero = {{"Cash", "0.00"}, {"ElectronicPayment", "0.00"}, {"PrePayment", "0.00"},
                            {"PostPayment", "0.00"}, {"Barter", "0.00"}};
  auto only = [&](std::size_t means, const char* sum) {
    Attributes payment = kZero;
    payment.at(means).second = sum;
    return payment;
  };
  struct Case {
    std::string body;
    std::vector<Attributes> payments;
  };
  const std::vector<Case> cases = {
      {R"({\"t1031\":10000,\"t1042\":1})", {only(0, "100.00")}},
      {R"({\"t1081\":15000,\"t1031\":0,\"t1042\":1})", {only(1, "150.00")}},
      {R"({\"t1031\":5000,\"t1081\":2550,\"t1042\":1})", {only(0, "50.00"), only(1, "25.50")}},
      {R"({\"t1217\":100,\"t1216\":45,\"t1215\":5,\"t1031\":000,\"t1042\":1})",
       {only(2, "0.05"), only(3, "0.45"), only(4, "1.00")}},
      {R"({\"t1031\":-300,\"t1081\":300,\"t1042\":1})", {only(0, "-3.00"), only(1, "3.00")}},
      {R"({\"t1042\":1})", {kZero}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    tinyxml2::XMLDocument d;
    tinyxml2::XMLElement* check = addRootElementWithText(d, "Check", "");
    addElementWithText(d, check, "Goods", "");
    ValueNotes notes;
    processCheckPayments(d, check, c.body, notes);
    EXPECT_EQ((std::vector<std::string>{"Goods", "Payments"}), childNames(check));
    std::vector<Attributes> payments;
    for (const auto* payment : children(check->FirstChildElement("Payments"), "Payment")) payments.push_back(attributesOf(payment));
    EXPECT_EQ(c.payments, payments);
    EXPECT_TRUE(notes.empty());
  }
}

}  // namespace
