// The Check element of one sale check: header values, goods and payments.
#pragma once

#include <tinyxml2.h>

#include <string>
#include <string_view>

#include "report/value_rules.h"

// The body of the document `oneDocString` as its tags are read: the escaped
// body string up to its closing quote, without what stands behind it (the
// document's closing brace), so that the body's last tag ends, as every
// other, in front of the body's own closing brace. "" without a body.
std::string_view bodyTagsOf(std::string_view oneDocString);

// One Check under `checksElement` for the document `oneDocString`: Date (its
// docDt; the shift's ClosingDate when that cannot be read), Number (t1042),
// TaxationSystem (t1055), OperationType (t1054); then, when the document has
// a body, Goods and Payments. Every value goes through the value rules; what
// they mend or refuse is kept in `values` under the check's place in the
// shift and its Number. Writes nothing for "".
void processOneCheckElement(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* checksElement,
                            std::string_view oneDocString, ShiftValues& values);

// The goods items of a check body, from the first item's first key to the end
// of the goods array; "" when the body holds no goods array this can find.
// Two layouts: the array under tl1059 (ending in }]}"} or }]}), and the array
// under t1059 (ending at the first },\" after it).
std::string_view cutGoodsJSON(std::string_view docBody);

// Adds Goods under `checkElement` with one Good per goods item of `docBody`;
// a body without items gets an empty Goods.
void getOneCheckFromGoodsJSON(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* checkElement, std::string_view docBody,
                              ValueNotes& notes);

// One Good under `goodsElement` for the goods item `oneGoodString`, the
// check's item number `goodIndex` (from 1): Code (t40385), Quantity (t1023,
// written plainly), Price (t1079), Sum (t1043), TaxRate (t1199 through
// mapTaxRate), PaymentMethod (t1214).
void processOneGoodElement(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* goodsElement,
                           std::string_view oneGoodString, int goodIndex, ValueNotes& notes);
