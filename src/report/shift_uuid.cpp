#include "report/shift_uuid.h"

#include "text/name_uuid.h"

std::string shiftUuid(std::string_view kkmNum, std::string_view closingDocDt, std::string_view closingId) {
  std::string name;
  name.reserve(kkmNum.size() + closingDocDt.size() + closingId.size() + 2);
  name.append(kkmNum).append("/").append(closingDocDt).append("/").append(closingId);
  return nameBasedUuid(kShiftUuidNamespace, name);
}
