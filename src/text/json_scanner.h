// Takes single values out of the service's JSON text by plain substring
// search: no parser, no unescaping, no validation.
//
// Two levels are read. Document level: plain JSON keys written "name":
// (login answer, document objects). Body level: the fiscal document inside a
// document's "body" string, where every quote is escaped, so a fiscal tag
// stands as \"t1042\": and a string value as \"...\".
//
// Every operation is total: on text that lacks what it looks for, or that
// ends before a value, it returns its "nothing found" value ("", "0", "0.00"
// or -1) and never reads outside the text. None throws.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

// The characters between the first two double quotes that follow the first
// colon after the first occurrence of `key`; "" when any of them is missing.
// Escaped quotes are not honoured: a\"b reads as a\ .
std::string getStringFromJSON(std::string_view text, std::string_view key);

// The integer between the first colon after `key` and the next comma: leading
// white space skipped, an optional sign, the digits up to the first other
// character. -1 when the key, colon or comma is missing, when no digit
// follows, or when the number lies outside the 32-bit signed range.
int getIntFromJSON(std::string_view text, std::string_view key);

// Walks a document list (objects each beginning {"id":). Sets `docJSON` to
// the object found at or after `startPos` (without the comma in front of the
// next one) and returns the position of the next object, or -1 when the
// object returned is the last. Returns -1 and leaves `docJSON` unchanged when
// no object begins at or after `startPos`.
int getOneDocFromJSON(std::string_view text, int startPos, std::string& docJSON);

// As getOneDocFromJSON, with the object given as a view into `text`.
int nextDocument(std::string_view text, int startPos, std::string_view& docJSON);

// Calls fn(docJSON) for every document object of the list `text`, in order,
// as getOneDocFromJSON cuts them, each a view into `text`. A list without
// any object makes no call. When fn returns a bool, false stops the walk,
// and forEachDocument then returns false.
template <class Fn>
bool forEachDocument(std::string_view text, Fn&& fn);

// The raw value of the document-level "id" of `docJSON` (the text between
// its colon and the next comma or closing brace, white space left out; the
// quotes of a string id are kept), as a view into `docJSON`; "" without one.
std::string_view documentIdOf(std::string_view docJSON);

// Everything after "body": and the quote that opens its string value, to the
// end of `docJSON` (nothing cut at the end); "" without a body.
std::string getBodyFromDocJSON(std::string_view docJSON);

// The same text as getBodyFromDocJSON, as a view into `docJSON`.
std::string_view bodyOfDocJSON(std::string_view docJSON);

// The raw value of fiscal tag `tag`: the text after \"tag\": up to the next
// ,\"t — or, for the last tag, up to the end less one character (the closing
// brace). "0" when the tag is missing or no value stands there.
std::string getTagValueFromBodyJSON(std::string_view bodyJSON, std::string_view tag);

// As getTagValueFromBodyJSON, for a string value: its escaped quotes \" are
// left out (for the last tag, the text's last two characters). "" when the
// tag is missing or no value stands there.
std::string getTagStringFromBodyJSON(std::string_view bodyJSON, std::string_view tag);

// The raw value of `tag` read as whole kopecks and written as currency units
// with two decimals: "12345" gives "123.45", "5" gives "0.05"; "0.00" when the
// tag is missing. Purely textual: no digit check, no rounding.
std::string getTagSumFromBodyJSON(std::string_view bodyJSON, std::string_view tag);

// Walks the goods items of a check (each item beginning with its t1023 key).
// Sets `oneGoodString` to the item found at or after `startPos` — from the
// quote of its "t1023\": key to three characters before the next item's
// key — and returns the position of the next item, or -1 when the item
// returned is the last. Returns -1 and leaves `oneGoodString` unchanged when
// there is no item at or after `startPos`.
int getOneGoodFromGoodsJSON(std::string_view goodsJSON, int startPos, std::string& oneGoodString);

// As getOneGoodFromGoodsJSON, with the item given as a view into `goodsJSON`.
int nextGood(std::string_view goodsJSON, int startPos, std::string_view& oneGoodString);

// Calls fn(oneGoodString) for every goods item of `goodsJSON`, in order, as
// getOneGoodFromGoodsJSON cuts them. Text without any item makes no call.
// A bool result of fn stops the walk as with forEachDocument.
template <class Fn>
bool forEachGood(std::string_view goodsJSON, Fn&& fn);

// The walk of both: `next` cuts one item at a position and says where the next one is.
template <class Fn>
bool forEachItem(std::string_view text, int (*next)(std::string_view, int, std::string_view&), Fn&& fn) {
  std::string_view item;
  for (int pos = 0; pos != -1;) {
    item = {};
    pos = next(text, pos, item);
    if (item.data() == nullptr) continue;
    if constexpr (std::is_same_v<decltype(fn(item)), bool>) {
      if (!fn(item)) return false;
    } else {
      fn(item);
    }
  }
  return true;
}

template <class Fn>
bool forEachDocument(std::string_view text, Fn&& fn) {
  return forEachItem(text, nextDocument, std::forward<Fn>(fn));
}

template <class Fn>
bool forEachGood(std::string_view goodsJSON, Fn&& fn) {
  return forEachItem(goodsJSON, nextGood, std::forward<Fn>(fn));
}
