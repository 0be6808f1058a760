#include "report/check_lists.h"

#include <string>

#include "config/settings.h"
#include "files/log.h"
#include "report/check_element.h"
#include "report/import_document.h"
#include "text/date_time.h"
#include "text/json_scanner.h"

int processChecks(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* saleReport, std::string_view docs) {
  tinyxml2::XMLElement* checks = addElementWithText(doc, saleReport, "Checks", "");
  // The body runs also for the document that comes with the final -1, and
  // once with "" for a list without documents (which sets ShiftNumber "0").
  std::string oneDocString;
  int pos = 0;
  bool shiftNumberSet = false;
  int checkCount = 0;
  while (pos != -1) {
    pos = getOneDocFromJSON(docs, pos, oneDocString);
    if (!shiftNumberSet) {
      const std::string shiftNum = getTagValueFromBodyJSON(oneDocString, "t1038");
      if (!shiftNum.empty()) {
        saleReport->SetAttribute("ShiftNumber", shiftNum.c_str());
        shiftNumberSet = true;
      }
    }
    // An empty text (a list without documents) writes no Check.
    if (!oneDocString.empty()) ++checkCount;
    processOneCheckElement(doc, checks, oneDocString);
  }
  return checkCount;
}

void processIncomeOutcomeChecks(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* saleReport, std::string_view docs) {
  if (docs.empty()) return;
  tinyxml2::XMLElement* incomeOutcomeChecks = addElementWithText(doc, saleReport, "IncomeOutcomeChecks", "");
  std::string oneDocString;
  int pos = 0;
  while (pos != -1) {
    pos = getOneDocFromJSON(docs, pos, oneDocString);
    processOneIncomeOutcomeCheckElement(doc, incomeOutcomeChecks, oneDocString);
  }
}

void processOneIncomeOutcomeCheckElement(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* incomeOutcomeChecks,
                                         std::string_view oneDocString) {
  if (oneDocString.empty()) return;
  if (debugmode == 1) writeLog("processOneIncomeOutcomeCheckElement.json", oneDocString);
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
