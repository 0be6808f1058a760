#include "report/check_element.h"

#include "config/debug_dump.h"
#include "report/check_payments.h"
#include "report/xml_elements.h"
#include "text/date_time.h"
#include "text/json_scanner.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;

// The text of `body` from `start` up to `end`; "" when the bounds cross or
// lie outside the text (a goods marker at the very end of a short body).
std::string_view between(std::string_view body, std::size_t start, std::size_t end) {
  if (start > end || end > body.size()) return {};
  return body.substr(start, end - start);
}

// The TaxRate text 1C expects for the rate code `t1199`; any other text unchanged.
std::string mapTaxRate(std::string_view t1199) {
  if (t1199 == "1") return "20";
  if (t1199 == "2") return "10";
  if (t1199 == "3") return "20/120";
  if (t1199 == "4") return "10/110";
  if (t1199 == "5") return "0";
  if (t1199 == "6") return "none";
  return std::string(t1199);
}

}  // namespace

std::string_view cutGoodsJSON(std::string_view docBody) {
  // Behind either marker come three characters (colon, bracket, brace) in
  // front of the first item's first key.
  static constexpr std::size_t kSkip = 3;
  static constexpr std::string_view kListMarker = "tl1059\\\"";  // tl1059\"  (letter l)
  static constexpr std::string_view kGoodsMarker = "t1059\\\"";  // t1059\"
  std::size_t p = docBody.find(kListMarker);
  if (p != npos) {
    const std::size_t start = p + kListMarker.size() + kSkip;
    std::size_t e = docBody.find("}]}\"}", p);
    if (e == npos) e = docBody.find("}]}", p);
    return e == npos ? std::string_view() : between(docBody, start, e);
  }
  p = docBody.find(kGoodsMarker);
  if (p == npos) return {};
  const std::size_t e = docBody.find("},\\\"", p);
  return e == npos ? std::string_view() : between(docBody, p + kGoodsMarker.size() + kSkip, e);
}

void processOneGoodElement(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* goodsElement,
                           std::string_view oneGoodString) {
  tinyxml2::XMLElement* good =
      addElementWithAttribute(doc, goodsElement, "Good", "Code", getTagStringFromBodyJSON(oneGoodString, "t40385"));
  good->SetAttribute("Quantity", getTagStringFromBodyJSON(oneGoodString, "t1023").c_str());
  good->SetAttribute("Price", getTagSumFromBodyJSON(oneGoodString, "t1079").c_str());
  good->SetAttribute("Sum", getTagSumFromBodyJSON(oneGoodString, "t1043").c_str());
  const std::string taxValue = mapTaxRate(getTagValueFromBodyJSON(oneGoodString, "t1199"));
  good->SetAttribute("TaxRate", taxValue.c_str());
  const std::string paymentMethod = getTagValueFromBodyJSON(oneGoodString, "t1214");
  good->SetAttribute("PaymentMethod", paymentMethod.c_str());
}

void getOneCheckFromGoodsJSON(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* checkElement,
                              std::string_view docBody) {
  const std::string_view goodsJSON = cutGoodsJSON(docBody);
  tinyxml2::XMLElement* goodsElement = addElementWithText(doc, checkElement, "Goods", "");
  bool anyItem = false;
  forEachGood(goodsJSON, [&](std::string_view oneGoodString) {
    anyItem = true;
    debugDump("getOneCheckFromGoodsJSON.json", "", oneGoodString);
    processOneGoodElement(doc, goodsElement, oneGoodString);
  });
  // A body without any item gets one Good with default values.
  if (!anyItem) {
    debugDump("getOneCheckFromGoodsJSON.json", "", "");
    processOneGoodElement(doc, goodsElement, "");
  }
}

void processOneCheckElement(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* checksElement,
                            std::string_view oneDocString) {
  if (oneDocString.empty()) return;
  const std::string checkDate = convertDateTimeTo1C(getStringFromJSON(oneDocString, "docDt"));
  const std::string_view docBody = bodyOfDocJSON(oneDocString);
  tinyxml2::XMLElement* checkElement = addElementWithAttribute(doc, checksElement, "Check", "Date", checkDate);
  checkElement->SetAttribute("Number", getTagValueFromBodyJSON(docBody, "t1042").c_str());
  checkElement->SetAttribute("TaxationSystem", getTagValueFromBodyJSON(docBody, "t1055").c_str());
  checkElement->SetAttribute("OperationType", getTagValueFromBodyJSON(docBody, "t1054").c_str());
  if (!docBody.empty()) {
    getOneCheckFromGoodsJSON(doc, checkElement, docBody);
    processCheckPayments(doc, checkElement, docBody);
  }
  debugDump("processOneCheckElement.json", "----------docFullJSON-------------", oneDocString);
  debugDump("processOneCheckElement.json", "----------docBody-------------", docBody);
}
