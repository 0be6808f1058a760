#include "text/json_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TextCase {
  std::string text;
  std::string key;
  std::string want;
};

struct IntCase {
  std::string text;
  std::string key;
  int want;
};

TEST(getStringFromJSON, ReadsTheFirstQuotedTextAfterTheKey) {
  const std::vector<TextCase> cases = {
      {R"({"docDt":"2020-03-01T10:00:00","docKind":3})", "docDt", "2020-03-01T10:00:00"},
      // A value that is no string: the next quoted text anywhere after it.
      {R"({"idUser":5,"nameUser":"cashier"})", "idUser", "nameUser"},
      // Escaped quotes are not honoured.
      {R"({"a":"a\"b"})", "a", "a\\"},
      {R"({"a":""})", "a", ""},
      {R"({"x":"1"})", "missing", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, getStringFromJSON(c.text, c.key)) << "text: " << c.text;
}

TEST(getStringFromJSON, HostileTextGivesNothing) {
  const std::vector<TextCase> cases = {
      {"idSession", "idSession", ""},       // text ends right after the key
      {"idSession:", "idSession", ""},      // ... after the colon
      {"idSession:\"", "idSession", ""},    // ... after the opening quote
      {"idSession:\"abc", "idSession", ""}, // no closing quote
      {"", "idSession", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, getStringFromJSON(c.text, c.key)) << "text: " << c.text;
}

TEST(getIntFromJSON, ReadsFromTheColonToTheNextComma) {
  const std::vector<IntCase> cases = {
      {R"({"idUser":12,"idDealer":7})", "idUser", 12},
      {R"({"idUser":12,"idDealer":7})", "idDealer", -1},  // no comma after its colon
      {R"({"idUser":12,"idDealer":7},{"id":2})", "idDealer", 7},
      {R"({"idUser": 12,)", "idUser", 12},
      {R"({"idUser":-42,)", "idUser", -42},
      {R"({"idUser":+42,)", "idUser", 42},
      {R"({"docKind":129, )", "docKind", 129},
      {R"({"a":2147483647,)", "a", 2147483647},
      {R"({"a":-2147483648,)", "a", -2147483647 - 1},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, getIntFromJSON(c.text, c.key)) << "text: " << c.text;
}

TEST(getIntFromJSON, BadNumbersGiveMinusOne) {
  const std::vector<IntCase> cases = {
      {R"({"idUser":"12",)", "idUser", -1},        // quoted value
      {R"({"idUser":abc,)", "idUser", -1},
      {R"({"idUser":,)", "idUser", -1},
      {R"({"idUser":-,)", "idUser", -1},
      {R"({"a":2147483648,)", "a", -1},            // out of the 32-bit range
      {R"({"a":-2147483649,)", "a", -1},
      {R"({"a":99999999999999999999999999,)", "a", -1},
      {"docKind", "docKind", -1},
      {"docKind:", "docKind", -1},
      {"docKind:5", "docKind", -1},
      {"", "docKind", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, getIntFromJSON(c.text, c.key)) << "text: " << c.text;
}

TEST(getOneDocFromJSON, WalksTheDocumentList) {
  const std::string list = R"({"id":1,"a":2},{"id":2,"a":3})";
  std::string doc = "before";
  EXPECT_EQ(15, getOneDocFromJSON(list, 0, doc));
  EXPECT_EQ(R"({"id":1,"a":2})", doc);
  EXPECT_EQ(-1, getOneDocFromJSON(list, 15, doc));
  EXPECT_EQ(R"({"id":2,"a":3})", doc);
}

TEST(getOneDocFromJSON, NothingFoundLeavesTheOutputAlone) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"", 0},
      {R"({ "id":1})", 0},       // white space after the brace
      {R"({"id":1})", 1},        // start past the only object
      {R"({"id":1})", 500},      // start past the end
      {R"({"id":1})", -7},       // negative start
      {R"({"id":)", 3},
  };
  for (const auto& c : cases) {
    std::string doc = "kept";
    EXPECT_EQ(-1, getOneDocFromJSON(c.first, c.second, doc)) << "text: " << c.first;
    EXPECT_EQ("kept", doc) << "text: " << c.first;
  }
}

TEST(getOneDocFromJSON, ObjectAtTheVeryEnd) {
  std::string doc;
  EXPECT_EQ(-1, getOneDocFromJSON(R"(x{"id":)", 0, doc));
  EXPECT_EQ(R"({"id":)", doc);
}

TEST(getOneDocFromJSON, WalksFiftyThousandDocumentsInOrder) {
  std::string list;
  for (int i = 0; i < 50000; ++i) {
    if (i) list += ',';
    list += "{\"id\":" + std::to_string(i) + ",\"docKind\":3,\"body\":\"{}\"}";
  }
  int pos = 0, count = 0;
  std::string doc;
  while (pos != -1) {
    pos = getOneDocFromJSON(list, pos, doc);
    ASSERT_EQ(count, getIntFromJSON(doc, "\"id\"")) << doc;
    ++count;
  }
  EXPECT_EQ(50000, count);
}

TEST(getBodyFromDocJSON, CutsAfterTheOpeningQuote) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"id":1,"body":"{\"t1042\":7}"})", R"({\"t1042\":7}"})"},
      {R"({"id":1})", ""},
      {R"("body":)", ""},    // text ends right after the key
      {R"("body":")", ""},   // ... after the opening quote
      {R"("body":"x)", "x"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, getBodyFromDocJSON(c.first)) << "doc: " << c.first;
}

TEST(getTagValueFromBodyJSON, ReadsRawValues) {
  const std::string body = R"({\"t1042\":7,\"t1054\":1})";
  const std::vector<TextCase> cases = {
      {body, "t1042", "7"},
      {body, "t1054", "1"},   // last tag: the closing brace is cut
      {body, "t1038", "0"},   // missing
      {R"(\"t1055\":\"x\",\"t1")", "t1055", R"(\"x\")"},
      // A tag pattern matches the end of a longer tag.
      {R"({\"t11042\":5,\"t1\":0})", "1042", "5"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, getTagValueFromBodyJSON(c.text, c.key)) << "body: " << c.text;
}

TEST(getTagValueFromBodyJSON, HostileTextGivesZero) {
  const std::vector<TextCase> cases = {
      {R"(\"t1042\":)", "t1042", "0"},     // tag at the very end
      {R"(\"t1042\":7)", "t1042", ""},     // one character left: it is the cut closing brace
      {"", "t1042", "0"},
      {R"(\"t1042\")", "t1042", "0"},
      // A hostile tag holding the next-tag pattern: the bounds would cross.
      {R"(x,\"t\":1)", "x,\\\"t", "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, getTagValueFromBodyJSON(c.text, c.key)) << "body: " << c.text;
}

TEST(getTagStringFromBodyJSON, ReadsStringValues) {
  const std::vector<TextCase> cases = {
      {R"(\"t40385\":\"A-17\",\"t1023\":\"2.000\")", "t40385", "A-17"},
      {R"(\"t40385\":\"A-17\",\"t1023\":\"2.000\")", "t1023", "2.000"},  // last: two characters cut
      {R"(\"t1023\":\"1.000\",\"t1079\":5)", "t1023", "1.000"},
      {R"(\"t40385\":\"a\\\"b\",\"t1")", "t40385", R"(a\\\"b)"},  // escapes kept as they stand
      {R"(\"t1\":1)", "t40385", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, getTagStringFromBodyJSON(c.text, c.key)) << "body: " << c.text;
}

TEST(getTagStringFromBodyJSON, HostileTextGivesNothing) {
  const std::vector<TextCase> cases = {
      {R"(\"t40385\":)", "t40385", ""},       // tag at the very end
      {R"(\"t40385\":\)", "t40385", ""},      // start would pass the end
      {R"(\"t40385\":,\"t1\":1)", "t40385", ""},  // next tag right after: negative length
      {R"(\"t40385\":\"x)", "t40385", ""},
      {"", "t40385", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, getTagStringFromBodyJSON(c.text, c.key)) << "body: " << c.text;
}

TEST(getTagSumFromBodyJSON, WritesKopecksAsCurrencyUnits) {
  auto sumOf = [](const std::string& raw) {
    return getTagSumFromBodyJSON(R"({\"t1\":)" + raw + R"(,\"t2\":0})", "t1");
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"12345", "123.45"}, {"100", "1.00"}, {"99", "0.99"}, {"7", "0.07"},
      {"", "0.0"},          // textual: nothing to pad with
      {"-5", "0.-5"},       // textual: no sign handling
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, sumOf(c.first)) << "raw: " << c.first;
  EXPECT_EQ("0.00", getTagSumFromBodyJSON(R"({\"t2\":1})", "t1"));
  EXPECT_EQ("0.00", getTagSumFromBodyJSON(R"(\"t1\":)", "t1"));
}

TEST(getOneGoodFromGoodsJSON, WalksTheGoodsItems) {
  const std::string goods = R"(\"t1023\":\"1\",\"t1079\":500},{\"t1023\":\"2\",\"t1079\":300)";
  std::string item;
  const int next = getOneGoodFromGoodsJSON(goods, 0, item);
  EXPECT_EQ(R"("t1023\":\"1\",\"t1079\":500)", item);
  EXPECT_EQ(static_cast<int>(goods.find(R"(\"t1023)", 5)), next);
  EXPECT_EQ(-1, getOneGoodFromGoodsJSON(goods, next, item));
  EXPECT_EQ(R"("t1023\":\"2\",\"t1079\":300)", item);
}

TEST(getOneGoodFromGoodsJSON, NothingFoundLeavesTheOutputAlone) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"", 0}, {R"(\"t1079\":5)", 0}, {R"(\"t1023\":1)", 4}, {R"(\"t1023\":1)", -1}, {R"(\"t1023\":1)", 99},
  };
  for (const auto& c : cases) {
    std::string item = "kept";
    EXPECT_EQ(-1, getOneGoodFromGoodsJSON(c.first, c.second, item)) << "goods: " << c.first;
    EXPECT_EQ("kept", item);
  }
}

// The next item's key right behind the current one's, and the text ending
// inside a key: every cut stays inside the text and no item is invented.
TEST(getOneGoodFromGoodsJSON, ItemsBackToBackStayInsideTheText) {
  struct Case {
    std::string goods;
    std::vector<std::string> items;
  };
  const std::vector<Case> cases = {
      // The next key is looked for behind the whole current key, so a key
      // right behind it belongs to the item: no cut can end before its start.
      {R"("t1023\":\"t1023\":)", {R"("t1023\":\"t1023\":)"}},
      {R"(x"t1023\":)", {R"("t1023\":)"}},
      {R"("t1023\")", {}},
      {R"(\"t1023\":1},{\"t1023\":2)", {R"("t1023\":1)", R"("t1023\":2)"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> items;
    std::string item = "before";
    int pos = 0;
    for (int guard = 0; pos != -1 && guard < 10; ++guard) {
      pos = getOneGoodFromGoodsJSON(c.goods, pos, item);
      if (pos != -1 || item != "before") items.push_back(item);
      item = "before";
    }
    EXPECT_EQ(-1, pos) << c.goods;
    EXPECT_EQ(c.items, items) << c.goods;
  }
}

}  // namespace
