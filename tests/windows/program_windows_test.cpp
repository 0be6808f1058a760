// The built kkmbridge.exe started as the scheduler starts it: exit codes as
// Windows reports them (all 32 bits), console bytes, which pass unchanged
// apart from the console's CR LF line end, and what the file itself tells
// Windows (its manifest and version).
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "run_program.h"
#include "test_files.h"

namespace {

const std::string kUsageLine =
    "Need to use 3 parameters - 1.Type: import \xE8\xEB\xE8 export, 2. Full ConfigFileName (with filepath) "
    "3. Full xml filename (with filepath)\r\n";

TEST(programOnWindows, ExitCodesAndUsage) {
  ScopedTempDir dir;
  writeFileBytes(dir.file("empty-url.xml"),
                 "<config><basicparams><param login=\"a\" password=\"pw!9\" basicURL=\"\"/></basicparams></config>");
  // In a folder outside the ANSI code page: the program finds the file (an
  // unknown mode is told only after the configuration has been read).
  const std::string unicodeFolder = dir.file("M\xC3\xBCller \xD2\x9A");  // Müller Қ
  std::filesystem::create_directory(std::filesystem::u8path(unicodeFolder));
  writeFileBytes(unicodeFolder + "\\config.xml", "<config><basicparams><param basicURL=\"u\"/></basicparams></config>");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string err;
    std::string outStart;
  };
  const std::vector<Case> cases = {
      {{}, -1, kUsageLine, ""},
      {{"import", "c.xml"}, -1, kUsageLine, ""},
      {{"import", dir.file("empty-url.xml"), dir.file("ImportData.xml")}, -2, "", ""},
      {{"export", dir.file("absent.xml"), dir.file("goods.xml"), "extra"}, -2, "", ""},
      {{"Import", unicodeFolder + "\\config.xml", dir.file("ImportData.xml")}, -1, "",
       " readInitialPreferences filePath= " + unicodeFolder + "\\config.xml\r\n"},
      {{"--version"}, 0, "", std::string("kkmbridge ") + KKM_VERSION + "\r\n"},
      {{"--help"}, 0, "", kUsageLine},
  };
  for (const auto& c : cases) {
    const ProgramResult r = runProgram(KKM_BINARY_PATH, c.args, dir.path());
    EXPECT_EQ(c.exitCode, r.exitCode) << c.args.size() << " arguments";
    EXPECT_EQ(c.err, r.err);
    EXPECT_EQ(0u, r.out.find(c.outStart)) << r.out;
  }
  EXPECT_FALSE(fileExists(dir.file("ImportData.xml")));
}

// What Windows and an admin read from the file: the manifest (run as the
// invoker, made for Windows 7 to 11, long paths) and the version.
TEST(programOnWindows, CarriesItsManifestAndVersion) {
  const std::wstring exe = std::filesystem::absolute(std::filesystem::u8path(KKM_BINARY_PATH)).wstring();
  const HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, module);
  const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // the process's manifest
  ASSERT_NE(nullptr, found);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
  ASSERT_NE(nullptr, bytes);
  const std::string manifest(bytes, SizeofResource(module, found));
  FreeLibrary(module);
  for (const char* part : {"level=\"asInvoker\"", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", ">true</longPathAware>"})
    EXPECT_NE(std::string::npos, manifest.find(part)) << part << " in\n" << manifest;

  DWORD ignored = 0;
  std::vector<char> info(GetFileVersionInfoSizeW(exe.c_str(), &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  const auto text = [&](const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || value == nullptr)
      return std::string();
    return std::filesystem::path(std::wstring(value)).u8string();
  };
  EXPECT_EQ(KKM_VERSION, text(L"ProductVersion"));
  EXPECT_EQ(KKM_VERSION, text(L"FileVersion"));
  EXPECT_EQ("kkmbridge", text(L"ProductName"));
  EXPECT_EQ("kkmbridge.exe", text(L"OriginalFilename"));
  EXPECT_FALSE(text(L"FileDescription").empty());
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(std::string(KKM_VERSION) + ".0", std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                                                 std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                                                 std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
                                                 std::to_string(LOWORD(fixed->dwFileVersionLS)));
}

TEST(programOnWindows, ConsoleLinesEndWithCrLf) {
  ScopedTempDir dir;
  const std::string config = dir.file("empty-url.xml");
  writeFileBytes(config, "<config><basicparams><param basicURL=\"\"/></basicparams></config>");
  const ProgramResult r = runProgram(KKM_BINARY_PATH, {"import", config, dir.file("ImportData.xml")}, dir.path());
  EXPECT_EQ(0u, r.out.find(" readInitialPreferences filePath= " + config + "\r\n")) << r.out;
  for (std::size_t i = r.out.find('\n'); i != std::string::npos; i = r.out.find('\n', i + 1))
    EXPECT_TRUE(i > 0 && r.out[i - 1] == '\r') << "line end at " << i << " of " << r.out;
}

}  // namespace
