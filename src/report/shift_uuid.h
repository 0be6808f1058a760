// The UUID that each SaleReport carries. 1C keys its retail sales and
// returns reports by it: a report with a UUID it knows is refilled, not
// added again, so a file loaded twice, or again after a load that stopped
// midway, counts each shift once.
#pragma once

#include <string>
#include <string_view>

// The namespace of the program's name-based UUIDs. Never to be changed:
// 1C's documents are keyed by the UUIDs made under it.
inline constexpr const char* kShiftUuidNamespace = "a243deaf-142d-4bc6-b9e9-097649b916ce";

// The UUID of the shift of register `kkmNum` that the closing document with
// `closingId` and `closingDocDt` (both exactly as the service gives them)
// closes: the version-5 UUID of "<kkmNum>/<closingDocDt>/<closingId>" under
// kShiftUuidNamespace. The same on every run and machine, in every format.
std::string shiftUuid(std::string_view kkmNum, std::string_view closingDocDt, std::string_view closingId);
