#include "text/escaping.h"

#include <gtest/gtest.h>

#include "text/utf8.h"

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

// Configuration paths written in windows-1251 are told from UTF-8 ones.
TEST(isValidUtf8, AcceptsWellFormedTextOnly) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"", true},
      {"C:\\kkm\\run.log", true},
      {"\xD0\x96\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB", true},  // "Журнал"
      {"M\xC3\xBCller \xD2\x9A", true},                                  // "Müller Қ"
      {"\xF0\x9F\x98\x80", true},                                         // U+1F600
      {"\xEF\xBF\xBF", true},                                              // U+FFFF
      {"\xF4\x8F\xBF\xBF", true},                                         // U+10FFFF, the last
      {"\xC6\xF3\xF0\xED\xE0\xEB", false},  // "Журнал" in windows-1251
      {"\x80", false},                          // a continuation byte alone
      {"\xD0", false},                          // cut short
      {"\xE2\x82", false},
      {"\xD0\x41", false},                      // no continuation byte
      {"\xC0\xAF", false},                      // overlong '/'
      {"\xE0\x80\xAF", false},
      {"\xF0\x80\x80\xAF", false},
      {"\xED\xA0\x80", false},                  // a surrogate (U+D800)
      {"\xF4\x90\x80\x80", false},             // past U+10FFFF
      {"\xF8\x88\x80\x80\x80", false},
      {"\xFF", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, isValidUtf8(c.first)) << testing::PrintToString(c.first);
}

}  // namespace
