// What 1C's exchange schema allows in each value the ImportData file holds,
// and what becomes of a service value that it does not allow as it stands:
// mended where the meaning is plain (control bytes dropped, a quantity
// written plainly, a missing date taken from the shift), refused otherwise,
// so that no file 1C would refuse whole is ever written.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What became of the values of one check, income/outcome check or shift: a
// line part per mended value, and the first value refused ("" while none).
struct ValueNotes {
  std::vector<std::string> mended;
  std::string refused;

  void mend(std::string note) { mended.push_back(std::move(note)); }
  void refuse(std::string reason) {
    if (refused.empty()) refused = std::move(reason);
  }
  bool empty() const { return mended.empty() && refused.empty(); }
};

// The notes of one SaleReport: its own, and those of each check and
// income/outcome check that has any, with the name that tells it apart.
class ShiftValues {
 public:
  // `closingDate` is the shift's ClosingDate as written (1C's form, "" when
  // unreadable): the date a check without a readable date gets.
  explicit ShiftValues(std::string closingDate) : closingDate_(std::move(closingDate)) {}

  const std::string& closingDate() const { return closingDate_; }
  ValueNotes& shift() { return shift_; }

  // The place of the next check (income/outcome check) in the shift, from 1.
  int nextCheck() { return ++checks_; }
  int nextIncomeOutcomeCheck() { return ++incomeOutcomeChecks_; }

  // Keeps `notes` under `name` (e.g. "check 2 (Number 9)") when it holds any.
  void keep(std::string name, ValueNotes notes);

  // One warning line per item with mended values, each beginning with
  // `shiftName`, appended to `warnings`; and, when a value was refused and
  // `refusal` is still "", the first refused value's line.
  void collect(const std::string& shiftName, std::vector<std::string>& warnings, std::string& refusal) const;

 private:
  std::string closingDate_;
  ValueNotes shift_;
  int checks_ = 0;
  int incomeOutcomeChecks_ = 0;
  std::vector<std::pair<std::string, ValueNotes>> items_;
};

// `value` as a message shows it: in double quotes, bytes below 0x20 and DEL
// (and, with `allBytes`, every byte from 0x80 on) as \xNN, cut after 64 bytes.
std::string shownValue(std::string_view value, bool allBytes = false);

// The values below each take the text the service gave for the value called
// `what` (e.g. "Code of good 2"), note in `notes` what they mend or refuse,
// and return what is written.

// Any text: bytes below 0x20 other than TAB, LF and CR are dropped (XML 1.0
// allows no others, in any form). Other bytes pass unchanged; text that is
// no UTF-8 XML allows (a broken sequence, a surrogate, U+FFFE, U+FFFF) is
// refused, since no byte of it may be changed.
std::string textValue(std::string_view raw, const std::string& what, ValueNotes& notes);

// A goods code: a text of at most 36 characters.
std::string codeValue(std::string_view raw, const std::string& what, ValueNotes& notes);

// A whole number of at least 0 (a tag's raw value); white space around it is
// left out, and an empty value counts as the missing one, "0".
std::string countValue(std::string_view raw, const std::string& what, ValueNotes& notes);

// The total digits of 1C's money and quantity types.
inline constexpr std::size_t kMaxDigits = 15;

// A plain decimal of 1C's schema sets no limit to its digits, but its
// readers do: xmllint refuses more than 24, so no file carries more.
inline constexpr std::size_t kMaxDecimalDigits = 24;

// A sum from a tag's raw value in whole kopecks, written in currency units
// with two decimals ("5000" gives "50.00", "-5" gives "-0.05", "" gives
// "0.00"). A value that is no whole number is refused, and so is one of
// more than `maxDigits` digits (kMaxDigits for 1C's money type,
// kMaxDecimalDigits for a plain decimal).
std::string moneyValue(std::string_view raw, const std::string& what, std::size_t maxDigits, ValueNotes& notes);

// A quantity from a tag's raw value (a JSON number, or a string holding
// one, with a point or a comma), written as a plain decimal with at most 3
// fraction digits, rounded half away from zero: "1,500" gives "1.500",
// "1.2345" gives "1.235", 1e-3 gives "0.001"; one of more than 15 digits is
// refused. 1C divides the line's Sum by its Quantity before anything else,
// so a quantity is never written 0 or below: one with no numeric reading,
// below 0, or 0 at three decimals, is mended to `sum` / `price` (the line's Sum and Price
// as moneyValue wrote them) at three decimals, at least 0.001, or to 1 when
// either is zero or the quotient does not fit (1C then takes the price from
// the sum, so the money stays right).
std::string quantityValue(std::string_view raw, const std::string& what, std::string_view price,
                          std::string_view sum, ValueNotes& notes);

// A date-time already in 1C's form, "" when `raw` (the service's docDt)
// could not be read: then `fallback` (the shift's ClosingDate) is written,
// or the value is refused when there is none.
std::string dateValue(const std::string& converted, std::string_view raw, const std::string& what,
                      const std::string& fallback, ValueNotes& notes);

// How a quantity text reads (the number itself, without escaped quotes).
enum class QuantityReading {
  kRead,      // `out` holds the plain decimal
  kNoNumber,  // no numeric reading
  kTooLong,   // more than 15 digits once written
};
QuantityReading readQuantity(std::string_view text, std::string& out);

// Whether `sum` (a decimal as moneyValue writes it) is zero.
bool isZeroSum(std::string_view sum);
