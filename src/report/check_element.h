// The Check element of one sale check: header values, goods and payments.
#pragma once

#include <tinyxml2.h>

#include <string>
#include <string_view>

// One Check under `checksElement` for the document `oneDocString`: Date (its
// docDt), Number (t1042), TaxationSystem (t1055), OperationType (t1054); then,
// when the document has a body, Goods and Payments. Writes nothing for "".
void processOneCheckElement(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* checksElement,
                            std::string_view oneDocString);

// The goods items of a check body, from the first item's first key to the end
// of the goods array; "" when the body holds no goods array this can find.
// Two layouts: the array under tl1059 (ending in }]}"} or }]}), and the array
// under t1059 (ending at the first },\" after it).
std::string_view cutGoodsJSON(std::string_view docBody);

// Adds Goods under `checkElement` with one Good per goods item of `docBody`;
// a body without items gets one Good with default values.
void getOneCheckFromGoodsJSON(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* checkElement, std::string_view docBody);

// One Good under `goodsElement` for the goods item `oneGoodString`: Code
// (t40385), Quantity (t1023), Price (t1079), Sum (t1043), TaxRate (t1199
// through mapTaxRate), PaymentMethod (t1214).
void processOneGoodElement(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* goodsElement,
                           std::string_view oneGoodString);
