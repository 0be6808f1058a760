#include "text/json_scanner.h"

#include <climits>

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Where the value of tag `tag` starts (the first character after \"tag\":)
// and where the search for the next tag starts; false when the tag is absent.
bool findTag(std::string_view body, std::string_view tag, std::size_t& tagPos, std::size_t& valueStart) {
  // The first place where the tag is followed by \": (no pattern is built:
  // this runs for every value of every check).
  static constexpr std::string_view kKeyEnd = "\\\":";
  for (std::size_t pos = body.find(tag); pos != npos; pos = body.find(tag, pos + 1)) {
    if (body.compare(pos + tag.size(), kKeyEnd.size(), kKeyEnd) == 0) {
      tagPos = pos;
      valueStart = pos + tag.size() + kKeyEnd.size();
      return true;
    }
  }
  return false;
}

// The value that starts at `valueStart` and ends at the next tag (the next
// ,\"t after the tag) or, for the last tag, at the end of the text less its
// closing brace. A string value (quoteLength 2) leaves out its escaped quotes
// on both sides. False when the text ends before a value or the bounds cross.
bool tagValueRange(std::string_view body, std::size_t tagPos, std::size_t valueStart, std::size_t quoteLength,
                   std::string_view& value) {
  const std::size_t start = valueStart + quoteLength;
  std::size_t end;
  const std::size_t nextPos = body.find(",\\\"t", tagPos);
  if (nextPos != npos) {
    if (nextPos < quoteLength) return false;
    end = nextPos - quoteLength;
  } else {
    const std::size_t cut = quoteLength == 0 ? 1 : quoteLength;
    if (body.size() < cut) return false;
    end = body.size() - cut;
  }
  if (start > body.size() || end < start) return false;
  value = body.substr(start, end - start);
  return true;
}

std::string_view rawTagValue(std::string_view body, std::string_view tag, bool& found) {
  std::size_t tagPos = 0, valueStart = 0;
  std::string_view value;
  found = findTag(body, tag, tagPos, valueStart) && tagValueRange(body, tagPos, valueStart, 0, value);
  return value;
}

int toPosition(std::size_t pos) { return pos > static_cast<std::size_t>(INT_MAX) ? -1 : static_cast<int>(pos); }

}  // namespace

std::string getStringFromJSON(std::string_view text, std::string_view key) {
  const std::size_t keyPos = text.find(key);
  if (keyPos == npos) return "";
  const std::size_t colonPos = text.find(':', keyPos + key.size());
  if (colonPos == npos) return "";
  const std::size_t openQuote = text.find('"', colonPos + 1);
  if (openQuote == npos) return "";
  const std::size_t closeQuote = text.find('"', openQuote + 1);
  if (closeQuote == npos) return "";
  return std::string(text.substr(openQuote + 1, closeQuote - openQuote - 1));
}

int getIntFromJSON(std::string_view text, std::string_view key) {
  const std::size_t keyPos = text.find(key);
  if (keyPos == npos) return -1;
  const std::size_t colonPos = text.find(':', keyPos + key.size());
  if (colonPos == npos) return -1;
  const std::size_t commaPos = text.find(',', colonPos + 1);
  if (commaPos == npos) return -1;

  std::size_t i = colonPos + 1;
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; };
  while (i < commaPos && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < commaPos && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  bool anyDigit = false;
  for (; i < commaPos && text[i] >= '0' && text[i] <= '9'; ++i) {
    anyDigit = true;
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) return -1;  // out of range, whatever follows
  }
  if (!anyDigit) return -1;
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) return -1;
  return static_cast<int>(value);
}

int nextDocument(std::string_view text, int startPos, std::string_view& docJSON) {
  static constexpr std::string_view kDocStart = "{\"id\":";
  if (startPos < 0) return -1;
  const std::size_t docPos = text.find(kDocStart, static_cast<std::size_t>(startPos));
  if (docPos == npos) return -1;
  const std::size_t nextPos = text.find(kDocStart, docPos + kDocStart.size());
  if (nextPos != npos) {
    docJSON = text.substr(docPos, nextPos - 1 - docPos);
    return toPosition(nextPos);
  }
  docJSON = text.substr(docPos);
  return -1;
}

int getOneDocFromJSON(std::string_view text, int startPos, std::string& docJSON) {
  std::string_view doc;
  const int next = nextDocument(text, startPos, doc);
  if (doc.data() != nullptr) docJSON.assign(doc);
  return next;
}

std::string_view bodyOfDocJSON(std::string_view docJSON) {
  static constexpr std::string_view kBody = "\"body\":";
  const std::size_t bodyPos = docJSON.find(kBody);
  if (bodyPos == npos) return {};
  const std::size_t start = bodyPos + kBody.size() + 1;  // and the quote that opens the string
  if (start > docJSON.size()) return {};
  return docJSON.substr(start);
}

std::string getBodyFromDocJSON(std::string_view docJSON) { return std::string(bodyOfDocJSON(docJSON)); }

std::string getTagValueFromBodyJSON(std::string_view bodyJSON, std::string_view tag) {
  bool found = false;
  const std::string_view value = rawTagValue(bodyJSON, tag, found);
  return found ? std::string(value) : std::string("0");
}

std::string getTagStringFromBodyJSON(std::string_view bodyJSON, std::string_view tag) {
  std::size_t tagPos = 0, valueStart = 0;
  std::string_view value;
  if (!findTag(bodyJSON, tag, tagPos, valueStart) || !tagValueRange(bodyJSON, tagPos, valueStart, 2, value))
    return "";
  return std::string(value);
}

std::string getTagSumFromBodyJSON(std::string_view bodyJSON, std::string_view tag) {
  bool found = false;
  std::string_view raw = rawTagValue(bodyJSON, tag, found);
  if (!found) raw = "0";
  const std::size_t length = raw.size();
  std::string sum;
  sum.reserve(length + 3);
  if (length >= 3) {
    sum.append(raw.substr(0, length - 2)).append(".").append(raw.substr(length - 2));
  } else if (length == 2) {
    sum.append("0.").append(raw);
  } else {
    sum.append("0.0").append(raw);
  }
  return sum;
}

int nextGood(std::string_view goodsJSON, int startPos, std::string_view& oneGoodString) {
  static constexpr std::string_view kItemKey = "\"t1023\\\":";       // "t1023\":
  static constexpr std::string_view kNextItemKey = "\\\"t1023\\\":";  // \"t1023\":
  if (startPos < 0) return -1;
  const std::size_t itemPos = goodsJSON.find(kItemKey, static_cast<std::size_t>(startPos));
  if (itemPos == npos) return -1;
  const std::size_t nextPos = goodsJSON.find(kNextItemKey, itemPos + kNextItemKey.size());
  if (nextPos != npos) {
    // The three characters in front of the next key (brace, comma, brace) belong to neither item.
    oneGoodString = goodsJSON.substr(itemPos, nextPos - 3 - itemPos);
    return toPosition(nextPos);
  }
  oneGoodString = goodsJSON.substr(itemPos);
  return -1;
}

int getOneGoodFromGoodsJSON(std::string_view goodsJSON, int startPos, std::string& oneGoodString) {
  std::string_view good;
  const int next = nextGood(goodsJSON, startPos, good);
  if (good.data() != nullptr) oneGoodString.assign(good);
  return next;
}

std::string_view documentIdOf(std::string_view docJSON) {
  static constexpr std::string_view kKey = "\"id\":";
  const std::size_t key = docJSON.find(kKey);
  if (key == std::string_view::npos) return {};
  std::size_t begin = key + kKey.size();
  std::size_t end = docJSON.find_first_of(",}", begin);
  if (end == std::string_view::npos) end = docJSON.size();
  while (begin < end && (docJSON[begin] == ' ' || docJSON[begin] == '\t')) ++begin;
  while (end > begin && (docJSON[end - 1] == ' ' || docJSON[end - 1] == '\t')) --end;
  return docJSON.substr(begin, end - begin);
}
