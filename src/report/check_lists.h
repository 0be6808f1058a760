// The checks and income/outcome checks of one SaleReport.
#pragma once

#include <tinyxml2.h>

#include <string>
#include <string_view>

#include "report/value_rules.h"

// The shift number (t1038) in the body of `oneDocString` when it is a whole
// number (1C reads ShiftNumber as one and stops its load on anything else);
// "" when it has none, or "0", or only empty text. A value that is there but
// no whole number gives "" too, and is put into `odd` (else `odd` is "").
std::string shiftNumberOf(std::string_view oneDocString, std::string& odd);

// Adds Checks under `saleReport` with one Check per document of `docs`, and
// sets the report's ShiftNumber: `shiftNumber` (that of the shift's closing,
// else its opening), else that of the first check that has one, else "0".
// 1C finds or makes its cash shift by this number, so "0" would stand for a
// shift that never was. A check carrying another shift number, or one that
// is no whole number, gets a note in `values`. Returns the number of Check
// elements written.
int processChecks(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* saleReport, std::string_view docs,
                  const std::string& shiftNumber, ShiftValues& values);

// Adds IncomeOutcomeChecks under `saleReport` with one IncomeOutcomeCheck per
// document of `docs`; adds nothing when `docs` holds no document (1C's
// format has no empty IncomeOutcomeChecks).
void processIncomeOutcomeChecks(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* saleReport, std::string_view docs,
                                ShiftValues& values);

// One IncomeOutcomeCheck for the document `oneDocString`: Date (its docDt;
// the shift's ClosingDate when that cannot be read), Type ("Outcome" for
// kind 130, "Income" for anything else), Number (t1042) and Sum (t1055 as
// money). Writes nothing for "".
void processOneIncomeOutcomeCheckElement(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* incomeOutcomeChecks,
                                         std::string_view oneDocString, ShiftValues& values);
