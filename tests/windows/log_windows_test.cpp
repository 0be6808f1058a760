// Log and dump files on Windows are text files: each entry's line ends, and
// the line breaks inside its text, are written as CR LF; every other byte
// goes in unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "files/log.h"
#include "files/run_log.h"
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

// Runs that end together each leave their line, also when one of them
// rotates the log: none is lost, and the log is rotated once.
TEST(runLogOnWindows, RotationLosesNoLineWhenRunsEndTogether) {
  ScopedTempDir dir;
  const std::string log = dir.file("run.log");
  writeFileBytes(log, std::string(kRunLogCap, 'x') + "\r\n");
  constexpr int kRuns = 8;
  std::vector<std::thread> runs;
  std::atomic<int> ready{0};
  for (int i = 0; i < kRuns; ++i)
    runs.emplace_back([&log, &ready, i] {
      // All start together, as runs that end at the same moment do.
      ++ready;
      while (ready.load() < kRuns) std::this_thread::yield();
      appendRunLogLine(log, "run " + std::to_string(i));
    });
  for (std::thread& run : runs) run.join();
  const std::string current = readFileBytes(log);
  EXPECT_EQ(static_cast<std::size_t>(kRunLogCap) + 2, readFileBytes(log + ".1").size()) << "rotated more than once";
  for (int i = 0; i < kRuns; ++i)
    EXPECT_NE(std::string::npos, current.find("run " + std::to_string(i) + "\r\n")) << current;
  EXPECT_EQ(static_cast<std::ptrdiff_t>(kRuns), std::count(current.begin(), current.end(), '\n')) << current;
}

}  // namespace
