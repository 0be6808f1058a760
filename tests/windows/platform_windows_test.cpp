// What the platform unit does differently on Windows: replacing a file with
// MoveFileExA, reading files whole whatever their line ends, the local
// calendar of the C runtime, and the Russian locale.
#include <gtest/gtest.h>
#include <windows.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "files/atomic_file.h"
#include "files/text_file.h"
#include "test_files.h"
#include "text/date_time.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> folderEntries(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path)) names.push_back(entry.path().filename().string());
  return names;
}

TEST(replaceFileOnWindows, ReplacesAnExistingTargetInOneStep) {
  ScopedTempDir dir;
  writeFileBytes(dir.file("c.xml"), "old bytes, longer than the new ones");
  std::string error;
  ASSERT_TRUE(writeFileAtomically(dir.file("c.xml"), "new\r\n", error))
      << error;
  EXPECT_EQ("new\r\n", readFileBytes(dir.file("c.xml")));  // written in binary: no CR added
  EXPECT_EQ(std::vector<std::string>{"c.xml"}, folderEntries(dir.path()));
}

// Each way the replacement can be refused: the old file stays as it was and
// the temporary file is gone.
TEST(replaceFileOnWindows, RefusalLeavesTheTargetAndNoTemporary) {
  struct Case {
    const char* name;
    std::function<void(const ScopedTempDir&)> arrange;
    std::function<void(const ScopedTempDir&)> undo;
    const char* errorPart;
  };
  std::FILE* holder = nullptr;
  const std::vector<Case> cases = {
      {"read-only target",
       [](const ScopedTempDir& d) { SetFileAttributesA(d.file("c.xml").c_str(), FILE_ATTRIBUTE_READONLY); },
       [](const ScopedTempDir& d) { SetFileAttributesA(d.file("c.xml").c_str(), FILE_ATTRIBUTE_NORMAL); },
       "read-only"},
      // Another program reads the file (the C runtime shares no deletion).
      {"target open elsewhere", [&](const ScopedTempDir& d) { holder = std::fopen(d.file("c.xml").c_str(), "rb"); },
       [&](const ScopedTempDir&) {
         if (holder != nullptr) std::fclose(holder);
       },
       "Windows error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTempDir dir;
    writeFileBytes(dir.file("c.xml"), "old bytes");
    c.arrange(dir);
    std::string error;
    EXPECT_FALSE(writeFileAtomically(dir.file("c.xml"), "x", error));
    EXPECT_NE(std::string::npos, error.find(c.errorPart)) << error;
    c.undo(dir);
    EXPECT_EQ("old bytes", readFileBytes(dir.file("c.xml")));
    EXPECT_EQ(std::vector<std::string>{"c.xml"}, folderEntries(dir.path()));
  }
}

TEST(replaceFileOnWindows, AFolderIsNotReplaced) {
  ScopedTempDir dir;
  fs::create_directory(dir.file("sub"));
  writeFileBytes(dir.file("sub/keep"), "k");
  std::string error;
  EXPECT_FALSE(writeFileAtomically(dir.file("sub"), "x", error));
  EXPECT_EQ("k", readFileBytes(dir.file("sub/keep")));
  EXPECT_EQ(std::vector<std::string>{"sub"}, folderEntries(dir.path()));
}

// Files are read in binary: CR LF line ends are joined like LF ones, and a
// Ctrl-Z, where a text-mode read would stop, is data.
TEST(readTextFileOnWindows, ReadsEveryByte) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"<a>\r\nx\r\n</a>\r\n", "<a>x</a>"},
      {"<a>x\x1A y</a>\r\n", "<a>x\x1A y</a>"},
      {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<a>\xE8\xEB\xE8</a>",
       "<?xml version=\"1.0\" encoding=\"windows-1251\"?><a>\xE8\xEB\xE8</a>"},
      {"<a>x\r</a>", "<a>x\r</a>"},
  };
  ScopedTempDir dir;
  for (const auto& c : cases) {
    writeFileBytes(dir.file("f.xml"), c.first);
    EXPECT_EQ(c.second, readTextFile(dir.file("f.xml")).text) << c.first;
  }
}

// A file that another program holds open for writing can still be read.
TEST(readTextFileOnWindows, ReadsAFileOpenForWritingElsewhere) {
  ScopedTempDir dir;
  std::FILE* writer = std::fopen(dir.file("goods.xml").c_str(), "wb");
  ASSERT_NE(nullptr, writer);
  std::fputs("<goods/>", writer);
  std::fflush(writer);
  EXPECT_EQ("<goods/>", readTextFile(dir.file("goods.xml")).text);
  std::fclose(writer);
}

// Runs the body with the C runtime's TZ set to `zone` and restores it.
class ScopedRuntimeTimeZone {
 public:
  explicit ScopedRuntimeTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    old_ = old != nullptr ? old : "";
    _putenv_s("TZ", zone);
    _tzset();
  }
  ~ScopedRuntimeTimeZone() {
    _putenv_s("TZ", old_.c_str());  // an empty value removes the variable
    _tzset();
  }
  ScopedRuntimeTimeZone(const ScopedRuntimeTimeZone&) = delete;
  ScopedRuntimeTimeZone& operator=(const ScopedRuntimeTimeZone&) = delete;

 private:
  std::string old_;
};

TEST(dateTimeOnWindows, LocalTimeCarriesTheRuntimeZoneOffset) {
  struct Case {
    const char* zone;
    std::int64_t t;
    const char* want;
  };
  const std::vector<Case> cases = {
      {"UTC0", 0, "1970-01-01T00:00:00+0000"},
      {"MSK-3", 1623790799, "2021-06-15T23:59:59+0300"},
      {"EST5", 1610712000, "2021-01-15T07:00:00-0500"},
      {"IST-5:30", 0, "1970-01-01T05:30:00+0530"},
  };
  for (const auto& c : cases) {
    ScopedRuntimeTimeZone tz(c.zone);
    EXPECT_EQ(c.want, timeToText(c.t, kTimeWithZoneFormat)) << c.zone << " " << c.t;
  }
}

// The service's date-times are read without any zone: the same numbers in
// every zone of the runtime.
TEST(dateTimeOnWindows, ServiceDateTimesAreZoneFree) {
  for (const char* zone : {"UTC0", "MSK-3", "EST5", "IST-5:30"}) {
    ScopedRuntimeTimeZone tz(zone);
    EXPECT_EQ(1583020800, textToTime("2020-03-01T00:00:00.000+0000", kTimeWithZoneFormat)) << zone;
    EXPECT_EQ("2021-03-14T02:30:00", convertDateTimeTo1C("2021-03-14T02:30:00.000+0000")) << zone;
    EXPECT_EQ("2021-11-07T01:30:00", convertDateTimeTo1C("2021-11-07T01:30:00+0300")) << zone;
    EXPECT_EQ("3000-12-31T23:59:59", convertDateTimeTo1C("3000-12-31T23:59:59")) << zone;
  }
}

TEST(currentTimeTextOnWindows, IsTheRuntimeClock) {
  ScopedRuntimeTimeZone tz("MSK-3");
  const __time64_t before = _time64(nullptr);
  const std::string text = currentTimeText();
  std::tm local{};
  ASSERT_EQ(0, _localtime64_s(&local, &before));
  char expected[32];
  std::strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M", &local);
  EXPECT_EQ(std::string(expected), text.substr(0, 16)) << text;
  EXPECT_EQ("+0300", text.substr(19)) << text;
}

// The operators' machines run the Russian locale, which Windows knows by
// that name; a name it does not know leaves the locale as it was.
TEST(trySetLocaleOnWindows, RussianIsKnown) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  platform::trySetLocale("Russian");
  EXPECT_EQ("Russian_Russia.1251", std::string(std::setlocale(LC_ALL, nullptr)));
  platform::trySetLocale("No such locale");
  EXPECT_EQ("Russian_Russia.1251", std::string(std::setlocale(LC_ALL, nullptr)));
  std::setlocale(LC_ALL, before.c_str());
}

// LockFileEx locks bytes that no one else may then read: the holder's
// record lies outside the locked byte, so a waiting run can say who holds
// the lock and since when.
TEST(fileLockOnWindows, AWaitingRunReadsWhoHoldsTheLock) {
  ScopedTempDir dir;
  const std::string path = dir.file("~kkmbridge-ImportData.xml.lock");
  platform::FileLock held;
  platform::LockHolder holder;
  std::string error;
  ASSERT_EQ(platform::FileLock::Result::kTaken, platform::FileLock::tryTake(path, "", held, holder, error)) << error;
  platform::FileLock second;
  EXPECT_EQ(platform::FileLock::Result::kBusy, platform::FileLock::tryTake(path, "", second, holder, error));
  EXPECT_EQ(platform::processId(), holder.processId);
  EXPECT_LE(std::abs(platform::now() - holder.since), 5);
  held = platform::FileLock();  // let go: the record goes with the lock
  EXPECT_EQ(platform::FileLock::Result::kTaken, platform::FileLock::tryTake(path, "", second, holder, error)) << error;
}

// A device opens without waiting, but reading it would not end: it is
// refused as no regular file, as a folder is.
TEST(readFileOnWindows, ADeviceOrFolderIsNoFileToRead) {
  ScopedTempDir dir;
  for (const std::string& path : {std::string("NUL"), dir.path()}) {
    SCOPED_TRACE(path);
    const FileRead read = readFile(path);
    EXPECT_EQ(FileStatus::kFailed, read.status);
    EXPECT_EQ("", read.text);
  }
}

}  // namespace
