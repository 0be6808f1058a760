#include "report/value_rules.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// Every value the file can hold that 1C's schema or loader would not take as
// the service gave it: what is written, and whether it was mended (with a
// note naming the value) or refused (the shift is not written).
TEST(ValueRulesTest, EachValueIsWrittenMendedOrRefused) {
  using Rule = std::function<std::string(std::string_view, ValueNotes&)>;
  const Rule text = [](std::string_view raw, ValueNotes& n) { return textValue(raw, "Name", n); };
  const Rule code = [](std::string_view raw, ValueNotes& n) { return codeValue(raw, "Code", n); };
  const Rule count = [](std::string_view raw, ValueNotes& n) { return countValue(raw, "Number", n); };
  const Rule money = [](std::string_view raw, ValueNotes& n) { return moneyValue(raw, "Sum", kMaxDigits, n); };
  const Rule decimal = [](std::string_view raw, ValueNotes& n) {
    return moneyValue(raw, "Cash", kMaxDecimalDigits, n);
  };
  const auto quantity = [](std::string price, std::string sum) -> Rule {
    return [price, sum](std::string_view raw, ValueNotes& n) { return quantityValue(raw, "Quantity", price, sum, n); };
  };
  const auto date = [](std::string converted, std::string fallback) -> Rule {
    return [converted, fallback](std::string_view raw, ValueNotes& n) {
      return dateValue(converted, raw, "Date", fallback, n);
    };
  };
  struct Case {
    const char* name;
    Rule rule;
    std::string raw;
    std::string written;
    std::string mended = "";   // part of the one note; "" when nothing is mended
    std::string refused = "";  // part of the refusal; "" when nothing is refused
  };
  const std::string kopecks15(15, '9'), kopecks16(16, '9');
  const std::vector<Case> cases = {
      {"plain text", text, "Чай", "Чай"},
      {"tab, line feed and return stay", text, "a\tb\nc\r", "a\tb\nc\r"},
      {"control bytes dropped", text, std::string("a\x01\x1F") + '\0' + "b", "ab", "control bytes dropped from Name"},
      {"DEL stays", text, "a\x7F", "a\x7F"},
      {"broken UTF-8 refused", text, "A\xFF", "A\xFF", "", "Name \"A\\xFF\" is no UTF-8 text that XML allows"},
      {"a surrogate refused", text, "\xED\xA0\x80", "\xED\xA0\x80", "", "no UTF-8 text"},
      {"U+FFFE refused", text, "\xEF\xBF\xBE", "\xEF\xBF\xBE", "", "no UTF-8 text"},
      {"code of 36 characters", code, std::string(35, 'A') + "К", std::string(35, 'A') + "К"},
      {"code of 37 characters refused", code, std::string(37, '7'), std::string(37, '7'), "",
       "has 37 characters, more than 36"},
      {"count", count, " 42 ", "42"},
      {"missing count", count, "", "0"},
      {"negative count refused", count, "-3", "-3", "", "is no whole number of 0 or more"},
      {"count of minus zero", count, "-0", "-0"},
      {"count that is no number refused", count, "4a", "4a", "", "is no whole number"},
      {"kopecks", money, "5000", "50.00"},
      {"a few kopecks", money, "-5", "-0.05"},
      {"no kopecks", money, "", "0.00"},
      {"leading zeros", money, "+0012345", "123.45"},
      {"minus zero kopecks", money, "-0", "0.00"},
      {"kopecks that are no whole number refused", money, "\\\"100\\\"", "\\\"100\\\"", "",
       "is no whole number of kopecks"},
      {"15 digits", money, "9999999999999", "99999999999.99"},
      {"16 digits refused", money, kopecks16, "99999999999999.99", "", "has more than 15 digits"},
      {"16 digits in a plain decimal", decimal, kopecks16, "99999999999999.99"},
      {"25 digits in a plain decimal refused", decimal, std::string(25, '9'), std::string(23, '9') + ".99", "",
       "has more than 24 digits"},
      {"quantity", quantity("1.00", "1.00"), "2", "2"},
      {"quantity with a comma", quantity("1.00", "1.50"), "\\\"1,500\\\"", "1.500"},
      {"quantity rounded half away from zero", quantity("1.00", "1.00"), "1.2345", "1.235"},
      {"quantity 0 from the sum", quantity("3.00", "1.00"), "0", "0.333", "written 0.333 (Sum 1.00 / Price 3.00)"},
      {"quantity 0 at three decimals", quantity("3.00", "2.00"), "0.0001", "0.667", "is 0 at three decimals"},
      {"quantity below 0", quantity("50.00", "125.00"), "-2", "2.500", "is below 0"},
      {"quantity that is no number", quantity("50.00", "125.00"), "\\\"one\\\"", "2.500", "is no number"},
      {"quantity never below 0.001", quantity("1000.00", "0.01"), "0", "0.001", "written 0.001"},
      {"quantity 0 without a price", quantity("0.00", "15.00"), "0", "1", "written 1 (1C takes the price"},
      {"quantity 0 without a sum", quantity("15.00", "0.00"), "0", "1", "written 1"},
      {"quantity of 16 digits refused", quantity("1.00", "1.00"), "1e15", "1e15", "", "has more than 15 digits"},
      {"date", date("2020-03-02T09:00:00", "2020-03-02T20:00:00"), "2020-03-02T09:00:00.000+0000",
       "2020-03-02T09:00:00"},
      {"date taken from the closing", date("", "2020-03-02T20:00:00"), "08:00", "2020-03-02T20:00:00",
       "Date: docDt \"08:00\" is no date, written as the shift's ClosingDate 2020-03-02T20:00:00"},
      {"no date and no closing refused", date("", ""), "", "", "", "Date: no docDt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ValueNotes notes;
    EXPECT_EQ(c.written, c.rule(c.raw, notes));
    if (c.mended.empty()) {
      EXPECT_TRUE(notes.mended.empty()) << notes.mended.front();
    } else {
      ASSERT_EQ(1u, notes.mended.size());
      EXPECT_NE(std::string::npos, notes.mended[0].find(c.mended)) << notes.mended[0];
    }
    if (c.refused.empty())
      EXPECT_EQ("", notes.refused);
    else
      EXPECT_NE(std::string::npos, notes.refused.find(c.refused)) << notes.refused;
  }
}

}  // namespace
