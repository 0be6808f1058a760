#include "report/value_rules.h"

#include <cstdint>

#include "text/escaping.h"

namespace {

constexpr std::size_t kMaxCodeLength = 36;    // maxLength of 1C's code type
constexpr std::size_t kQuantityDecimals = 3;  // fractionDigits of 1C's quantity type
constexpr std::size_t kShownBytes = 64;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isContinuation(unsigned char c) { return c >= 0x80 && c <= 0xBF; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isXmlSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isXmlSpace(text.back())) text.remove_suffix(1);
  return text;
}

// Whether `text` is UTF-8 whose every character XML 1.0 allows (control
// bytes are dropped before); sets `characters` to the count of characters
// as an XML reader sees them in an attribute (CR LF reads as one).
bool xmlCharacters(std::string_view text, std::size_t& characters) {
  characters = 0;
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (b < 0x80) {
      length = 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      if (b == 0xE0) low = 0xA0;   // no overlong form
      if (b == 0xED) high = 0x9F;  // no surrogate
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
    } else {
      return false;
    }
    if (length > n - i) return false;
    if (length > 1) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      if (second < low || second > high) return false;
      for (std::size_t k = 2; k < length; ++k)
        if (!isContinuation(static_cast<unsigned char>(text[i + k]))) return false;
      // U+FFFE and U+FFFF are no XML characters.
      if (b == 0xEF && second == 0xBF && static_cast<unsigned char>(text[i + 2]) >= 0xBE) return false;
    }
    if (!(b == '\r' && i + 1 < n && text[i + 1] == '\n')) ++characters;
    i += length;
  }
  return true;
}

// Whole number text: an optional sign and at least one digit.
bool isWholeNumber(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  if (text.empty()) return false;
  for (const char c : text)
    if (!isDigit(c)) return false;
  return true;
}

bool allZeros(std::string_view digits) {
  for (const char c : digits)
    if (c != '0') return false;
  return true;
}

// `digits` (at least one) plus one in the last place.
void increment(std::string& digits) {
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
}

std::string zeroWithDecimals(std::int64_t decimals) {
  std::string out = "0";
  if (decimals > 0) out.append(".").append(static_cast<std::size_t>(decimals), '0');
  return out;
}

}  // namespace

void ShiftValues::keep(std::string name, ValueNotes notes) {
  if (!notes.empty()) items_.emplace_back(std::move(name), std::move(notes));
}

void ShiftValues::collect(const std::string& shiftName, std::vector<std::string>& warnings,
                          std::string& refusal) const {
  auto add = [&](const std::string& name, const ValueNotes& notes) {
    const std::string where = name.empty() ? shiftName : shiftName + ", " + name;
    if (!notes.mended.empty()) {
      std::string line = where + ": ";
      for (std::size_t i = 0; i < notes.mended.size(); ++i) line.append(i ? "; " : "").append(notes.mended[i]);
      warnings.push_back(std::move(line));
    }
    if (!notes.refused.empty() && refusal.empty())
      refusal = where + ": " + notes.refused + ", and 1C refuses a file with such a value";
  };
  add("", shift_);
  for (const auto& [name, notes] : items_) add(name, notes);
}

std::string shownValue(std::string_view value, bool allBytes) {
  std::size_t end = value.size();
  if (end > kShownBytes) {
    end = kShownBytes;
    // Cut in front of a character, not inside one.
    while (end > 0 && isContinuation(static_cast<unsigned char>(value[end]))) --end;
  }
  std::string out = "\"";
  appendQuotedBytes(out, value.substr(0, end), allBytes);
  if (end < value.size()) out += "...";
  out += '"';
  return out;
}

std::string textValue(std::string_view raw, const std::string& what, ValueNotes& notes) {
  std::string out;
  out.reserve(raw.size());
  bool dropped = false;
  for (const char c : raw) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      dropped = true;
      continue;
    }
    out += c;
  }
  if (dropped) notes.mend("control bytes dropped from " + what);
  std::size_t characters = 0;
  // Shown byte for byte: as it stands it is no text a console shows either.
  if (!xmlCharacters(out, characters))
    notes.refuse(what + " " + shownValue(out, true) + " is no UTF-8 text that XML allows");
  return out;
}

std::string codeValue(std::string_view raw, const std::string& what, ValueNotes& notes) {
  std::string out = textValue(raw, what, notes);
  std::size_t characters = 0;
  if (xmlCharacters(out, characters) && characters > kMaxCodeLength)
    notes.refuse(what + " " + shownValue(out) + " has " + std::to_string(characters) + " characters, more than " +
                 std::to_string(kMaxCodeLength));
  return out;
}

std::string countValue(std::string_view raw, const std::string& what, ValueNotes& notes) {
  const std::string text = textValue(raw, what, notes);
  const std::string_view value = trimmed(text);
  if (value.empty()) return "0";
  if (!isWholeNumber(value) || (value.front() == '-' && !allZeros(value.substr(1))))
    notes.refuse(what + " " + shownValue(value) + " is no whole number of 0 or more");
  return std::string(value);
}

std::string moneyValue(std::string_view raw, const std::string& what, std::size_t maxDigits, ValueNotes& notes) {
  const std::string text = textValue(raw, what, notes);
  std::string_view value = trimmed(text);
  if (value.empty()) return "0.00";
  if (!isWholeNumber(value)) {
    notes.refuse(what + " " + shownValue(value) + " is no whole number of kopecks");
    return std::string(value);
  }
  const bool negative = value.front() == '-';
  if (value.front() == '+' || value.front() == '-') value.remove_prefix(1);
  while (value.size() > 1 && value.front() == '0') value.remove_prefix(1);
  std::string digits(value);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  const std::string units = digits.substr(0, digits.size() - 2);
  std::string out = negative && !allZeros(digits) ? "-" : "";
  out.append(units).append(".").append(digits.substr(digits.size() - 2));
  const std::size_t written = (units == "0" ? 0 : units.size()) + 2;
  if (written > maxDigits)
    notes.refuse(what + " " + shownValue(out) + " has more than " + std::to_string(maxDigits) + " digits");
  return out;
}

QuantityReading readQuantity(std::string_view text, std::string& out) {
  out.clear();
  std::size_t pos = 0;
  const std::size_t n = text.size();
  bool negative = false;
  if (pos < n && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  std::string digits;  // the mantissa's digits, whole part and fraction together
  std::int64_t fraction = 0;
  for (; pos < n && isDigit(text[pos]); ++pos) digits += text[pos];
  if (pos < n && (text[pos] == '.' || text[pos] == ',')) {
    for (++pos; pos < n && isDigit(text[pos]); ++pos, ++fraction) digits += text[pos];
  }
  if (digits.empty()) return QuantityReading::kNoNumber;
  std::int64_t exponent = 0;
  if (pos < n && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    bool negativeExponent = false;
    if (pos < n && (text[pos] == '+' || text[pos] == '-')) negativeExponent = text[pos++] == '-';
    if (pos >= n || !isDigit(text[pos])) return QuantityReading::kNoNumber;
    // Held below a bound far beyond any digit count, so that it never overflows.
    for (; pos < n && isDigit(text[pos]); ++pos)
      if (exponent < 1000000000) exponent = exponent * 10 + (text[pos] - '0');
    if (negativeExponent) exponent = -exponent;
  }
  if (pos != n) return QuantityReading::kNoNumber;

  // The value is digits x 10^-scale.
  std::int64_t scale = fraction - exponent;
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) {
    out = zeroWithDecimals(scale < 0 ? 0 : scale > 3 ? 3 : scale);
    return QuantityReading::kRead;
  }
  digits.erase(0, first);
  const auto length = static_cast<std::int64_t>(digits.size());
  if (scale < 0) {
    if (length - scale > static_cast<std::int64_t>(kMaxDigits)) return QuantityReading::kTooLong;
    digits.append(static_cast<std::size_t>(-scale), '0');
    scale = 0;
  } else if (scale > static_cast<std::int64_t>(kQuantityDecimals)) {
    // Rounded half away from zero to the last digit 1C keeps.
    const std::int64_t dropped = scale - static_cast<std::int64_t>(kQuantityDecimals);
    const std::int64_t kept = length - dropped;
    const bool roundUp = kept >= 0 && digits[static_cast<std::size_t>(kept)] >= '5';
    digits.resize(kept > 0 ? static_cast<std::size_t>(kept) : 0);
    if (roundUp) {
      if (digits.empty()) digits = "0";
      increment(digits);
    }
    scale = static_cast<std::int64_t>(kQuantityDecimals);
    if (digits.empty() || allZeros(digits)) {
      out = zeroWithDecimals(scale);
      return QuantityReading::kRead;
    }
  }
  const auto decimals = static_cast<std::size_t>(scale);
  if (digits.size() <= decimals) digits.insert(0, decimals + 1 - digits.size(), '0');
  const std::string whole = digits.substr(0, digits.size() - decimals);
  if ((whole == "0" ? 0 : whole.size()) + decimals > kMaxDigits) return QuantityReading::kTooLong;
  out = negative ? "-" : "";
  out += whole;
  if (decimals > 0) out.append(".").append(digits.substr(whole.size()));
  return QuantityReading::kRead;
}

namespace {

// The kopecks of a money text as moneyValue writes it ("-12.30" gives 1230,
// the sign left out); false when it is no such text or too long to divide.
bool kopecksOf(std::string_view money, std::int64_t& kopecks) {
  if (!money.empty() && money.front() == '-') money.remove_prefix(1);
  kopecks = 0;
  std::size_t digits = 0;
  for (const char c : money) {
    if (c == '.') continue;
    if (!isDigit(c) || ++digits > kMaxDigits) return false;
    kopecks = kopecks * 10 + (c - '0');
  }
  return digits > 0;
}

// The quantity that makes `sum` of `price`: their quotient at three
// decimals (rounded half up, at least 0.001); "" when either is zero or the
// quotient would have more than 15 digits.
std::string quantityFromSum(std::string_view price, std::string_view sum) {
  std::int64_t priceKopecks = 0, sumKopecks = 0;
  if (!kopecksOf(price, priceKopecks) || !kopecksOf(sum, sumKopecks) || priceKopecks == 0 || sumKopecks == 0)
    return "";
  // Both below 10^15, so the products stay below 2 x 10^18.
  // The signs left out when both have one; a Sum and a Price of opposite
  // signs give no quantity.
  if ((priceKopecks < 0) != (sumKopecks < 0)) return "";
  if (priceKopecks < 0) {
    priceKopecks = -priceKopecks;
    sumKopecks = -sumKopecks;
  }
  std::int64_t thousandths = (2 * sumKopecks * 1000 + priceKopecks) / (2 * priceKopecks);
  if (thousandths == 0) thousandths = 1;
  std::string fraction = std::to_string(thousandths % 1000);
  fraction.insert(0, 3 - fraction.size(), '0');
  const std::string whole = std::to_string(thousandths / 1000);
  if ((whole == "0" ? 0 : whole.size()) + kQuantityDecimals > kMaxDigits) return "";
  return whole + "." + fraction;
}

}  // namespace

std::string quantityValue(std::string_view raw, const std::string& what, std::string_view price,
                          std::string_view sum, ValueNotes& notes) {
  const std::string text = textValue(raw, what, notes);
  std::string_view value = trimmed(text);
  // A string value stands in escaped quotes.
  static constexpr std::string_view kQuote = "\\\"";
  if (value.size() >= 2 * kQuote.size() && value.substr(0, kQuote.size()) == kQuote &&
      value.substr(value.size() - kQuote.size()) == kQuote)
    value = trimmed(value.substr(kQuote.size(), value.size() - 2 * kQuote.size()));
  std::string out;
  std::string why;
  switch (readQuantity(value, out)) {
    case QuantityReading::kRead:
      // 1C divides the Sum by it: below 0 it would make a negative price.
      if (out.empty() || out[0] != '-') {
        if (!isZeroSum(out)) return out;
        why = " is 0 at three decimals";
      } else {
        why = isZeroSum(out.substr(1)) ? " is 0 at three decimals" : " is below 0";
      }
      break;
    case QuantityReading::kNoNumber:
      why = " is no number";
      break;
    case QuantityReading::kTooLong:
      notes.refuse(what + " " + shownValue(value) + " has more than " + std::to_string(kMaxDigits) + " digits");
      return std::string(value);
  }
  out = quantityFromSum(price, sum);
  if (out.empty()) {
    notes.mend(what + " " + shownValue(value) + why + ", written 1 (1C takes the price from the sum)");
    return "1";
  }
  notes.mend(what + " " + shownValue(value) + why + ", written " + out + " (Sum " + std::string(sum) + " / Price " +
             std::string(price) + ")");
  return out;
}

std::string dateValue(const std::string& converted, std::string_view raw, const std::string& what,
                      const std::string& fallback, ValueNotes& notes) {
  if (!converted.empty()) return converted;
  const std::string why = raw.empty() ? "no docDt" : "docDt " + shownValue(raw) + " is no date";
  if (fallback.empty()) {
    notes.refuse(what + ": " + why);
    return converted;
  }
  notes.mend(what + ": " + why + ", written as the shift's ClosingDate " + fallback);
  return fallback;
}

bool isZeroSum(std::string_view sum) {
  for (const char c : sum)
    if (c != '0' && c != '.' && c != '-' && c != '+') return false;
  return true;
}
