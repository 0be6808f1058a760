#include "report/check_lists.h"

#include "config/debug_dump.h"
#include "report/check_element.h"
#include "report/xml_elements.h"
#include "text/date_time.h"
#include "text/json_scanner.h"

std::string shiftNumberOf(std::string_view oneDocString) {
  // The scanner gives "0" for a missing tag.
  std::string number = getTagValueFromBodyJSON(bodyTagsOf(oneDocString), "t1038");
  if (number == "0") number.clear();
  return number;
}

int processChecks(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* saleReport, std::string_view docs,
                  const std::string& shiftNumber, ShiftValues& values) {
  tinyxml2::XMLElement* checks = addElementWithText(doc, saleReport, "Checks", "");
  std::string fromChecks;
  int checkCount = 0;
  forEachDocument(docs, [&](std::string_view oneDocString) {
    if (fromChecks.empty()) fromChecks = shiftNumberOf(oneDocString);
    ++checkCount;
    processOneCheckElement(doc, checks, oneDocString, values);
  });
  const std::string& number = !fromChecks.empty() ? fromChecks : !shiftNumber.empty() ? shiftNumber : "0";
  saleReport->SetAttribute("ShiftNumber", textValue(number, "ShiftNumber", values.shift()).c_str());
  return checkCount;
}

void processIncomeOutcomeChecks(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* saleReport, std::string_view docs,
                                ShiftValues& values) {
  tinyxml2::XMLElement* incomeOutcomeChecks = nullptr;
  forEachDocument(docs, [&](std::string_view oneDocString) {
    if (incomeOutcomeChecks == nullptr)
      incomeOutcomeChecks = addElementWithText(doc, saleReport, "IncomeOutcomeChecks", "");
    processOneIncomeOutcomeCheckElement(doc, incomeOutcomeChecks, oneDocString, values);
  });
}

void processOneIncomeOutcomeCheckElement(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* incomeOutcomeChecks,
                                         std::string_view oneDocString, ShiftValues& values) {
  if (oneDocString.empty()) return;
  debugDump("processOneIncomeOutcomeCheckElement.json", "", oneDocString);
  const int place = values.nextIncomeOutcomeCheck();
  ValueNotes notes;
  const std::string docDt = getStringFromJSON(oneDocString, "docDt");
  const std::string checkDate = dateValue(convertDateTimeTo1C(docDt), docDt, "Date", values.closingDate(), notes);
  // A kind that is missing or no number reads as -1 and counts as income.
  const char* docType = getIntFromJSON(oneDocString, "docKind") == kCashOutcomeKind ? "Outcome" : "Income";
  const std::string_view docBody = bodyTagsOf(oneDocString);
  tinyxml2::XMLElement* element =
      addElementWithAttribute(doc, incomeOutcomeChecks, "IncomeOutcomeCheck", "Date", checkDate);
  element->SetAttribute("Type", docType);
  const std::string number = textValue(getTagValueFromBodyJSON(docBody, "t1042"), "Number", notes);
  element->SetAttribute("Number", number.c_str());
  // Sum is read from t1055: the files 1C has loaded so far carry it so.
  element->SetAttribute("Sum", moneyValue(getTagValueFromBodyJSON(docBody, "t1055"), "Sum", kMaxDecimalDigits, notes).c_str());
  values.keep("income/outcome check " + std::to_string(place) + " (Number " + number + ")", std::move(notes));
}
