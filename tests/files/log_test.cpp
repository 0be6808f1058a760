#include "files/log.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "captured_messages.h"
#include "files/messages.h"
#include "files/run_log.h"
#include "files/secret_mask.h"
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

// One mask for every output: each spelling of each secret is *** on
// standard output, standard error, in a debug log and in the run log; where
// two spellings begin together the longer is masked whole.
TEST(maskSecrets, EveryOutputMasksEverySpelling) {
  struct Case {
    const char* password;
    const char* session;
    std::string text;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"Zq7&x", "", "login?password=Zq7%26x and Zq7&x", "login?password=*** and ***"},
      {"Zq7&x", "", "<param password=\"Zq7&amp;x\"/>", "<param password=\"***\"/>"},
      {"pw", "", "pwpw", "******"},
      {"a<b", "", "a<b a&lt;b a%3Cb", "*** *** ***"},
      {"pw", "sess-1", "answer {\"idSession\":\"sess-1\"} pw", "answer {\"idSession\":\"***\"} ***"},
      {"", "", "nothing to hide", "nothing to hide"},
      {"pw", "", "", ""},
  };
  ScopedTempDir dir;
  ScopedWorkingDir cwd(dir.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    clearSecrets();
    addPasswordSecret(c.password);
    addSecret(c.session);
    EXPECT_EQ(c.want, maskSecrets(c.text));
    EXPECT_EQ(c.want != c.text, containsSecret(c.text));
    {
      CapturedMessages captured;
      printLine(c.text);
      printError(c.text);
      EXPECT_EQ(c.want + "\n", captured.out());
      EXPECT_EQ("kkmbridge: " + c.want + "\n", captured.err());
    }
    std::remove("debug.log");
    std::remove("run.log");
    writeLog("debug.log", c.text);
    const std::string logged = readFileBytes("debug.log");
    EXPECT_EQ(c.want + "\n", logged.substr(logged.find(" --- ") + 5));
    appendRunLogLine("run.log", c.text);
    EXPECT_EQ(c.want + "\n", readFileBytes("run.log"));
  }
  clearSecrets();
}

// Runs that end together each leave their line, also when one of them
// rotates the log: none is lost, and the log is rotated once.
TEST(appendRunLogLine, RotationLosesNoLineWhenRunsEndTogether) {
  ScopedTempDir dir;
  const std::string log = dir.file("run.log");
  writeFileBytes(log, std::string(kRunLogCap, 'x') + "\n");
  constexpr int kRuns = 8;
  std::vector<pid_t> children;
  for (int i = 0; i < kRuns; ++i) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      appendRunLogLine(log, "run " + std::to_string(i));
      _exit(0);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) waitpid(pid, nullptr, 0);
  const std::string current = readFileBytes(log);
  const std::string rotated = readFileBytes(log + ".1");
  EXPECT_EQ(static_cast<std::size_t>(kRunLogCap) + 1, rotated.size()) << "rotated more than once";
  for (int i = 0; i < kRuns; ++i)
    EXPECT_NE(std::string::npos, current.find("run " + std::to_string(i) + "\n")) << current;
  EXPECT_EQ(static_cast<std::ptrdiff_t>(kRuns), std::count(current.begin(), current.end(), '\n')) << current;
}

// A debug log is only ever a regular file of its own: a link planted at its
// name is not written through, and a FIFO is not waited on.
TEST(writeLog, WritesNoFileButARegularOneOfItsOwn) {
  ScopedTempDir dir;
  ScopedWorkingDir cwd(dir.path());
  writeFileBytes("target.txt", "keep");
  ASSERT_EQ(0, symlink("target.txt", "exportLog.log"));
  ASSERT_EQ(0, mkfifo("importLog.log", 0600));
  CapturedMessages captured;
  writeLog("exportLog.log", "x");
  writeLog("exportLog.log", "y");
  writeLog("importLog.log", "x");
  EXPECT_EQ("keep", readFileBytes("target.txt"));
  EXPECT_NE(std::string::npos, captured.err().find("debug log exportLog.log not written: it is a symbolic link"))
      << captured.err();
  EXPECT_NE(std::string::npos, captured.err().find("debug log importLog.log not written: it is a FIFO"))
      << captured.err();
  EXPECT_EQ(2, std::count(captured.err().begin(), captured.err().end(), '\n')) << "once per file";
  writeLog("new.log", "x");
  struct stat info {};
  ASSERT_EQ(0, stat("new.log", &info));
  EXPECT_EQ(0600u, info.st_mode & 0777);
}

}  // namespace
