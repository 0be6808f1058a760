// What the platform unit does differently on Windows: the UTF-16 command
// line, paths of any script and length, the system's error texts, replacing
// a file with MoveFileExW (its owner and access list kept), reading files
// whole whatever their line ends, the local calendar of the C runtime, and
// the Russian locale.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they build on.
#include <aclapi.h>
#include <sddl.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <tuple>
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
  for (const auto& entry : fs::directory_iterator(fs::u8path(path))) names.push_back(entry.path().filename().u8string());
  return names;
}

// A UTF-8 path in the long form of the wide calls (made absolute first),
// for the test's own calls to the system.
std::wstring longForm(const std::string& path) {
  const std::wstring wide = fs::u8path(path).wstring();
  std::wstring full(32768, L'\0');
  full.resize(GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  return L"\\\\?\\" + full;
}

// Makes `path` and the folders above it that are missing (any length).
void makeFolders(const std::string& path) {
  const std::wstring wide = longForm(path);
  for (std::size_t i = wide.find(L'\\', 7); i != std::wstring::npos; i = wide.find(L'\\', i + 1))
    CreateDirectoryW(wide.substr(0, i).c_str(), nullptr);
  CreateDirectoryW(wide.c_str(), nullptr);
}

// Removes `path` with everything in it (any length).
void removeTree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  const HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        removeTree(path + L"\\" + name);
      else
        DeleteFileW((path + L"\\" + name).c_str());
    } while (FindNextFileW(h, &found));
    FindClose(h);
  }
  RemoveDirectoryW(path.c_str());
}

bool existsAsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(longForm(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& n : names)
    if (n == name) return true;
  return false;
}

// The command line as the system gives it (UTF-16) turns into UTF-8
// arguments; one that UTF-8 cannot spell is refused, never changed into
// another name.
TEST(commandLineOnWindows, ArgumentsAreUtf8OrRefused) {
  struct Case {
    const wchar_t* commandLine;
    std::vector<std::string> args;  // empty: refused
    const char* says;
  };
  const std::vector<Case> cases = {
      {L"kkmbridge.exe import C:\\kkm\\config.xml \"C:\\Users\\M\u00fcller\\\u049a\u0430\u0437\u0430\u049b 1\\ImportData.xml\"",
       {"kkmbridge.exe", "import", "C:\\kkm\\config.xml",
        "C:\\Users\\M\xC3\xBCller\\\xD2\x9A\xD0\xB0\xD0\xB7\xD0\xB0\xD2\x9B 1\\ImportData.xml"},
       ""},
      {L"kkmbridge.exe export \xD83D\xDE00.xml", {"kkmbridge.exe", "export", "\xF0\x9F\x98\x80.xml"}, ""},
      {L"kkmbridge.exe import c.xml \xD800x.xml", {}, "argument 3 of the command line is no valid Unicode"},
      {L"kkmbridge.exe \xDC00", {}, "argument 1 of the command line is no valid Unicode"},
      {L"kkmbridge.exe import \xDE00\xD83D", {}, "argument 2 of the command line is no valid Unicode"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args;
    std::string error;
    EXPECT_EQ(!c.args.empty(), platform::argumentsOfCommandLine(c.commandLine, args, error)) << c.says;
    EXPECT_EQ(c.args, args);
    EXPECT_NE(std::string::npos, error.find(c.says)) << error;
  }
}

// Every file call reaches the file under its own name, in any script and
// at any length (past the old limit of 260 characters, the temporary file's
// name longer still).
TEST(pathsOnWindows, AnyNameAndAnyLength) {
  std::string deep;
  for (int i = 0; i < 5; ++i) deep += (i ? "\\" : "") + std::string(60, static_cast<char>('a' + i));
  const std::vector<std::string> names = {
      "M\xC3\xBCller",                                // Müller: outside code page 1251
      "\xD2\x9A\xD0\xB0\xD0\xB7\xD0\xB0\xD2\x9B",  // Қазақ: outside every ANSI code page but one
      "\xD0\x9E\xD0\xB1\xD0\xBC\xD0\xB5\xD0\xBD 1C",  // Обмен 1C
      deep,
      "forward/slashes/../slashes",
  };
  ScopedTempDir dir;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string folder = dir.path() + "\\" + name;
    makeFolders(folder);
    const std::string target = folder + "\\ImportData.xml";
    if (name == deep) {
      EXPECT_GT(target.size(), 300u);
    }
    std::string error;
    ASSERT_TRUE(writeFileAtomically(target, "<a/>", error)) << error;
    EXPECT_TRUE(existsAsFile(target));
    EXPECT_EQ("<a/>", readFile(target).text);
    EXPECT_EQ(4, platform::fileSize(target));
    EXPECT_GT(platform::modificationTime(target), 0);
    EXPECT_TRUE(platform::isRegularFile(target));
    EXPECT_TRUE(contains(platform::folderEntries(folder), "ImportData.xml"));
    const std::string top = name.substr(0, name.find_first_of("/\\"));
    EXPECT_TRUE(contains(platform::folderEntries(dir.path()), top));

    platform::FileLock lock, second;
    platform::LockHolder holder;
    EXPECT_EQ(platform::FileLock::Result::kTaken, platform::FileLock::tryTake(folder + "\\x.lock", "", lock, holder, error))
        << error;
    EXPECT_EQ(platform::FileLock::Result::kBusy, platform::FileLock::tryTake(folder + "\\x.lock", "", second, holder, error));

    EXPECT_TRUE(platform::appendInOneWrite(folder + "\\run.log", "one\r\n", error)) << error;
    std::FILE* log = platform::openForAppending(folder + "\\run.log", error);
    ASSERT_NE(nullptr, log) << error;
    std::fputs("two\n", log);
    std::fclose(log);
    EXPECT_EQ(10, platform::fileSize(folder + "\\run.log"));

    const std::string planted = folder + "\\~ImportData.xml.999999999.0123456789abcdef.tmp";
    EXPECT_TRUE(platform::appendInOneWrite(planted, "left by a run that ended", error)) << error;
    removeStaleTemporaries(target);
    EXPECT_FALSE(existsAsFile(planted));
    EXPECT_TRUE(platform::removeFile(target));
    EXPECT_FALSE(existsAsFile(target));
  }
  removeTree(longForm(dir.path() + "\\" + deep.substr(0, 60)));
}

// What cannot be done says why: a path that is no UTF-8 is refused, never
// guessed at, and the system's refusals come with its own text and number.
TEST(pathsOnWindows, RefusalsSayWhy) {
  ScopedTempDir dir;
  const std::string notUtf8 = dir.path() + "\\\xC6\xF3\xF0\xED\xE0\xEB.xml";  // windows-1251
  FileRead read = readFile(notUtf8);
  EXPECT_EQ(FileStatus::kFailed, read.status);
  EXPECT_EQ("the path is not valid UTF-8", read.reason);
  std::string error;
  EXPECT_FALSE(writeFileAtomically(notUtf8, "x", error));
  EXPECT_NE(std::string::npos, error.find("the path is not valid UTF-8")) << error;
  platform::FileLock lock;
  platform::LockHolder holder;
  EXPECT_EQ(platform::FileLock::Result::kFailed, platform::FileLock::tryTake(notUtf8, "", lock, holder, error));
  EXPECT_NE(std::string::npos, error.find("the path is not valid UTF-8")) << error;

  const std::regex systemText(R"(.+ \(Windows error [0-9]+\))");
  fs::create_directory(fs::u8path(dir.file("folder")));
  read = readFile(dir.file("folder"));
  EXPECT_EQ(FileStatus::kFailed, read.status);
  EXPECT_TRUE(std::regex_match(read.reason, systemText)) << read.reason;
  EXPECT_NE(0u, read.reason.find("Windows error")) << read.reason;  // a text, not only the number
  EXPECT_EQ(FileStatus::kNotFound, readFile(dir.file("absent/c.xml")).status);
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
    const char* error;  // a pattern
  };
  std::FILE* holder = nullptr;
  const std::vector<Case> cases = {
      {"read-only target",
       [](const ScopedTempDir& d) { SetFileAttributesA(d.file("c.xml").c_str(), FILE_ATTRIBUTE_READONLY); },
       [](const ScopedTempDir& d) { SetFileAttributesA(d.file("c.xml").c_str(), FILE_ATTRIBUTE_NORMAL); },
       "the file is read-only"},
      // Another program reads the file (the C runtime shares no deletion).
      {"target open elsewhere", [&](const ScopedTempDir& d) { holder = std::fopen(d.file("c.xml").c_str(), "rb"); },
       [&](const ScopedTempDir&) {
         if (holder != nullptr) std::fclose(holder);
       },
       R"(cannot replace the file: \S.* \(Windows error [0-9]+\))"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTempDir dir;
    writeFileBytes(dir.file("c.xml"), "old bytes");
    c.arrange(dir);
    std::string error;
    EXPECT_FALSE(writeFileAtomically(dir.file("c.xml"), "x", error));
    EXPECT_TRUE(std::regex_match(error, std::regex(c.error))) << error;
    c.undo(dir);
    EXPECT_EQ("old bytes", readFileBytes(dir.file("c.xml")));
    EXPECT_EQ(std::vector<std::string>{"c.xml"}, folderEntries(dir.path()));
  }
}

struct LocalFreer {
  void operator()(void* p) const { LocalFree(p); }
};

// The access list of a file: protected from its folder's or not, and its
// entries as (type, trustee, rights).
struct AccessList {
  bool isProtected = false;
  std::vector<std::tuple<int, std::string, DWORD>> entries;
  bool operator==(const AccessList& o) const { return isProtected == o.isProtected && entries == o.entries; }
};

AccessList accessListOf(const std::string& path) {
  AccessList list;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(longForm(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &descriptor) != ERROR_SUCCESS)
    return list;
  const std::unique_ptr<void, LocalFreer> owned(descriptor);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  list.isProtected = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    // Allowed and denied entries share their layout.
    auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    char* sid = nullptr;
    ConvertSidToStringSidA(&entry->SidStart, &sid);
    list.entries.emplace_back(entry->Header.AceType, sid != nullptr ? sid : "?", entry->Mask);
    LocalFree(sid);
  }
  return list;
}

// A configuration narrowed to one user (it holds the password) stays so
// when it is rewritten: the temporary file takes its owner and access list
// before it replaces it. A file that replaces none takes its folder's.
TEST(replaceFileOnWindows, KeepsTheAccessListOfTheFileItReplaces) {
  ScopedTempDir dir;
  const std::string config = dir.file("config.xml");
  writeFileBytes(config, "<config/>");
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  std::vector<unsigned char> user(256);
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size));
  CloseHandle(token);
  PSID me = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  std::vector<unsigned char> aclBytes(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(me));
  PACL onlyMe = reinterpret_cast<PACL>(aclBytes.data());
  ASSERT_TRUE(InitializeAcl(onlyMe, static_cast<DWORD>(aclBytes.size()), ACL_REVISION));
  ASSERT_TRUE(AddAccessAllowedAce(onlyMe, ACL_REVISION, FILE_ALL_ACCESS, me));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            SetNamedSecurityInfoW(longForm(config).data(), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  onlyMe, nullptr));
  const AccessList narrowed = accessListOf(config);
  if (!narrowed.isProtected || narrowed.entries.size() != 1)
    GTEST_SKIP() << "this system keeps no access list of a file's own (Wine makes one up from the Unix mode "
                    "bits); only a real Windows shows whether it is kept";

  std::string error;
  ASSERT_TRUE(writeFileAtomically(config, "<config a=\"1\"/>", error)) << error;
  EXPECT_EQ("<config a=\"1\"/>", readFileBytes(config));
  EXPECT_TRUE(narrowed == accessListOf(config));
  ASSERT_TRUE(writeFileAtomically(dir.file("new.xml"), "<new/>", error)) << error;
  EXPECT_FALSE(accessListOf(dir.file("new.xml")).isProtected);
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

// A lock file is no link, folder or device, and one the program makes is
// its account's alone: no other account can open it, let alone hold it. A
// new run log is private too.
TEST(fileLockOnWindows, OnlyAPrivateRegularFileOfOursIsALock) {
  ScopedTempDir dir;
  const std::string folder = dir.file("~kkmbridge-ImportData.xml.lock");
  ASSERT_TRUE(CreateDirectoryW(longForm(folder).data(), nullptr));
  platform::FileLock lock;
  platform::LockHolder holder;
  std::string error;
  EXPECT_EQ(platform::FileLock::Result::kFailed, platform::FileLock::tryTake(folder, "", lock, holder, error));
  EXPECT_EQ(platform::FileLock::Look::kFailed, platform::FileLock::look(folder, holder, error));
  // A link planted under the lock's name is not locked through.
  const std::string aim = dir.file("aim");
  writeFileBytes(aim, "");
  const std::string link = dir.file("~kkmbridge-Other.xml.lock");
  const bool linked = CreateSymbolicLinkW(longForm(link).data(), longForm(aim).data(), 0) &&
                     GetFileAttributesW(longForm(link).data()) != INVALID_FILE_ATTRIBUTES &&
                     (GetFileAttributesW(longForm(link).data()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (linked) {
    EXPECT_EQ(platform::FileLock::Result::kFailed, platform::FileLock::tryTake(link, "", lock, holder, error));
    EXPECT_NE(std::string::npos, error.find("not a regular file")) << error;
    EXPECT_EQ(platform::FileLock::Look::kFailed, platform::FileLock::look(link, holder, error));
  } else {
    // Wine makes a link that it then shows as no file at all.
    std::printf("this system makes no symbolic link of this account's that it shows as one: the link row is left out\n");
  }

  const std::string path = dir.file("~kkmbridge-ExportData.xml.lock");
  ASSERT_EQ(platform::FileLock::Result::kTaken, platform::FileLock::tryTake(path, "", lock, holder, error)) << error;
  EXPECT_EQ(platform::FileLock::Look::kBusy, platform::FileLock::look(path, holder, error)) << error;
  const std::string log = dir.file("run.log");
  ASSERT_TRUE(platform::appendToRotatedLog(log, "a line\r\n", 1 << 20, error)) << error;
  const AccessList made = accessListOf(path);
  if (!made.isProtected)
    GTEST_SKIP() << "this system keeps no access list of a file's own (Wine makes one up from the Unix mode "
                    "bits); only a real Windows shows that the lock file and the run log are private";
  EXPECT_EQ(1u, made.entries.size());
  EXPECT_TRUE(made == accessListOf(log));
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
