#include "report/shift_uuid.h"

#include "text/name_uuid.h"

std::string shiftUuid(std::string_view kkmNum, std::string_view closingDocDt, std::string_view closingId) {
  std::string name;
  name.reserve(kkmNum.size() + closingDocDt.size() + closingId.size() + 2);
  name.append(kkmNum).append("/").append(closingDocDt).append("/").append(closingId);
  return nameBasedUuid(kShiftUuidNamespace, name);
}

std::string documentIdOf(std::string_view oneDocString) {
  static constexpr std::string_view kKey = "\"id\":";
  const std::size_t key = oneDocString.find(kKey);
  if (key == std::string_view::npos) return "";
  std::string_view value = oneDocString.substr(key + kKey.size());
  const std::size_t end = value.find_first_of(",}");
  value = value.substr(0, end);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t' || value.front() == '\n' || value.front() == '\r'))
    value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\n' || value.back() == '\r'))
    value.remove_suffix(1);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  return std::string(value);
}
