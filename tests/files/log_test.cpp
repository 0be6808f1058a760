#include "files/log.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "test_files.h"

namespace {

const std::string kStamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d{4} --- )";

TEST(writeLog, AppendsTimeStampedLinesInCallOrder) {
  ScopedTempDir dir;
  ScopedWorkingDir cwd(dir.path());
  writeFileBytes("run.log", "earlier run\n");
  writeLog("run.log", "first");
  writeLog("run.log", "second\n");
  writeLog("run.log", "<a>\n<b/>\n</a>");
  const std::string text = readFileBytes("run.log");
  EXPECT_TRUE(std::regex_match(text, std::regex("earlier run\n" + kStamp + "first\n" + kStamp + "second\n\n" +
                                                kStamp + "<a>\n<b/>\n</a>\n")))
      << text;
}

TEST(writeLog, PassesBytesUnchanged) {
  ScopedTempDir dir;
  ScopedWorkingDir cwd(dir.path());
  const std::string bytes("\xE8\xEB\xE8 \x00 \xFF", 7);
  writeLog("bytes.log", bytes);
  const std::string text = readFileBytes("bytes.log");
  ASSERT_GE(text.size(), bytes.size() + 1);
  EXPECT_EQ(bytes + "\n", text.substr(text.size() - bytes.size() - 1));
}

TEST(writeLog, UnwritableFileIsSkipped) {
  ScopedTempDir dir;
  writeLog(dir.file("missing/folder.log"), "x");
  EXPECT_FALSE(fileExists(dir.file("missing")));
}

}  // namespace
