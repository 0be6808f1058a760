// Log and dump files on Windows are text files: each entry's line ends, and
// the line breaks inside its text, are written as CR LF; every other byte
// goes in unchanged.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "files/log.h"
#include "test_files.h"

namespace {

const std::string kStamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d{4} --- )";

TEST(writeLogOnWindows, AppendsCrLfLines) {
  ScopedTempDir dir;
  ScopedWorkingDir cwd(dir.path());
  writeFileBytes("run.log", "earlier run\r\n");
  writeLog("run.log", "first");
  writeLog("run.log", "<a>\n<b/>\n</a>");
  writeLog("run.log", "");
  const std::string text = readFileBytes("run.log");
  EXPECT_TRUE(std::regex_match(text, std::regex("earlier run\r\n" + kStamp + "first\r\n" + kStamp +
                                                "<a>\r\n<b/>\r\n</a>\r\n" + kStamp + "\r\n")))
      << text;
}

TEST(writeLogOnWindows, PassesOtherBytesUnchanged) {
  ScopedTempDir dir;
  const std::string bytes("\xE8\xEB\xE8 \x00 \xFF \x1A \xC0", 11);
  writeLog(dir.file("bytes.log"), bytes);
  const std::string text = readFileBytes(dir.file("bytes.log"));
  ASSERT_GE(text.size(), bytes.size() + 2);
  EXPECT_EQ(bytes + "\r\n", text.substr(text.size() - bytes.size() - 2));
}

}  // namespace
