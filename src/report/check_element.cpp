#include "report/check_element.h"

#include "files/debug_dump.h"
#include "report/check_payments.h"
#include "report/value_rules.h"
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

// The raw value of `tag` in the goods item `item`: from behind its key up to
// the next tag or the end of the item (whose own closing brace, if the item
// has one, is left out); "" when the item has no such tag.
std::string_view itemTagValue(std::string_view item, std::string_view tag) {
  static constexpr std::string_view kKeyEnd = "\\\":";  // \":
  for (std::size_t pos = item.find(tag); pos != npos; pos = item.find(tag, pos + 1)) {
    if (item.compare(pos + tag.size(), kKeyEnd.size(), kKeyEnd) != 0) continue;
    const std::size_t start = pos + tag.size() + kKeyEnd.size();
    const std::size_t next = item.find(",\\\"t", start);
    std::string_view value = item.substr(start, next == npos ? npos : next - start);
    if (next == npos && !value.empty() && value.back() == '}') value.remove_suffix(1);
    return value;
  }
  return {};
}

// As itemTagValue, with "0" for a tag the item lacks, as the body's tags read.
std::string_view itemTagNumber(std::string_view item, std::string_view tag) {
  const std::string_view value = itemTagValue(item, tag);
  return value.data() == nullptr ? std::string_view("0") : value;
}

}  // namespace

std::string_view bodyTagsOf(std::string_view oneDocString) {
  const std::string_view body = bodyOfDocJSON(oneDocString);
  // The closing quote is the last quote that is not escaped.
  for (std::size_t pos = body.rfind('"'); pos != npos && pos > 0; pos = body.rfind('"', pos - 1)) {
    if (body[pos - 1] != '\\') return body.substr(0, pos);
  }
  return body;
}

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
                           std::string_view oneGoodString, int goodIndex, ValueNotes& notes) {
  const std::string ofGood = " of good " + std::to_string(goodIndex);
  tinyxml2::XMLElement* good = addElementWithAttribute(
      doc, goodsElement, "Good", "Code", codeValue(getTagStringFromBodyJSON(oneGoodString, "t40385"), "Code" + ofGood, notes));
  // An item is cut without its closing brace, so its numbers are read to its
  // end (the body's own reading would drop the last digit of its last tag).
  // Price and Sum are read first (a quantity without a reading is made from
  // them), their notes kept behind the quantity's, in attribute order.
  ValueNotes moneyNotes;
  const std::string price = moneyValue(itemTagNumber(oneGoodString, "t1079"), "Price" + ofGood, kMaxDigits, moneyNotes);
  const std::string sum = moneyValue(itemTagNumber(oneGoodString, "t1043"), "Sum" + ofGood, kMaxDigits, moneyNotes);
  const std::string quantity =
      quantityValue(itemTagValue(oneGoodString, "t1023"), "Quantity" + ofGood, price, sum, notes);
  for (std::string& note : moneyNotes.mended) notes.mend(std::move(note));
  if (!moneyNotes.refused.empty()) notes.refuse(std::move(moneyNotes.refused));
  good->SetAttribute("Quantity", quantity.c_str());
  good->SetAttribute("Price", price.c_str());
  good->SetAttribute("Sum", sum.c_str());
  const std::string taxValue = mapTaxRate(itemTagNumber(oneGoodString, "t1199"));
  good->SetAttribute("TaxRate", textValue(taxValue, "TaxRate" + ofGood, notes).c_str());
  const std::string paymentMethod(itemTagNumber(oneGoodString, "t1214"));
  good->SetAttribute("PaymentMethod", countValue(paymentMethod, "PaymentMethod" + ofGood, notes).c_str());
}

void getOneCheckFromGoodsJSON(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* checkElement, std::string_view docBody,
                              ValueNotes& notes) {
  const std::string_view goodsJSON = cutGoodsJSON(docBody);
  // A body without any item gets an empty Goods: a Good made up of defaults
  // would carry an empty code and quantity, which 1C can neither match nor take.
  tinyxml2::XMLElement* goodsElement = addElementWithText(doc, checkElement, "Goods", "");
  int goodIndex = 0;
  forEachGood(goodsJSON, [&](std::string_view oneGoodString) {
    debugDump("getOneCheckFromGoodsJSON.json", "", oneGoodString);
    processOneGoodElement(doc, goodsElement, oneGoodString, ++goodIndex, notes);
  });
}

void processOneCheckElement(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* checksElement,
                            std::string_view oneDocString, ShiftValues& values) {
  if (oneDocString.empty()) return;
  const int place = values.nextCheck();
  ValueNotes notes;
  const std::string docDt = getStringFromJSON(oneDocString, "docDt");
  const std::string checkDate = dateValue(convertDateTimeTo1C(docDt), docDt, "Date", values.closingDate(), notes);
  const std::string_view docBody = bodyTagsOf(oneDocString);
  tinyxml2::XMLElement* checkElement = addElementWithAttribute(doc, checksElement, "Check", "Date", checkDate);
  const std::string number = textValue(getTagValueFromBodyJSON(docBody, "t1042"), "Number", notes);
  checkElement->SetAttribute("Number", number.c_str());
  checkElement->SetAttribute("TaxationSystem",
                             countValue(getTagValueFromBodyJSON(docBody, "t1055"), "TaxationSystem", notes).c_str());
  checkElement->SetAttribute("OperationType",
                             countValue(getTagValueFromBodyJSON(docBody, "t1054"), "OperationType", notes).c_str());
  // The goods are cut out of the body as it stands, which ends in the marker
  // of a trailing goods list.
  const std::string_view wholeBody = bodyOfDocJSON(oneDocString);
  if (!wholeBody.empty()) {
    getOneCheckFromGoodsJSON(doc, checkElement, wholeBody, notes);
    processCheckPayments(doc, checkElement, docBody, notes);
  }
  values.keep("check " + std::to_string(place) + " (Number " + number + ")", std::move(notes));
  debugDump("processOneCheckElement.json", "----------docFullJSON-------------", oneDocString);
  debugDump("processOneCheckElement.json", "----------docBody-------------", wholeBody);
}
