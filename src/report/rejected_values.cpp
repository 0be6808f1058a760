#include "report/rejected_values.h"

namespace {

using tinyxml2::XMLElement;

std::string attributeText(const XMLElement& element, const char* name) {
  const char* value = element.Attribute(name);
  return value ? std::string(value) : std::string();
}

bool emptyAttribute(const XMLElement& element, const char* name) {
  const char* value = element.Attribute(name);
  return value == nullptr || *value == '\0';
}

void addProblem(std::string& problems, const std::string& problem) {
  if (!problems.empty()) problems += ", ";
  problems += problem;
}

std::string shiftName(const XMLElement& saleReport) {
  const char* number = saleReport.Attribute("ShiftNumber");
  return std::string("shift ") + (number ? number : "without number") + " (opened \"" +
         attributeText(saleReport, "OpeningDate") + "\", closed \"" + attributeText(saleReport, "ClosingDate") + "\")";
}

std::string checkProblems(const XMLElement& check) {
  std::string problems;
  if (emptyAttribute(check, "Date")) addProblem(problems, "empty Date");
  int goodIndex = 0;
  for (const XMLElement* goods = check.FirstChildElement("Goods"); goods; goods = goods->NextSiblingElement("Goods")) {
    for (const XMLElement* good = goods->FirstChildElement("Good"); good; good = good->NextSiblingElement("Good")) {
      ++goodIndex;
      if (emptyAttribute(*good, "Quantity")) addProblem(problems, "empty Quantity of good " + std::to_string(goodIndex));
    }
  }
  return problems;
}

}  // namespace

void listRejectedValuesOfShift(const XMLElement& saleReport, std::vector<std::string>& lines) {
  const std::string shift = shiftName(saleReport);
  std::string problems;
  if (emptyAttribute(saleReport, "OpeningDate")) addProblem(problems, "empty OpeningDate");
  if (emptyAttribute(saleReport, "ClosingDate")) addProblem(problems, "empty ClosingDate");
  if (saleReport.Attribute("ShiftNumber") == nullptr) addProblem(problems, "no ShiftNumber");
  if (!problems.empty()) lines.push_back(shift + ": " + problems);

  int checkIndex = 0;
  for (const XMLElement* checks = saleReport.FirstChildElement("Checks"); checks;
       checks = checks->NextSiblingElement("Checks")) {
    for (const XMLElement* check = checks->FirstChildElement("Check"); check;
         check = check->NextSiblingElement("Check")) {
      ++checkIndex;
      problems = checkProblems(*check);
      if (!problems.empty())
        lines.push_back(shift + ", check " + std::to_string(checkIndex) + " (Number " + attributeText(*check, "Number") +
                        "): " + problems);
    }
  }

  for (const XMLElement* list = saleReport.FirstChildElement("IncomeOutcomeChecks"); list;
       list = list->NextSiblingElement("IncomeOutcomeChecks")) {
    if (list->FirstChildElement("IncomeOutcomeCheck") == nullptr) {
      lines.push_back(shift + ": IncomeOutcomeChecks holds no document");
      continue;
    }
    int index = 0;
    for (const XMLElement* check = list->FirstChildElement("IncomeOutcomeCheck"); check;
         check = check->NextSiblingElement("IncomeOutcomeCheck")) {
      ++index;
      if (emptyAttribute(*check, "Date"))
        lines.push_back(shift + ", income/outcome check " + std::to_string(index) + " (Number " +
                        attributeText(*check, "Number") + "): empty Date");
    }
  }
}
