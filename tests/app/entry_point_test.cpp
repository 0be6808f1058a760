// The built program run as the scheduler runs it: exit codes and console.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_program.h"
#include "test_files.h"

namespace {

const std::string kUsageLine =
    "Need to use 3 parameters - 1.Type: import \xE8\xEB\xE8 export, 2. Full ConfigFileName (with filepath) "
    "3. Full xml filename (with filepath)\n";

TEST(entryPoint, TooFewArgumentsPrintTheUsageInWindows1251) {
  const std::vector<std::vector<std::string>> cases = {{}, {"import"}, {"import", "c.xml"}};
  for (const auto& args : cases) {
    const ProgramResult r = runProgram(KKM_BINARY_PATH, args);
    EXPECT_EQ(-1, r.exitCode) << args.size() << " arguments";
    EXPECT_EQ(kUsageLine, r.err);
    EXPECT_EQ("", r.out);  // nothing read, nothing traced
  }
}

// Asked for by an admin or an installer: standard output, success, nothing
// read (whatever follows).
TEST(entryPoint, VersionAndHelpGoToStandardOutput) {
  const std::string usage = kUsageLine +
                            "Or: check CONFIG_FILE EXCHANGE_FILE diagnoses the set-up and changes nothing; --version "
                            "shows the program's version, --help this text.\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--version"}, std::string("kkmbridge ") + KKM_VERSION + "\n"},
      {{"--version", "absent.xml", "x.xml"}, std::string("kkmbridge ") + KKM_VERSION + "\n"},
      {{"--help"}, usage},
  };
  for (const auto& c : cases) {
    const ProgramResult r = runProgram(KKM_BINARY_PATH, c.first);
    EXPECT_EQ(0, r.exitCode) << c.first[0];
    EXPECT_EQ(c.second, r.out);
    EXPECT_EQ("", r.err);
  }
}

TEST(entryPoint, NoServiceAddressEndsWithMinusTwo) {
  ScopedTempDir dir;
  writeFileBytes(dir.file("empty-url.xml"),
                 "<config><basicparams><param login=\"a\" password=\"pw!9\" basicURL=\"\"/></basicparams></config>");
  writeFileBytes(dir.file("other-root.xml"), "<settings><basicparams><param basicURL=\"u\"/></basicparams></settings>");
  const std::vector<std::string> configs = {dir.file("empty-url.xml"), dir.file("other-root.xml"),
                                            dir.file("absent.xml")};
  for (const auto& config : configs) {
    const ProgramResult r = runProgram(KKM_BINARY_PATH, {"import", config, dir.file("ImportData.xml")}, dir.path());
    EXPECT_EQ(-2, r.exitCode) << config;
    EXPECT_EQ(0u, r.out.find(" readInitialPreferences filePath= " + config + "\n")) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("getLoginParams")) << r.out;
    EXPECT_FALSE(fileExists(dir.file("ImportData.xml")));
  }
}

// A password that may be read on its way says so on standard output, once,
// before anything is asked; an address with certificate checks does not.
TEST(entryPoint, AnUnprotectedPasswordIsSaid) {
  ScopedTempDir dir;
  struct Case {
    const char* param;
    const char* says;  // "": no warning
  };
  const std::vector<Case> cases = {
      {R"(basicURL="http://127.0.0.1:9/")", "basicURL is a plain http:// address"},
      {R"(basicURL="HTTP://127.0.0.1:9/")", "basicURL is a plain http:// address"},
      {R"(basicURL="https://127.0.0.1:9/" sslVerify="0")", "sslVerify=\"0\" switches the certificate check off"},
      {R"(basicURL="https://127.0.0.1:9/")", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.param);
    writeFileBytes(dir.file("config.xml"), std::string("<config><basicparams><param login=\"a\" password=\"b-pass\" ") +
                                               c.param + "/></basicparams></config>");
    // Nothing to send: the run ends before any request.
    const ProgramResult r = runProgram(KKM_BINARY_PATH, {"export", dir.file("config.xml"), dir.file("none.xml")});
    const std::string line = std::string(" warning: the password travels unprotected to the service: ") + c.says + "\n";
    if (*c.says)
      EXPECT_NE(std::string::npos, r.out.find(line)) << r.out;
    else
      EXPECT_EQ(std::string::npos, r.out.find("unprotected")) << r.out;
  }
}

TEST(entryPoint, ArgumentsPastTheThirdAreIgnored) {
  ScopedTempDir dir;
  const ProgramResult r =
      runProgram(KKM_BINARY_PATH, {"export", dir.file("absent.xml"), "x.xml", "extra", "more"}, dir.path());
  EXPECT_EQ(-2, r.exitCode);
  EXPECT_EQ("", r.err);
}

}  // namespace
