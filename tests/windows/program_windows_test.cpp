// The built kkmbridge.exe started as the scheduler starts it: exit codes as
// Windows reports them (all 32 bits) and console bytes, which pass unchanged
// apart from the console's CR LF line end.
#include <gtest/gtest.h>

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
                 "<config><basicparams><param login=\"a\" password=\"b\" basicURL=\"\"/></basicparams></config>");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{}, -1, kUsageLine},
      {{"import", "c.xml"}, -1, kUsageLine},
      {{"import", dir.file("empty-url.xml"), dir.file("ImportData.xml")}, -2, ""},
      {{"export", dir.file("absent.xml"), dir.file("goods.xml"), "extra"}, -2, ""},
  };
  for (const auto& c : cases) {
    const ProgramResult r = runProgram(KKM_BINARY_PATH, c.args, dir.path());
    EXPECT_EQ(c.exitCode, r.exitCode) << c.args.size() << " arguments";
    EXPECT_EQ(c.err, r.err);
  }
  EXPECT_FALSE(fileExists(dir.file("ImportData.xml")));
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
