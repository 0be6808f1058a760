#include "report/check_payments.h"

#include "report/xml_elements.h"
#include "text/json_scanner.h"

void processCheckPayments(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* checkElement, std::string_view docBody) {
  tinyxml2::XMLElement* payments = addElementWithText(doc, checkElement, "Payments", "");
  tinyxml2::XMLElement* payment =
      addElementWithAttribute(doc, payments, "Payment", "Cash", getTagSumFromBodyJSON(docBody, "t1031"));
  payment->SetAttribute("ElectronicPayment", getTagSumFromBodyJSON(docBody, "t1081").c_str());
  payment->SetAttribute("PrePayment", getTagSumFromBodyJSON(docBody, "t1215").c_str());
  payment->SetAttribute("PostPayment", getTagSumFromBodyJSON(docBody, "t1216").c_str());
  payment->SetAttribute("Barter", getTagSumFromBodyJSON(docBody, "t1217").c_str());
}
