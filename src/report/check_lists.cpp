#include "report/check_lists.h"

#include <string>

#include "config/debug_dump.h"
#include "report/check_element.h"
#include "report/xml_elements.h"
#include "text/date_time.h"
#include "text/json_scanner.h"

int processChecks(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* saleReport, std::string_view docs) {
  tinyxml2::XMLElement* checks = addElementWithText(doc, saleReport, "Checks", "");
  bool shiftNumberSet = false;
  int checkCount = 0;
  forEachDocument(docs, [&](std::string_view oneDocString) {
    // The first check decides; only a value that is empty text lets the next one.
    if (!shiftNumberSet) {
      const std::string shiftNum = getTagValueFromBodyJSON(oneDocString, "t1038");
      if (!shiftNum.empty()) {
        saleReport->SetAttribute("ShiftNumber", shiftNum.c_str());
        shiftNumberSet = true;
      }
    }
    ++checkCount;
    processOneCheckElement(doc, checks, oneDocString);
  });
  if (checkCount == 0) saleReport->SetAttribute("ShiftNumber", "0");
  return checkCount;
}

void processIncomeOutcomeChecks(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* saleReport, std::string_view docs) {
  if (docs.empty()) return;
  tinyxml2::XMLElement* incomeOutcomeChecks = addElementWithText(doc, saleReport, "IncomeOutcomeChecks", "");
  forEachDocument(docs, [&](std::string_view oneDocString) {
    processOneIncomeOutcomeCheckElement(doc, incomeOutcomeChecks, oneDocString);
  });
}

void processOneIncomeOutcomeCheckElement(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* incomeOutcomeChecks,
                                         std::string_view oneDocString) {
  if (oneDocString.empty()) return;
  debugDump("processOneIncomeOutcomeCheckElement.json", "", oneDocString);
  const std::string checkDate = convertDateTimeTo1C(getStringFromJSON(oneDocString, "docDt"));
  // A kind that is missing or no number reads as -1 and counts as income.
  const char* docType = getIntFromJSON(oneDocString, "docKind") == kCashOutcomeKind ? "Outcome" : "Income";
  const std::string_view docBody = bodyOfDocJSON(oneDocString);
  tinyxml2::XMLElement* element =
      addElementWithAttribute(doc, incomeOutcomeChecks, "IncomeOutcomeCheck", "Date", checkDate);
  element->SetAttribute("Type", docType);
  element->SetAttribute("Number", getTagValueFromBodyJSON(docBody, "t1042").c_str());
  // Sum is read from t1055: the files 1C has loaded so far carry it so.
  element->SetAttribute("Sum", getTagSumFromBodyJSON(docBody, "t1055").c_str());
}
