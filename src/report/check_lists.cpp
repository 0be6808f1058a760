#include "report/check_lists.h"

#include "cloud/document_kinds.h"
#include "files/debug_dump.h"
#include "report/check_element.h"
#include "report/xml_elements.h"
#include "text/date_time.h"
#include "text/json_scanner.h"

std::string shiftNumberOf(std::string_view oneDocString, std::string& odd) {
  odd.clear();
  // The scanner gives "0" for a missing tag.
  std::string number = getTagValueFromBodyJSON(bodyTagsOf(oneDocString), "t1038");
  if (number == "0") number.clear();
  for (const char c : number) {
    if (c < '0' || c > '9') {
      odd = std::move(number);
      return "";
    }
  }
  return number;
}

int processChecks(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* saleReport, std::string_view docs,
                  const std::string& shiftNumber, ShiftValues& values) {
  tinyxml2::XMLElement* checks = addElementWithText(doc, saleReport, "Checks", "");
  std::string number = shiftNumber;
  int checkCount = 0;
  forEachDocument(docs, [&](std::string_view oneDocString) {
    ++checkCount;
    std::string odd;
    const std::string own = shiftNumberOf(oneDocString, odd);
    const auto place = [&] { return "check " + std::to_string(checkCount) + " (id " + std::string(documentIdOf(oneDocString)) + ")"; };
    if (!odd.empty())
      values.shift().mend(place() + " carries the shift number " + shownValue(odd) + ", which is no whole number");
    else if (number.empty())
      number = own;
    else if (!own.empty() && own != number)
      values.shift().mend(place() + " carries the shift number " + own + ", not the shift's " + number);
    processOneCheckElement(doc, checks, oneDocString, values);
  });
  if (number.empty()) number = "0";
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
