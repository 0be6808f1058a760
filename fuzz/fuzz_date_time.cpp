// The date conversions on arbitrary text. Input: byte 0 splits the rest into
// a format and a text; bytes 1-8 also give a time value.
// Properties: the platform form is always empty or exactly
// YYYY-MM-DDTHH:MM:SS of a real calendar time; converting it again gives the
// same text; a time printed and read back with the same format is the same
// time (for the formats the program uses).
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "text/date_time.h"

namespace {

bool isPlatformForm(const std::string& s) {
  static constexpr const char* kShape = "dddd-dd-ddTdd:dd:dd";
  if (s.size() != std::strlen(kShape)) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (kShape[i] == 'd' ? (s[i] < '0' || s[i] > '9') : s[i] != kShape[i]) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9) return 0;
  std::int64_t t = 0;
  std::memcpy(&t, data + 1, sizeof t);
  const std::string_view rest(reinterpret_cast<const char*>(data + 9), size - 9);
  const std::string_view format = rest.substr(0, data[0] % (rest.size() + 1));
  const std::string_view text = rest.substr(format.size());

  const std::string converted = convertDateTimeTo1C(rest);
  // A service date-time that gives an instant has the fields 1C is given.
  const std::int64_t instant = serviceInstant(rest);
  FUZZ_CHECK(instant >= -1, "serviceInstant below -1");
  FUZZ_CHECK(instant < 0 || !converted.empty(), "an instant without 1C's form: " + std::string(rest));
  FUZZ_CHECK(converted.empty() || isPlatformForm(converted), "not the platform form: " + converted);
  if (!converted.empty()) {
    FUZZ_CHECK(convertDateTimeTo1C(converted) == converted, "converting again changed " + converted);
    FUZZ_CHECK(textToTime(converted, k1CDateTimeFormat) == textToTime(rest, kTimeWithZoneFormat),
               "the platform form is another time than " + std::string(rest));
  }

  const std::int64_t fromText = textToTime(text, format);
  FUZZ_CHECK(fromText >= -1, "textToTime below -1");
  (void)timeToText(t, format);

  // Times the program meets lie between 1970 and 3000: printed and read back
  // with its own formats they stay the same.
  const std::int64_t inRange = static_cast<std::int64_t>(static_cast<std::uint64_t>(t) % 32535216000ULL);
  const std::string printed = timeToText(inRange, k1CDateTimeFormat);
  if (!printed.empty()) {
    const std::string withZone = timeToText(inRange, kTimeWithZoneFormat);
    FUZZ_CHECK(withZone.compare(0, printed.size(), printed) == 0, "the two forms disagree: " + withZone);
    FUZZ_CHECK(convertDateTimeTo1C(withZone) == printed, "service form does not convert to " + printed);
  }
  return 0;
}
