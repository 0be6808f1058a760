// Whether 1C loads an ImportData file that a run wrote, to the end: what its
// schema says (libxml2 against 1C's schema of the namespace the file names,
// from schema/), and what stops 1C's loader half-way through a file that
// the schema lets through, so that the shifts before are booked and booked
// again on the next load.
#pragma once

#include <string>
#include <string_view>

namespace kkmtest {

// "" when 1C's schema of the format whose namespace the root of `text` (an
// ImportData or ExportData file) names accepts it; otherwise one line: what libxml2 says first, with its
// line, or that the namespace is none of 1C's formats. Not on Windows (no
// libxml2 there): windows/test.sh validates the files the tests hand over.
#ifndef _WIN32
std::string exchangeSchemaViolation(std::string_view text);
#endif

// "" when nothing in `text` stops 1C's load: every Good's Quantity is
// above 0 (1C divides Sum by it), every ShiftNumber is a whole number (1C
// converts it outside any error handling), every SaleReport carries a UUID
// and no two SaleReports of the file carry the same one (else 1C adds its
// reports again on every load, or fills one report twice). Otherwise one
// line naming the element, such as SaleReports/SaleReport[2]/Checks/Check[1]/Goods/Good[3],
// and the value.
std::string importDataLoadStopper(std::string_view text);

// Both of the above (the schema only where it is checked in process): ""
// when 1C loads `text` to the end.
std::string importDataComplaints(std::string_view text);

}  // namespace kkmtest
