// The checks and income/outcome checks of one SaleReport.
#pragma once

#include <tinyxml2.h>

#include <string_view>

inline constexpr int kCashOutcomeKind = 130;

// Adds Checks under `saleReport` with one Check per document of `docs`, and
// sets the report's ShiftNumber from the first document's shift number (t1038;
// "0" when it has none, so an empty list gives "0"). Only a first value that
// is empty text lets the next document decide. Returns the number of Check
// elements written.
int processChecks(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* saleReport, std::string_view docs);

// Adds IncomeOutcomeChecks under `saleReport` with one IncomeOutcomeCheck per
// document of `docs`; adds nothing when `docs` is "".
void processIncomeOutcomeChecks(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* saleReport, std::string_view docs);

// One IncomeOutcomeCheck for the document `oneDocString`: Date (its docDt),
// Type ("Outcome" for kind 130, "Income" for anything else), Number (t1042)
// and Sum (t1055 as money). Writes nothing for "".
void processOneIncomeOutcomeCheckElement(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* incomeOutcomeChecks,
                                         std::string_view oneDocString);
