#include "text/escaping.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
  std::string in;
  std::string want;
};

TEST(escapeForJsonString, EscapesWhatJsonRequiresAndNothingElse) {
  const std::vector<Case> cases = {
      {R"(<a b="1">x</a>)", R"(<a b=\"1\">x</a>)"},
      {"\t<a>\t\tx</a>", "<a>x</a>"},             // indentation TABs are dropped
      {"a  b", "a  b"},                           // blanks stay
      {R"(C:\goods)", R"(C:\\goods)"},
      {R"(\")", R"(\\\")"},                       // backslash before a quote: both escaped
      {"a\nb\rc", R"(a\nb\rc)"},
      {std::string("a\0b", 3), R"(a\u0000b)"},
      {"\x01\x1F\x08\x0C", R"(\u0001\u001F\u0008\u000C)"},
      {"\x7F", "\x7F"},
      {"\xD0\x9C\xD0\xBE\xD0\xBB\xD0\xBE\xD0\xBA\xE8\xEB\xE8\xFF", "\xD0\x9C\xD0\xBE\xD0\xBB\xD0\xBE\xD0\xBA\xE8\xEB\xE8\xFF"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, escapeForJsonString(c.in)) << "input: " << c.in;
}

// Every value but the goods text keeps its TABs, so what is sent is what was received.
TEST(appendJsonEscaped, AppendsToWhatIsThereAndKeepsTabs) {
  std::string out = "{\"v\":\"";
  appendJsonEscaped(out, "q\"\tr");
  EXPECT_EQ("{\"v\":\"q\\\"\\tr", out);
}

TEST(percentEncode, LeavesUnreservedBytesAlone) {
  const std::vector<Case> cases = {
      {"shop1", "shop1"},
      {"A-Z_a.z~09", "A-Z_a.z~09"},
      {"a&b c", "a%26b%20c"},
      {"p=1?x#y/z+%", "p%3D1%3Fx%23y%2Fz%2B%25"},
      {"\xE8\xEB\xE8", "%E8%EB%E8"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, percentEncode(c.in)) << "input: " << c.in;
}

}  // namespace
