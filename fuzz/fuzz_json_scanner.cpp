// Every operation of the JSON field scanner on arbitrary text, key and start
// position. Input: byte 0 = key length, bytes 1-2 = start position (signed,
// little endian), then the key, then the text.
//
// Besides "no crash, no read outside the text", the properties checked are
// the ones the report building leans on: values are pieces of the text (or
// the fixed "nothing found" values), and both list walks move strictly
// forward, so the loops over documents and goods always end.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "text/json_scanner.h"

namespace {

bool isPieceOf(std::string_view piece, std::string_view text) {
  return piece.empty() || text.find(piece) != std::string_view::npos;
}

void walkDocuments(std::string_view text, int startPos) {
  std::string doc = "untouched";
  int pos = getOneDocFromJSON(text, startPos, doc);
  if (pos == -1) return;
  int steps = 0;
  while (pos != -1) {
    FUZZ_CHECK(pos > startPos && static_cast<std::size_t>(pos) < text.size(), "document walk went back or out");
    FUZZ_CHECK(text.compare(static_cast<std::size_t>(pos), 6, "{\"id\":") == 0, "next document does not begin {\"id\":");
    FUZZ_CHECK(doc.rfind("{\"id\"", 0) == 0 && isPieceOf(doc, text), "document is not a piece of the list: " + doc);
    startPos = pos;
    pos = getOneDocFromJSON(text, pos, doc);
    FUZZ_CHECK(++steps <= static_cast<int>(text.size()), "document walk does not end");
  }
  FUZZ_CHECK(doc.rfind("{\"id\"", 0) == 0 && isPieceOf(doc, text), "last document is not a piece of the list");
}

void walkGoods(std::string_view text, int startPos) {
  std::string good = "untouched";
  int pos = getOneGoodFromGoodsJSON(text, startPos, good);
  int steps = 0;
  while (pos != -1) {
    FUZZ_CHECK(pos > startPos && static_cast<std::size_t>(pos) < text.size(), "goods walk went back or out");
    FUZZ_CHECK(isPieceOf(good, text), "goods item is not a piece of the list: " + good);
    startPos = pos;
    pos = getOneGoodFromGoodsJSON(text, pos, good);
    FUZZ_CHECK(++steps <= static_cast<int>(text.size()), "goods walk does not end");
  }
  FUZZ_CHECK(good == "untouched" || isPieceOf(good, text), "last goods item is not a piece of the list");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::size_t keyLength = data[0] % 24;
  const int startPos = static_cast<std::int16_t>(data[1] | (data[2] << 8));
  const std::string_view rest(reinterpret_cast<const char*>(data + 3), size - 3);
  const std::string_view key = rest.substr(0, keyLength);
  const std::string_view text = rest.substr(key.size());

  const std::string value = getStringFromJSON(text, key);
  FUZZ_CHECK(isPieceOf(value, text), "getStringFromJSON value is not a piece of the text");
  FUZZ_CHECK(value.find('"') == std::string::npos, "getStringFromJSON value holds a quote");
  (void)getIntFromJSON(text, key);

  const std::string body = getBodyFromDocJSON(text);
  FUZZ_CHECK(body.empty() || text.substr(text.size() - body.size()) == body, "body is not the end of the text");
  const std::string tagValue = getTagValueFromBodyJSON(text, key);
  FUZZ_CHECK(tagValue == "0" || isPieceOf(tagValue, text), "tag value is not a piece of the text");
  const std::string tagString = getTagStringFromBodyJSON(text, key);
  FUZZ_CHECK(isPieceOf(tagString, text), "tag string is not a piece of the text");
  const std::string sum = getTagSumFromBodyJSON(text, key);
  FUZZ_CHECK(sum.size() >= 3 && (sum[sum.size() - 3] == '.' || sum == "0.0"), "sum without two decimals: " + sum);

  walkDocuments(text, startPos);
  walkDocuments(text, 0);
  walkGoods(text, startPos);
  walkGoods(text, 0);
  return 0;
}
