#include "importdata_schema_check.h"

#include <tinyxml2.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kkmtest {

namespace {

constexpr std::string_view kXsiNamespace = "http://www.w3.org/2001/XMLSchema-instance";
constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";

// ---- values ---------------------------------------------------------------

enum class Value { String, Code, Quantity, Money, Decimal, Integer, DateTime, Uuid, ShiftState, Movement, DocType };

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view collapsed(std::string_view v) {
  while (!v.empty() && isBlank(v.front())) v.remove_prefix(1);
  while (!v.empty() && isBlank(v.back())) v.remove_suffix(1);
  return v;
}

// xs:decimal; a facet of -1 is absent. xmllint holds at most 24 digits
// (leading zeros of the integer part not counted) and refuses longer values.
std::string decimalProblem(std::string_view raw, int totalDigits, int fractionDigits) {
  const std::string_view v = collapsed(raw);
  std::size_t i = 0;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) ++i;
  const std::size_t intStart = i;
  while (i < v.size() && isDigit(v[i])) ++i;
  const std::size_t intEnd = i;
  std::size_t fracStart = i, fracEnd = i;
  if (i < v.size() && v[i] == '.') {
    fracStart = ++i;
    while (i < v.size() && isDigit(v[i])) ++i;
    fracEnd = i;
  }
  if (i != v.size() || (intEnd == intStart && fracEnd == fracStart)) return "not a decimal number";
  std::size_t firstSignificant = intStart;
  while (firstSignificant < intEnd && v[firstSignificant] == '0') ++firstSignificant;
  const std::size_t intDigits = intEnd - firstSignificant;
  if (intDigits + (fracEnd - fracStart) > 24) return "more than 24 digits, more than xmllint reads";
  while (fracEnd > fracStart && v[fracEnd - 1] == '0') --fracEnd;
  const std::size_t fracDigits = fracEnd - fracStart;
  if (fractionDigits >= 0 && fracDigits > static_cast<std::size_t>(fractionDigits))
    return "more than " + std::to_string(fractionDigits) + " fraction digits";
  if (totalDigits >= 0 && intDigits + fracDigits > static_cast<std::size_t>(totalDigits))
    return "more than " + std::to_string(totalDigits) + " digits";
  return "";
}

// The schema's IntegerType: xs:integer, at least 0. `digits` gets the value
// without sign and leading zeros.
std::string integerProblem(std::string_view raw, std::string_view* digits = nullptr) {
  const std::string_view v = collapsed(raw);
  std::size_t i = 0;
  const bool negative = !v.empty() && v[0] == '-';
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) ++i;
  const std::size_t start = i;
  while (i < v.size() && isDigit(v[i])) ++i;
  if (i != v.size() || i == start) return "not an integer";
  std::size_t first = start;
  while (first < v.size() && v[first] == '0') ++first;
  if (v.size() - first > 24) return "more than 24 digits, more than xmllint reads";
  if (negative && first < v.size()) return "less than 0";
  if (digits) *digits = v.substr(first);
  return "";
}

bool twoDigits(std::string_view v, std::size_t at, int& out) {
  if (at + 2 > v.size() || !isDigit(v[at]) || !isDigit(v[at + 1])) return false;
  out = (v[at] - '0') * 10 + (v[at + 1] - '0');
  return true;
}

// xs:dateTime as xmllint reads it: no blanks around it, a year of at least
// four digits (no leading zero beyond four, not 0, within a long), a real
// day of its month, 24:00:00 for the day's end, a zone up to 14:00.
std::string dateTimeProblem(std::string_view v) {
  const std::string bad = "not an xs:dateTime (YYYY-MM-DDThh:mm:ss[.s][zone])";
  std::size_t i = 0;
  const bool negative = !v.empty() && v[0] == '-';
  if (negative) ++i;
  const std::size_t yearStart = i;
  std::int64_t year = 0;
  while (i < v.size() && isDigit(v[i])) {
    const int digit = v[i] - '0';
    if (year > (INT64_MAX - digit) / 10) return "a year beyond what xmllint reads";
    year = year * 10 + digit;
    ++i;
  }
  const std::size_t yearDigits = i - yearStart;
  if (yearDigits < 4 || (yearDigits > 4 && v[yearStart] == '0')) return bad;
  if (year == 0) return "year 0";
  if (negative) year = -year;
  int month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (i >= v.size() || v[i] != '-' || !twoDigits(v, i + 1, month)) return bad;
  i += 3;
  if (i >= v.size() || v[i] != '-' || !twoDigits(v, i + 1, day)) return bad;
  i += 3;
  if (i >= v.size() || v[i] != 'T' || !twoDigits(v, i + 1, hour)) return bad;
  i += 3;
  if (i >= v.size() || v[i] != ':' || !twoDigits(v, i + 1, minute)) return bad;
  i += 3;
  if (i >= v.size() || v[i] != ':' || !twoDigits(v, i + 1, second)) return bad;
  i += 3;
  // The seconds as xmllint adds them up, fraction included.
  double seconds = second;
  if (i < v.size() && v[i] == '.') {
    ++i;
    if (i >= v.size() || !isDigit(v[i])) return bad;
    double weight = 1;
    while (i < v.size() && isDigit(v[i])) {
      weight /= 10;
      seconds += (v[i] - '0') * weight;
      ++i;
    }
  }
  if (i < v.size()) {
    int zoneHour = 0, zoneMinute = 0;
    if (v[i] == 'Z') {
      ++i;
    } else if ((v[i] == '+' || v[i] == '-') && twoDigits(v, i + 1, zoneHour) && i + 3 < v.size() &&
               v[i + 3] == ':' && twoDigits(v, i + 4, zoneMinute)) {
      i += 6;
      if (zoneHour > 23 || zoneMinute > 59 || zoneHour * 60 + zoneMinute > 14 * 60) return "a zone beyond 14:00";
    } else {
      return bad;
    }
  }
  if (i != v.size()) return bad;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12) return "month " + std::to_string(month);
  if (day < 1 || day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return "no such day";
  const bool endOfDay = hour == 24 && minute == 0 && seconds == 0;
  if (!endOfDay && (hour > 23 || minute > 59 || seconds >= 60)) return "no such time of day";
  return "";
}

// The platform's UUID: 8-4-4-4-12 hexadecimal digits, nothing around them.
std::string uuidProblem(std::string_view v) {
  if (v.size() != 36) return "not a UUID (8-4-4-4-12 hexadecimal digits)";
  for (std::size_t i = 0; i < v.size(); ++i) {
    const char c = v[i];
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    const bool hex = isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (dash ? c != '-' : !hex) return "not a UUID (8-4-4-4-12 hexadecimal digits)";
  }
  return "";
}

std::string valueProblem(Value type, std::string_view v) {
  switch (type) {
    case Value::String:
      return "";
    case Value::Code: {
      std::size_t characters = 0;  // the text is valid UTF-8 by now
      for (const char c : v) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
      return characters > 36 ? "longer than 36 characters" : "";
    }
    case Value::Quantity:
      return decimalProblem(v, 15, 3);
    case Value::Money:
      return decimalProblem(v, 15, 2);
    case Value::Decimal:
      return decimalProblem(v, -1, -1);
    case Value::Integer:
      return integerProblem(v);
    case Value::DateTime:
      return dateTimeProblem(v);
    case Value::Uuid:
      return uuidProblem(v);
    case Value::ShiftState: {
      std::string_view digits;
      const std::string problem = integerProblem(v, &digits);
      if (!problem.empty()) return problem;
      return digits == "1" || digits == "2" ? "" : "not 1 or 2";
    }
    case Value::Movement:
      return v == "Income" || v == "Outcome" ? "" : "not Income or Outcome";
    case Value::DocType:
      return v == "Check" || v == "Order" ? "" : "not Check or Order";
  }
  return "";
}

// A value for a message: control bytes shown as \xNN, long values cut.
std::string shown(std::string_view v) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(v[i]);
    if (out.size() >= 60 && (c & 0xC0) != 0x80) return out + "...";
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// ---- the schema as tables -------------------------------------------------

enum Type {
  tImportData, tSaleReports, tSaleReport, tChecks, tCheck, tCheckGoods, tCheckGood, tExciseStamps, tExciseStamp,
  tPayments, tPayment, tIncomeOutcomeChecks, tIncomeOutcomeCheck, tTareOpenings, tTareOpening, tTareGoods,
  tTareGood, tShiftState, tTypeCount
};
enum class Content { Empty, Elements, Simple };
constexpr int kMany = -1;

struct Attribute {
  const char* name;
  Value value;
  bool required;
};
struct Particle {
  const char* name;
  Type type;
  int min, max;
  bool nillable;
};
struct ElementType {
  Content content = Content::Empty;
  Value simple = Value::String;
  std::vector<Attribute> attributes;
  std::vector<Particle> children;  // a sequence
};

std::vector<ElementType> schemaOf(ImportDataFormat format) {
  const bool v3003 = format == ImportDataFormat::v3003;
  std::vector<ElementType> t(tTypeCount);
  t[tImportData] = {Content::Elements, Value::String,
                    {{"FormatVersion", Value::Integer, true}, {"Processed", Value::DateTime, false}},
                    {{"SaleReports", tSaleReports, 0, 1, false}, {"AlcoholTareOpenings", tTareOpenings, 0, 1, false}}};
  t[tSaleReports] = {Content::Elements, Value::String, {}, {{"SaleReport", tSaleReport, 1, kMany, false}}};
  t[tSaleReport] = {Content::Elements, Value::String,
                    {{"ShiftNumber", Value::String, true},
                     {"OpeningDate", Value::DateTime, true},
                     {"ClosingDate", Value::DateTime, !v3003},
                     {"UUID", Value::Uuid, false}},
                    {{"Checks", tChecks, 0, 1, false}, {"IncomeOutcomeChecks", tIncomeOutcomeChecks, 0, 1, false}}};
  if (v3003)
    t[tSaleReport].attributes.push_back({"ShiftState", Value::ShiftState, true});
  else
    t[tSaleReport].children.push_back({"ShiftState", tShiftState, 1, 1, false});
  t[tShiftState] = {Content::Simple, Value::ShiftState, {}, {}};
  t[tChecks] = {Content::Elements, Value::String, {}, {{"Check", tCheck, 0, kMany, true}}};
  t[tCheck] = {Content::Elements, Value::String,
               {{"Date", Value::DateTime, true},
                {"Number", Value::String, true},
                {"TaxationSystem", Value::Integer, true},
                {"OperationType", Value::Integer, true},
                {"UUID", Value::Uuid, false},
                {"RefDocumentUUID", Value::Uuid, false},
                {"RefDocumentType", Value::DocType, false}},
               {{"Goods", tCheckGoods, 0, 1, true}, {"Payments", tPayments, 0, 1, true}}};
  t[tCheckGoods] = {Content::Elements, Value::String, {}, {{"Good", tCheckGood, 0, kMany, true}}};
  t[tCheckGood] = {Content::Empty, Value::String,
                   {{"Code", Value::Code, true},
                    {"Quantity", Value::Quantity, true},
                    {"Price", Value::Money, true},
                    {"Sum", Value::Money, true},
                    {"TaxRate", Value::String, true},
                    {"PaymentMethod", Value::Integer, true},
                    {"GoodUUID", Value::Uuid, false},
                    {"CharacteristicUUID", Value::Uuid, false},
                    {"PackingUUID", Value::Uuid, false}},
                   {}};
  if (v3003) {
    t[tCheckGood].content = Content::Elements;
    t[tCheckGood].children.push_back({"ExciseStamps", tExciseStamps, 0, 1, false});
  } else {
    t[tCheckGood].attributes.push_back({"AlcoholExciseStamp", Value::String, false});
  }
  t[tExciseStamps] = {Content::Elements, Value::String, {}, {{"ExciseStamp", tExciseStamp, 1, kMany, false}}};
  t[tExciseStamp] = {Content::Simple, Value::String, {}, {}};
  t[tPayments] = {Content::Elements, Value::String, {}, {{"Payment", tPayment, 1, kMany, false}}};
  t[tPayment] = {Content::Empty, Value::String,
                 {{"Cash", Value::Decimal, true},
                  {"ElectronicPayment", Value::Decimal, true},
                  {"PrePayment", Value::Decimal, true},
                  {"PostPayment", Value::Decimal, true},
                  {"Barter", Value::Decimal, true},
                  {"ElectronicPaymentOptionCode", Value::Code, false},
                  {"ElectronicPaymentOptionUUID", Value::Uuid, false}},
                 {}};
  t[tIncomeOutcomeChecks] = {
      Content::Elements, Value::String, {}, {{"IncomeOutcomeCheck", tIncomeOutcomeCheck, 1, kMany, false}}};
  t[tIncomeOutcomeCheck] = {Content::Empty, Value::String,
                            {{"Date", Value::DateTime, true},
                             {"Number", Value::String, true},
                             {"Type", Value::Movement, true},
                             {"Sum", Value::Decimal, true},
                             {"UUID", Value::Uuid, false}},
                            {}};
  t[tTareOpenings] = {Content::Elements, Value::String, {}, {{"AlcoholTareOpening", tTareOpening, 1, kMany, false}}};
  t[tTareOpening] = {Content::Elements, Value::String,
                     {{"Date", Value::DateTime, true}, {"Number", Value::String, true}, {"UUID", Value::Uuid, false}},
                     {{"Goods", tTareGoods, 0, 1, true}}};
  if (v3003) {
    t[tTareOpening].attributes.push_back({"NumberDoc", Value::String, false});
    t[tTareOpening].attributes.push_back({"KegInstallment", Value::String, false});
  }
  t[tTareGoods] = {Content::Elements, Value::String, {}, {{"Good", tTareGood, 0, kMany, true}}};
  t[tTareGood] = {Content::Empty, Value::String,
                  {{"Code", Value::Code, true},
                   {"Quantity", Value::Quantity, true},
                   {"AlcoholExciseStamp", Value::String, false},
                   {"GoodUUID", Value::Uuid, false},
                   {"CharacteristicUUID", Value::Uuid, false},
                   {"PackUUID", Value::Uuid, false}},
                  {}};
  return t;
}

// ---- the text itself ------------------------------------------------------

std::string atLine(std::string_view text, std::size_t at) {
  std::size_t line = 1;
  for (std::size_t i = 0; i < at && i < text.size(); ++i) line += text[i] == '\n';
  return "line " + std::to_string(line) + ": ";
}

bool legalCharacter(std::uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

// The code point of the UTF-8 sequence at `at` and its length; 0 length when
// the bytes are no UTF-8 (overlong forms and surrogates included).
std::uint32_t decodeUtf8(std::string_view text, std::size_t at, std::size_t& length) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  length = 0;
  std::size_t n = 0;
  std::uint32_t c = 0, least = 0;
  if (lead < 0x80) {
    length = 1;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    n = 2, c = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    n = 3, c = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    n = 4, c = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (at + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const unsigned char b = static_cast<unsigned char>(text[at + k]);
    if ((b & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  length = n;
  return c;
}

// The reference that starts with '&' at `at`: "" when it is a character
// reference to an XML character or one of the five predefined entities.
std::string referenceProblem(std::string_view text, std::size_t at) {
  const std::size_t end = text.find(';', at);
  if (end == std::string_view::npos || end - at > 12) return atLine(text, at) + "'&' that starts no reference";
  const std::string_view ref = text.substr(at + 1, end - at - 1);
  if (ref == "lt" || ref == "gt" || ref == "amp" || ref == "quot" || ref == "apos") return "";
  if (ref.size() < 2 || ref[0] != '#') return atLine(text, at) + "undefined entity &" + shown(ref) + ";";
  const bool hex = ref[1] == 'x';
  std::uint32_t c = 0;
  const std::string_view digits = ref.substr(hex ? 2 : 1);
  for (const char d : digits) {
    int value = -1;
    if (isDigit(d)) value = d - '0';
    if (hex && d >= 'a' && d <= 'f') value = d - 'a' + 10;
    if (hex && d >= 'A' && d <= 'F') value = d - 'A' + 10;
    if (value < 0) return atLine(text, at) + "bad character reference &" + shown(ref) + ";";
    c = c * (hex ? 16 : 10) + static_cast<std::uint32_t>(value);
    if (c > 0x10FFFF) break;
  }
  if (digits.empty() || !legalCharacter(c))
    return atLine(text, at) + "character reference &" + shown(ref) + "; to a character XML does not allow";
  return "";
}

// What tinyxml2 lets through: bytes that are not UTF-8, characters and
// references XML 1.0 does not allow, an unknown entity, '<' in an attribute
// value, another encoding, a document type. `withText` gets the numbers (in
// document order, from 0) of the elements with character data of their own,
// blanks included, which tinyxml2 drops.
std::string textProblem(std::string_view text, std::set<std::size_t>& withText) {
  std::size_t start = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  for (std::size_t i = start; i < text.size();) {
    std::size_t length = 0;
    const std::uint32_t c = decodeUtf8(text, i, length);
    if (length == 0) return atLine(text, i) + "bytes that are not UTF-8";
    if (!legalCharacter(c)) {
      static const char hex[] = "0123456789ABCDEF";
      std::string code;
      for (std::uint32_t v = c; code.size() < 4 || v != 0; v >>= 4) code.insert(code.begin(), hex[v & 0xF]);
      return atLine(text, i) + "character U+" + code + ", which XML does not allow";
    }
    i += length;
  }
  std::size_t element = 0;
  std::vector<std::pair<std::size_t, bool>> open;  // the elements the text is in; whether it has text
  for (std::size_t pos = start; pos < text.size();) {
    const std::string_view rest = text.substr(pos);
    if ((rest[0] != '<' || rest.substr(0, 9) == "<![CDATA[") && !open.empty() && !open.back().second) {
      open.back().second = true;
      withText.insert(open.back().first);
    }
    if (rest[0] == '&') {
      const std::string problem = referenceProblem(text, pos);
      if (!problem.empty()) return problem;
    }
    if (rest[0] != '<') {
      ++pos;
      continue;
    }
    std::string_view close;
    if (rest.substr(0, 4) == "<!--") close = "-->";
    else if (rest.substr(0, 9) == "<![CDATA[") close = "]]>";
    else if (rest.substr(0, 2) == "<?") close = "?>";
    else if (rest.substr(0, 2) == "</") close = ">";
    if (!close.empty()) {
      const std::size_t end = text.find(close, pos + 2);
      if (end == std::string_view::npos) return "";  // tinyxml2 says so
      if (close == ">" && !open.empty()) open.pop_back();
      if (pos == start && rest.substr(0, 6) == "<?xml ") {
        const std::string_view declaration = text.substr(pos, end - pos);
        const std::size_t e = declaration.find("encoding");
        const std::size_t q = e == std::string_view::npos ? e : declaration.find_first_of("\"'", e);
        if (q != std::string_view::npos) {
          const std::string_view name = declaration.substr(q + 1, declaration.find(declaration[q], q + 1) - q - 1);
          std::string lower;
          for (const char ch : name) lower += static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch + 32 : ch);
          if (lower != "utf-8") return atLine(text, pos) + "encoding " + shown(name) + " (only UTF-8 is checked)";
        }
      }
      pos = end + close.size();
      continue;
    }
    if (rest.substr(0, 2) == "<!") return atLine(text, pos) + "a document type declaration (not checked)";
    // A start tag: find its end outside the attribute values.
    std::size_t q = pos + 1;
    char quote = 0;
    for (; q < text.size(); ++q) {
      const char ch = text[q];
      if (quote != 0) {
        if (ch == quote) quote = 0;
        else if (ch == '<') return atLine(text, q) + "'<' in an attribute value";
        else if (ch == '&') {
          const std::string problem = referenceProblem(text, q);
          if (!problem.empty()) return problem;
        }
      } else if (ch == '"' || ch == '\'') {
        quote = ch;
      } else if (ch == '>') {
        break;
      }
    }
    if (q >= text.size()) return "";  // tinyxml2 says so
    if (text[q - 1] != '/') open.emplace_back(element, false);
    ++element;
    pos = q + 1;
  }
  return "";
}

// ---- the elements ---------------------------------------------------------

class Checker {
 public:
  Checker(ImportDataFormat format, const tinyxml2::XMLDocument& doc, std::set<std::size_t> withText)
      : types_(schemaOf(format)),
        namespace_(format == ImportDataFormat::v3003 ? "http://www.1c.ru/EquipmentService/3.0.0.3"
                                                     : "http://www.1c.ru/EquipmentService/3.0.0.0"),
        withText_(std::move(withText)) {
    number(doc.RootElement());
    bindings_.emplace_back("xml", std::string(kXmlNamespace));
  }

  std::string root(const tinyxml2::XMLElement* e) {
    const std::size_t mark = bind(e);
    std::string problem = nameProblem(e, "ImportData", "ImportData");
    if (problem.empty()) problem = element(e, types_[tImportData], false, "ImportData");
    bindings_.resize(mark);
    return problem;
  }

 private:
  // Numbers the elements in document order, as textProblem counts them.
  void number(const tinyxml2::XMLElement* e) {
    for (; e != nullptr; e = e->NextSiblingElement()) {
      const std::size_t next = ordinal_.size();
      ordinal_[e] = next;
      number(e->FirstChildElement());
    }
  }

  // Adds the namespace declarations of `e`; returns the mark to go back to.
  std::size_t bind(const tinyxml2::XMLElement* e) {
    const std::size_t mark = bindings_.size();
    for (const tinyxml2::XMLAttribute* a = e->FirstAttribute(); a; a = a->Next()) {
      const std::string_view name = a->Name();
      if (name == "xmlns") bindings_.emplace_back("", a->Value());
      if (name.substr(0, 6) == "xmlns:") bindings_.emplace_back(std::string(name.substr(6)), a->Value());
    }
    return mark;
  }

  // The namespace of `prefix`, or nullptr when it is not declared.
  const std::string* resolve(std::string_view prefix) const {
    for (auto b = bindings_.rbegin(); b != bindings_.rend(); ++b)
      if (b->first == prefix) return &b->second;
    static const std::string none;
    return prefix.empty() ? &none : nullptr;
  }

  struct Name {
    std::string problem;
    const std::string* ns = nullptr;
    std::string_view local;
  };
  // An unprefixed attribute is in no namespace; an unprefixed element in the
  // default one.
  Name split(std::string_view qualified, bool attribute = false) const {
    Name n;
    const std::size_t colon = qualified.find(':');
    n.local = colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
    const std::string_view prefix = colon == std::string_view::npos ? std::string_view() : qualified.substr(0, colon);
    if (n.local.find(':') != std::string_view::npos || (colon != std::string_view::npos && prefix.empty())) {
      n.problem = "the name " + shown(qualified) + " has more than one prefix";
    } else {
      static const std::string none;
      n.ns = attribute && colon == std::string_view::npos ? &none : resolve(prefix);
      if (n.ns == nullptr) n.problem = "namespace prefix " + shown(prefix) + " is not declared";
    }
    return n;
  }

  std::string nameProblem(const tinyxml2::XMLElement* e, const char* expected, const std::string& path) const {
    const Name n = split(e->Name());
    if (!n.problem.empty()) return path + ": " + n.problem;
    if (n.local != expected) return path + ": element " + shown(e->Name()) + " where " + expected + " belongs";
    if (*n.ns != namespace_)
      return path + ": element " + expected + " in namespace \"" + shown(*n.ns) + "\", not " + namespace_;
    return "";
  }

  std::string element(const tinyxml2::XMLElement* e, const ElementType& type, bool nillable, const std::string& path) {
    // Attributes.
    bool nilled = false;
    std::vector<bool> seen(type.attributes.size(), false);
    for (const tinyxml2::XMLAttribute* a = e->FirstAttribute(); a; a = a->Next()) {
      const std::string_view name = a->Name();
      if (name == "xmlns" || name.substr(0, 6) == "xmlns:") continue;
      const auto said = [&] { return path + ": attribute " + shown(name) + "=\"" + shown(a->Value()) + "\""; };
      const Name n = split(name, true);
      if (!n.problem.empty()) return said() + ": " + n.problem;
      if (!n.ns->empty()) {
        if (*n.ns != kXsiNamespace || n.local == "type") return said() + " is not allowed here";
        if (n.local == "schemaLocation" || n.local == "noNamespaceSchemaLocation") continue;
        if (n.local != "nil") return said() + " is not allowed here";
        if (!nillable) return said() + ": the element is not nillable";
        const std::string_view v = collapsed(a->Value());
        if (v != "true" && v != "false" && v != "1" && v != "0") return said() + ": not a boolean";
        nilled = v == "true" || v == "1";
        continue;
      }
      std::size_t k = 0;
      while (k < type.attributes.size() && n.local != type.attributes[k].name) ++k;
      if (k == type.attributes.size()) return said() + " is not allowed here";
      seen[k] = true;
      const std::string problem = valueProblem(type.attributes[k].value, a->Value());
      if (!problem.empty()) return said() + ": " + problem;
    }
    for (std::size_t k = 0; k < type.attributes.size(); ++k)
      if (type.attributes[k].required && !seen[k])
        return path + ": attribute " + type.attributes[k].name + " is missing";

    // Content.
    const auto found = ordinal_.find(e);
    std::string text;
    bool hasText = found != ordinal_.end() && withText_.count(found->second) > 0;
    for (const tinyxml2::XMLNode* c = e->FirstChild(); c; c = c->NextSibling()) {
      if (const tinyxml2::XMLText* t = c->ToText()) {
        text += t->Value();
        hasText = true;
      }
    }
    if (nilled) {
      if (e->FirstChildElement() != nullptr || hasText) return path + ": xsi:nil=\"true\" on an element with content";
      return "";
    }
    if (type.content == Content::Simple) {
      if (e->FirstChildElement() != nullptr) return path + ": element content where a value belongs";
      const std::string problem = valueProblem(type.simple, text);
      return problem.empty() ? "" : path + ": value \"" + shown(text) + "\": " + problem;
    }
    if (type.content == Content::Empty) {
      if (e->FirstChildElement() != nullptr) return path + ": element " + shown(e->FirstChildElement()->Name()) +
                                                    " where no content is allowed";
      if (!hasText) return "";
      return path + ": " + (text.empty() ? std::string("blanks") : "text \"" + shown(text) + "\"") +
             " where no content is allowed";
    }
    if (!collapsed(text).empty()) return path + ": text \"" + shown(collapsed(text)) + "\" among the elements";

    // The children, in the order and numbers of the sequence.
    std::size_t p = 0;
    int count = 0;
    for (const tinyxml2::XMLElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) {
      const std::size_t mark = bind(c);
      const Name n = split(c->Name());
      if (!n.problem.empty()) return path + "/" + shown(c->Name()) + ": " + n.problem;
      while (p < type.children.size() && (n.local != type.children[p].name || *n.ns != namespace_)) {
        if (count < type.children[p].min) return path + ": element " + type.children[p].name + " is missing";
        ++p;
        count = 0;
      }
      if (p == type.children.size()) return path + ": element " + shown(c->Name()) + " is not expected here";
      const Particle& particle = type.children[p];
      ++count;
      if (particle.max != kMany && count > particle.max)
        return path + ": element " + particle.name + " more than " + std::to_string(particle.max) + " time(s)";
      const std::string childPath =
          path + "/" + particle.name + (particle.max == kMany ? "[" + std::to_string(count) + "]" : "");
      const std::string problem = element(c, types_[particle.type], particle.nillable, childPath);
      if (!problem.empty()) return problem;
      bindings_.resize(mark);
    }
    for (; p < type.children.size(); ++p, count = 0)
      if (count < type.children[p].min) return path + ": element " + type.children[p].name + " is missing";
    return "";
  }

  std::vector<ElementType> types_;
  std::string namespace_;
  std::set<std::size_t> withText_;
  std::unordered_map<const tinyxml2::XMLElement*, std::size_t> ordinal_;
  std::vector<std::pair<std::string, std::string>> bindings_;
};

}  // namespace

std::string importDataSchemaViolation(std::string_view text, ImportDataFormat format) {
  std::set<std::size_t> withText;
  const std::string problem = textProblem(text, withText);
  if (!problem.empty()) return problem;
  tinyxml2::XMLDocument doc;
  if (doc.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) return std::string("not XML: ") + doc.ErrorStr();
  int roots = 0;
  for (const tinyxml2::XMLNode* n = doc.FirstChild(); n; n = n->NextSibling()) {
    if (n->ToElement()) ++roots;
    if (n->ToText()) return "text outside the root element";
    if (n->ToUnknown()) return "a document type declaration (not checked)";
  }
  if (roots != 1) return "more than one root element";
  return Checker(format, doc, std::move(withText)).root(doc.RootElement());
}

}  // namespace kkmtest
