// `kkmbridge export` against the simulated service.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <regex>

#include "e2e_support.h"
#include "app/export_run.h"
#include "files/text_file.h"

namespace {

using e2e::ExchangeTest;

class ExportTest : public ExchangeTest {
 protected:
  std::string goodsFile() const { return dir.file("ExportData.xml"); }
};

TEST_F(ExportTest, SendsTheGoodsAndStampsTheFile) {
  startService();
  writeConfig("0");
  writeFileBytes(goodsFile(), readFileBytes(e2e::kDemoGoods));
  EXPECT_EQ("", e2e::schemaViolation(goodsFile()));
  const ProgramResult r = run("export", goodsFile());
  ASSERT_EQ(0, r.exitCode) << r.out << r.err;
  EXPECT_TRUE(e2e::programErrorLines(r.err).empty()) << r.err;

  // The export's lines in order, the login's between them.
  const std::size_t exportLine = r.out.find("\n export \n  fileName = " + goodsFile() + "\n getLoginParams \n");
  ASSERT_NE(std::string::npos, exportLine) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\n  export answer = {", exportLine)) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("goods accepted", exportLine)) << r.out;

  // The service holds the file's text as read (lines joined), less its TABs.
  std::string sent = readTextFile(e2e::kDemoGoods).text;
  sent.erase(std::remove(sent.begin(), sent.end(), '\t'), sent.end());
  EXPECT_EQ(sent, readFileBytes(dir.file("state/goods-demo.xml")));

  const std::string stamped = readFileBytes(goodsFile());
  std::smatch m;
  ASSERT_TRUE(std::regex_search(stamped, m, std::regex("<ExportData ([^>]*)>"))) << stamped;
  EXPECT_TRUE(std::regex_match(m[1].str(), std::regex(R"(xmlns="http://www\.1c\.ru/EquipmentService/3\.0\.0\.0" )"
                                                       R"(FormatVersion="3000" Processed="\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d")")))
      << m[1];
  EXPECT_EQ("", e2e::schemaViolation(goodsFile()));  // the stamp keeps it 1C's
  // Everything else is kept.
  EXPECT_NE(std::string::npos, stamped.find("USB\\RS-232")) << "backslash value lost";
  EXPECT_EQ(std::count(sent.begin(), sent.end(), '<'), std::count(stamped.begin(), stamped.end(), '<'));
}

// A file whose root carries Processed has been sent: 1C has written nothing
// new, so nothing is asked or sent and the file stays as it is. Only the
// root's own attribute counts.
TEST_F(ExportTest, AStampedFileIsNotSentAgain) {
  struct Case {
    const char* name;
    std::string text;
    bool sent;
    bool stamped;
  };
  const std::vector<Case> cases = {
      {"stamped", "<?xml version=\"1.0\"?>\n<ExportData Processed=\"2001-01-01T00:00:00\" A=\"1\">\n<G/>\n</ExportData>\n", false, false},
      {"after a comment, a '>' in a value", "<?xml version=\"1.0\"?><!-- <ExportData> --><ExportData A=\"x>y\"\n Processed=\"1\"><G/></ExportData>", false, false},
      {"only a child stamped", "<ExportData A=\"1\"><G Processed=\"1\"/></ExportData>", true, true},
      {"another root stamped", "<Catalog Processed=\"1\"><G/></Catalog>", true, false},
  };
  startService();
  writeConfig("0");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int before = requestCount();
    writeFileBytes(goodsFile(), c.text);
    const ProgramResult r = run("export", goodsFile());
    EXPECT_EQ(0, r.exitCode) << r.out << r.err;
    EXPECT_EQ(c.sent ? 2 : 0, requestCount() - before);
    EXPECT_EQ(c.stamped, readFileBytes(goodsFile()) != c.text);
    EXPECT_EQ(!c.sent, r.out.find("is stamped Processed already") != std::string::npos) << r.out;
  }
  // Stamping again replaces the value in place instead of adding a second one.
  std::string error;
  writeFileBytes(goodsFile(), cases[0].text);
  ASSERT_EQ(StampResult::kStamped, setRootAttributeInFile(goodsFile(), "ExportData", "Processed", "2030-01-01T00:00:00", error,
                                                          fileFingerprint(cases[0].text)));
  EXPECT_NE(std::string::npos, readFileBytes(goodsFile()).find("<ExportData Processed=\"2030-01-01T00:00:00\" A=\"1\">"));
}

TEST_F(ExportTest, AFileOfAnotherKindIsSentButLeftAlone) {
  startService();
  writeConfig("0");
  const std::string original = "<?xml version=\"1.0\"?>\n<Catalog>\n  <G/>\n</Catalog>\n";
  writeFileBytes(goodsFile(), original);
  const ProgramResult r = run("export", goodsFile());
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(original, readFileBytes(goodsFile()));
  EXPECT_EQ(2, requestCount());
  EXPECT_EQ(1u, e2e::programErrorLines(r.err).size()) << r.err;
}

// 1C writes a new goods file while the old one is being sent: the new one
// was never sent, so it is left unstamped for the next run, which sends it.
TEST_F(ExportTest, AFileRewrittenDuringTheUploadIsLeftForTheNextRun) {
  startService(e2e::kDemoData, {"2:delay=1500"});
  writeConfig("0");
  const std::string sent = readFileBytes(e2e::kDemoGoods);
  writeFileBytes(goodsFile(), sent);
  const std::string newer = sent + "<!-- written by 1C during the upload -->\n";
  // 1C writes once the upload has reached the service (which holds it).
  std::thread oneC([&] {
    waitForFile(currentLogDir() + "/2.req", std::chrono::seconds(20));
    writeFileBytes(goodsFile() + ".new", newer);
    std::rename((goodsFile() + ".new").c_str(), goodsFile().c_str());
  });
  const ProgramResult r = run("export", goodsFile());
  oneC.join();
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("changed during the upload")) << r.out;
  EXPECT_EQ(newer, readFileBytes(goodsFile()));

  startService();
  writeConfig("0");
  ASSERT_EQ(0, run("export", goodsFile()).exitCode);
  EXPECT_EQ(2, requestCount());
  EXPECT_NE(newer, readFileBytes(goodsFile()));  // sent and stamped now
  EXPECT_EQ("", e2e::schemaViolation(goodsFile()));
}

TEST_F(ExportTest, FailuresLeaveTheFileUntouched) {
  struct Case {
    std::string name;
    std::vector<std::string> faults;
    bool serviceUp;
    std::string fileBytes;  // "" writes no file at all
    bool emptyFile;
    std::string reason;     // part of the one error line
    int requests;           // requests the service saw
  };
  const std::string goods = readFileBytes(e2e::kDemoGoods);
  const std::vector<Case> cases = {
      {"HTTP 500", {"2:status=500"}, true, goods, false, "HTTP status 500", 2},
      {"HTTP 401", {"2:status=401"}, true, goods, false, "HTTP status 401", 2},
      {"a redirect", {"2:status=302"}, true, goods, false, "HTTP status 302", 2},
      {"answer cut", {"2:close=10"}, true, goods, false, "export failed: upload to ", 2},
      {"service down", {}, false, goods, false, "export failed: login to ", 0},
      // A login that fails ends the run before anything is sent.
      {"login redirected to a sign-in page", {"1:status=302"}, true, goods, false, "login to ", 1},
      {"login answer cut", {"1:close=10"}, true, goods, false, "export failed: login to ", 1},
      {"missing file", {}, true, "", false, "missing or empty", 0},  // nothing to send: not even a login
      {"empty file", {}, true, "", true, "missing or empty", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.serviceUp) {
      startService(e2e::kDemoData, c.faults);
    } else {
      sim.reset();  // the configuration then names a port nobody listens on
    }
    writeConfig("0");
    std::remove(goodsFile().c_str());
    if (!c.fileBytes.empty() || c.emptyFile) writeFileBytes(goodsFile(), c.fileBytes);

    const ProgramResult r = run("export", goodsFile());
    EXPECT_EQ(-3, r.exitCode) << r.out << r.err;
    // One line says why the export failed.
    std::vector<std::string> exportLines;
    for (const auto& line : e2e::programErrorLines(r.err))
      if (line.rfind("kkmbridge: export", 0) == 0) exportLines.push_back(line);
    ASSERT_EQ(1u, exportLines.size()) << r.err;
    EXPECT_NE(std::string::npos, exportLines[0].find(c.reason)) << exportLines[0];
    EXPECT_NE(std::string::npos, exportLines[0].find(goodsFile())) << exportLines[0];
    if (c.fileBytes.empty() && !c.emptyFile) {
      EXPECT_FALSE(fileExists(goodsFile()));
    } else {
      EXPECT_EQ(c.fileBytes, readFileBytes(goodsFile()));
    }
    if (c.serviceUp) {
      EXPECT_EQ(c.requests, requestCount());
    }
  }
}

}  // namespace
