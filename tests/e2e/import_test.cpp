// `kkmbridge import` against the simulated service: the shift walk, the
// finished file, and what faults leave behind.
#include <tinyxml2.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <set>

#include "e2e_support.h"
#include "platform/platform.h"

namespace {

using e2e::ExchangeTest;

struct Doc {
  int kind;
  std::string dt;  // seconds part of 2024-05-DDTHH:MM:SS.000+0000, written as "DDTHH:MM:SS"
};

// A register whose documents are `docs`, in this order of numbers. Checks
// carry one goods item and a cash payment; shift documents their number.
std::string dataFile(const std::string& path, const std::vector<Doc>& docs) {
  std::string json =
      R"({"accounts":[{"login":"demo","password":"demo-pass","idSession":"s-1","nameUser":"N","idUser":5,"idDealer":6,)"
      R"("registers":[{"kkmNum":")" + e2e::kDemoKkm + R"(","documents":[)";
  int n = 0;
  for (const auto& d : docs) {
    ++n;
    if (n > 1) json += ',';
    std::string body;
    if (d.kind == 3 || d.kind == 4) {
      body = R"({"t1038":7,"t1042":)" + std::to_string(n) +
             R"(,"t1054":1,"t1055":1,"t1031":1000,"t1081":0,"t1215":0,"t1216":0,"t1217":0,"t1077":"1",)"
             R"("tl1059":[{"t1023":"1.000","t1079":1000,"t1043":1000,"t1199":1,"t1214":4,"t40385":"C)" +
             std::to_string(n) + R"(","t1030":"x"}]})";
    } else {
      body = R"({"t1038":7,"t1042":)" + std::to_string(n) + R"(,"t1055":500,"t1077":"1"})";
    }
    json += R"({"id":)" + std::to_string(1000 + n) + R"(,"docNo":)" + std::to_string(n) + R"(,"docKind":)" +
            std::to_string(d.kind) + R"(,"docDt":"2024-05-)" + d.dt + R"(.000+0000","body":)" + body + "}";
  }
  json += "]}]}]}";
  writeFileBytes(path, json);
  return path;
}

struct Report {
  std::string opening, closing;
  std::vector<std::string> checkNumbers;
  bool operator<(const Report& o) const { return opening + closing < o.opening + o.closing; }
};

// The sales reports of an ImportData file, in file order.
std::vector<Report> reportsIn(const std::string& path) {
  std::vector<Report> reports;
  tinyxml2::XMLDocument doc;
  if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) return reports;
  const tinyxml2::XMLElement* root = doc.FirstChildElement("ImportData");
  const tinyxml2::XMLElement* list = root ? root->FirstChildElement("SaleReports") : nullptr;
  for (const tinyxml2::XMLElement* r = list ? list->FirstChildElement("SaleReport") : nullptr; r;
       r = r->NextSiblingElement("SaleReport")) {
    Report report{r->Attribute("OpeningDate"), r->Attribute("ClosingDate"), {}};
    const tinyxml2::XMLElement* checks = r->FirstChildElement("Checks");
    for (const tinyxml2::XMLElement* c = checks ? checks->FirstChildElement("Check") : nullptr; c;
         c = c->NextSiblingElement("Check"))
      report.checkNumbers.push_back(c->Attribute("Number"));
    reports.push_back(report);
  }
  return reports;
}

// What 1C leaves in place of a file it has loaded.
void loadAs1CDoes(const std::string& path) {
  writeFileBytes(path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ImportData "
                       "xmlns=\"http://www.1c.ru/EquipmentService/3.0.0.0\" FormatVersion=\"3000\" "
                       "Processed=\"2024-12-01T10:00:00\"/>\n");
}

class ImportTest : public ExchangeTest {};

TEST_F(ImportTest, DemoRegisterGivesTheCompleteFileAndMovesTheBookmark) {
  startService();
  writeConfig("0");
  const ProgramResult r = run("import", importFile());
  ASSERT_EQ(0, r.exitCode) << r.out << r.err;
  // Without debug mode standard error holds only the program's own lines: none here.
  EXPECT_EQ("", r.err);
  EXPECT_NE(std::string::npos, r.out.find("\n idSession ***\n")) << r.out;  // a credential
  EXPECT_EQ(readFileBytes(std::string(KKM_SOURCE_DIR) + "/tests/data/demo-ImportData.xml"), readFileBytes(importFile()));
  EXPECT_EQ("", e2e::loadComplaints(importFile()));
  EXPECT_EQ("2024-11-20T20:00:02.000+0000", storedLastDocDT());
  // Login, the shift query, and two queries for each of the three closed shifts.
  EXPECT_EQ(8, requestCount());
  const auto first = kkmtest::readRequestLog(currentLogDir(), 2);
  ASSERT_TRUE(first.has_value());
  EXPECT_NE(std::string::npos, first->body.find("\"dateFrom\":\"2020-03-01T00:00:00.000+0000\"")) << first->body;
  EXPECT_NE(std::string::npos, first->body.find("\"kinds\":[2,5] ")) << first->body;
  const auto interval = kkmtest::readRequestLog(currentLogDir(), 4);
  ASSERT_TRUE(interval.has_value());
  EXPECT_NE(std::string::npos, interval->body.find("\"kinds\":[129, 130] , \"sortBy\":\"docNo, docDt\"}")) << interval->body;
  // The first shift's span begins where the run does.
  EXPECT_NE(std::string::npos, interval->body.find("\"dateFrom\":\"2020-03-01T00:00:00.000+0000\", \"dateTo\":\"2024-11-18T20:00:10.000+0000\""))
      << interval->body;

  // The same register imported again into a fresh folder (another machine,
  // a file written again after 1C refused it): the same shifts carry the
  // same UUIDs, so 1C refills its reports instead of adding them twice.
  ScopedTempDir fresh;
  startService();
  writeConfig("0");
  ASSERT_EQ(0, run("import", fresh.file("ImportData.xml")).exitCode);
  EXPECT_EQ(readFileBytes(importFile()), readFileBytes(fresh.file("ImportData.xml")));
}

TEST_F(ImportTest, AFileNotYetLoadedIsNeverOverwritten) {
  startService();
  writeConfig("0");
  ASSERT_EQ(0, run("import", importFile()).exitCode);
  const std::string written = readFileBytes(importFile());
  const std::string bookmark = storedLastDocDT();

  startService();
  writeConfig(bookmark);
  const std::string configBefore = readFileBytes(config());
  const ProgramResult again = run("import", importFile());
  EXPECT_EQ(0, again.exitCode);
  EXPECT_NE(std::string::npos, again.out.find("not loaded yet")) << again.out;
  EXPECT_EQ(written, readFileBytes(importFile()));
  EXPECT_EQ(configBefore, readFileBytes(config()));
  EXPECT_EQ(0, requestCount());  // nothing to do: not even a login

  // Once 1C has loaded it, the next run finds nothing new and writes nothing.
  loadAs1CDoes(importFile());
  const std::string stub = readFileBytes(importFile());
  startService();
  writeConfig(bookmark);
  const ProgramResult third = run("import", importFile());
  EXPECT_EQ(0, third.exitCode) << third.err;
  EXPECT_NE(std::string::npos, third.out.find("nothing new")) << third.out;
  EXPECT_EQ(stub, readFileBytes(importFile()));
  EXPECT_EQ(bookmark, storedLastDocDT());
  EXPECT_EQ(2, requestCount());  // login and the shift query: the last closing is the only document
}

// A run that starts while another holds the exchange file's lock does
// nothing: no request, no file changed, one line naming the lock.
TEST_F(ImportTest, ASecondRunWhileOneIsUnderWayDoesNothing) {
  startService();
  writeFileBytes(dir.file("ExportData.xml"), readFileBytes(e2e::kDemoGoods));
  for (const std::string mode : {"import", "export"}) {
    SCOPED_TRACE(mode);
    writeConfig("0");
    const std::string exchange = dir.file(mode == "import" ? "ImportData.xml" : "ExportData.xml");
    const std::string lock = dir.file(mode == "import" ? "~kkmbridge-ImportData.xml.lock" : "~kkmbridge-ExportData.xml.lock");
    platform::FileLock held;
    platform::LockHolder holder;
    std::string error;
    ASSERT_EQ(platform::FileLock::Result::kTaken, platform::FileLock::tryTake(lock, "", held, holder, error)) << error;
    const std::string before = fileExists(exchange) ? readFileBytes(exchange) : "";
    const int requests = requestCount();
    const ProgramResult r = run(mode, exchange);
    EXPECT_EQ(0, r.exitCode) << r.err;
    // The holder is this test's process, which recorded itself in the lock.
    EXPECT_NE(std::string::npos, r.out.find("another run holds " + lock + " (process " +
                                            std::to_string(platform::processId()) + ", since "))
        << r.out;
    EXPECT_NE(std::string::npos, r.out.find(" s)); nothing asked, nothing changed")) << r.out;
    EXPECT_EQ("", r.err);
    EXPECT_EQ(requests, requestCount());
    EXPECT_EQ(before, fileExists(exchange) ? readFileBytes(exchange) : "");
    EXPECT_EQ("0", storedLastDocDT());
  }
}

// With runLog set, every run leaves exactly one line: when, the mode, the
// outcome, what it did, the exit code and, for a failure, its error line's
// reason; never the password or the session id. Past its cap the log is
// renamed to NAME.1 and a new one begun.
TEST_F(ImportTest, TheRunLogHasOneLinePerRun) {
  const std::string log = dir.file("kkm run.log");
  const std::string stamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d{4} \| )";
  const std::string unprotected = R"( \| password unprotected: basicURL is a plain http:// address)";
  struct Step {
    const char* name;
    std::function<void()> arrange;
    const char* mode;
    std::string line;  // the pattern of the line after the time stamp
  };
  platform::FileLock held;
  const std::vector<Step> steps = {
      {"reports written", [] {}, "import", R"(import \| ok \| 3 sales report\(s\) with 8 check\(s\) written, lastDocDT 2024-11-20T20:00:02\.000\+0000 \| exit 0)"},
      {"1C has not loaded the file", [] {}, "import",
       R"(import \| nothing to do \| ImportData\.xml not loaded by 1C yet, waiting since .* \(\d+ s\) \| exit 0)"},
      {"another run holds the lock",
       [&] {
         std::string error;
         platform::LockHolder holder;
         ASSERT_EQ(platform::FileLock::Result::kTaken,
                   platform::FileLock::tryTake(dir.file("~kkmbridge-ImportData.xml.lock"), "", held, holder, error));
       },
       "import", R"(import \| skipped: another run \| another run holds .*~kkmbridge-ImportData\.xml\.lock \(process \d+, since .*\) \| exit 0)"},
      {"the service is down",
       [&] {
         held = platform::FileLock();
         loadAs1CDoes(importFile());
         sim.reset();
       },
       // The first error line says why: here the login's.
       "import", R"(import \| failed \| nothing imported \| exit -3 \| import stopped, .*: login to .* failed: .*connect.*)"},
      {"goods sent", [&] { startService(); writeFileBytes(dir.file("ExportData.xml"), readFileBytes(e2e::kDemoGoods)); },
       "export", R"(export \| ok \| \d+ bytes of goods sent and stamped \| exit 0)"},
      {"goods stamped already", [] {}, "export", R"(export \| nothing to do \| ExportData\.xml stamped Processed already \| exit 0)"},
      {"past the cap", [&] { writeFileBytes(log, std::string(1024 * 1024, 'x') + "\n"); }, "export",
       R"(export \| nothing to do \| .* \| exit 0)"},
  };
  startService();
  std::size_t lines = 0;
  std::string bookmark = "0";
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.arrange();
    writeConfig(bookmark, " runLog=\"" + log + "\"");
    const ProgramResult r = run(step.mode, dir.file(std::string(step.mode) == "import" ? "ImportData.xml" : "ExportData.xml"));
    bookmark = storedLastDocDT();
    const std::string text = readFileBytes(log);
    if (std::string(step.name) == "past the cap") {
      EXPECT_EQ(1024u * 1024 + 1, readFileBytes(log + ".1").size());
      lines = 0;
    }
    const std::size_t count = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    EXPECT_EQ(++lines, count) << text;
    const std::size_t lastStart = text.rfind('\n', text.size() - 2) + 1;
    const std::string last = text.substr(lastStart, text.size() - 1 - lastStart);
    // The simulated service is reached by http://, which every line says.
    EXPECT_TRUE(std::regex_match(last, std::regex(stamp + step.line + unprotected))) << last;
    EXPECT_NE(std::string::npos, r.out.find(" warning: the password travels unprotected")) << r.out;
    EXPECT_EQ(std::string::npos, text.find("demo-pass")) << text;
    EXPECT_EQ(std::string::npos, text.find("a3f1c0de-5b7e-4d2b-9c3e-20241118d001")) << text;  // the session id
    const auto errors = e2e::programErrorLines(r.err);
    if (r.exitCode != 0) {
      // The reason is the error line's, without its prefix.
      ASSERT_FALSE(errors.empty());
      EXPECT_NE(std::string::npos, last.find(errors[0].substr(11))) << last;
    }
  }
}

TEST_F(ImportTest, ForeignExchangeFilesAreLeftAlone) {
  const std::vector<std::string> cases = {"not xml <<<", "<?xml version=\"1.0\"?><ExportData/>", "   \n"};
  for (const auto& bytes : cases) {
    startService();
    writeConfig("0");
    writeFileBytes(importFile(), bytes);
    const ProgramResult r = run("import", importFile());
    EXPECT_EQ(-3, r.exitCode) << bytes;
    EXPECT_EQ(1u, e2e::programErrorLines(r.err).size()) << r.err;
    EXPECT_EQ(bytes, readFileBytes(importFile()));
    EXPECT_EQ("0", storedLastDocDT());
    EXPECT_EQ(0, requestCount());
  }
}

TEST_F(ImportTest, ShiftWalk) {
  struct Case {
    std::string name;
    std::vector<Doc> docs;
    std::string lastDocDT;
    std::vector<std::pair<std::string, std::string>> reports;  // opening, closing
    std::string newLastDocDT;                                  // "" = unchanged, no file
  };
  const std::vector<Case> cases = {
      {"leading closing is skipped",
       {{5, "01T20:00:00"}, {2, "02T08:00:00"}, {3, "02T09:00:00"}, {5, "02T20:00:00"}},
       "2024-05-01T20:00:00.000+0000",
       {{"2024-05-02T08:00:00", "2024-05-02T20:00:00"}},
       "2024-05-02T20:00:00.000+0000"},
      {"two shifts",
       {{2, "01T08:00:00"}, {3, "01T09:00:00"}, {5, "01T20:00:00"}, {2, "02T08:00:00"}, {4, "02T09:00:00"},
        {5, "02T20:00:00"}},
       "0",
       {{"2024-05-01T08:00:00", "2024-05-01T20:00:00"}, {"2024-05-02T08:00:00", "2024-05-02T20:00:00"}},
       "2024-05-02T20:00:00.000+0000"},
      {"opening, opening, closing",
       {{2, "01T08:00:00"}, {3, "01T09:00:00"}, {2, "01T10:00:00"}, {3, "01T11:00:00"}, {5, "01T20:00:00"}},
       "0",
       {{"2024-05-01T10:00:00", "2024-05-01T20:00:00"}},
       "2024-05-01T20:00:00.000+0000"},
      {"open shift at the end",
       {{2, "01T08:00:00"}, {5, "01T20:00:00"}, {2, "02T08:00:00"}, {3, "02T09:00:00"}},
       "0",
       {{"2024-05-01T08:00:00", "2024-05-01T20:00:00"}},
       "2024-05-01T20:00:00.000+0000"},
      // Numbers start again on a new fiscal drive: the service, answering in
      // number order, lists the later shift first.
      {"a fiscal drive change",
       {{2, "02T08:00:00"}, {3, "02T09:00:00"}, {5, "02T20:00:00"}, {2, "01T08:00:00"}, {3, "01T09:00:00"},
        {5, "01T20:00:00"}},
       "0",
       {{"2024-05-01T08:00:00", "2024-05-01T20:00:00"}, {"2024-05-02T08:00:00", "2024-05-02T20:00:00"}},
       "2024-05-02T20:00:00.000+0000"},
      {"a closing dated before its own opening",
       {{2, "01T08:00:00"}, {3, "01T06:00:00"}, {5, "01T07:00:00"}},
       "2024-04-30T20:00:00.000+0000",
       {{"2024-04-30T20:00:00", "2024-05-01T07:00:00"}},
       "2024-05-01T07:00:00.000+0000"},
      {"only an opening", {{2, "01T08:00:00"}, {3, "01T09:00:00"}}, "0", {}, ""},
      {"nothing at all", {}, "2024-05-01T20:00:00.000+0000", {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(importFile().c_str());
    startService(dataFile(dir.file("data.json"), c.docs));
    writeConfig(c.lastDocDT);
    const ProgramResult r = run("import", importFile());
    ASSERT_EQ(0, r.exitCode) << r.out << r.err;
    const auto reports = reportsIn(importFile());
    ASSERT_EQ(c.reports.size(), reports.size());
    for (std::size_t i = 0; i < reports.size(); ++i) {
      EXPECT_EQ(c.reports[i].first, reports[i].opening);
      EXPECT_EQ(c.reports[i].second, reports[i].closing);
    }
    if (c.newLastDocDT.empty()) {
      EXPECT_FALSE(fileExists(importFile()));
      EXPECT_EQ(c.lastDocDT, storedLastDocDT());
    } else {
      EXPECT_EQ("", e2e::loadComplaints(importFile()));
      EXPECT_EQ(c.newLastDocDT, storedLastDocDT());
    }
  }
}

TEST_F(ImportTest, OnlyTheChecksOfTheIntervalAreReported) {
  startService(dataFile(dir.file("data.json"), {{2, "01T08:00:00"}, {3, "01T09:00:00"}, {2, "01T10:00:00"},
                                                {4, "01T11:00:00"}, {3, "01T12:00:00"}, {5, "01T20:00:00"},
                                                {3, "01T21:00:00"}}));
  writeConfig("0");
  ASSERT_EQ(0, run("import", importFile()).exitCode);
  const auto reports = reportsIn(importFile());
  ASSERT_EQ(1u, reports.size());
  // The check before the second opening is the shift's too; the one after
  // the closing waits for the next shift.
  EXPECT_EQ((std::vector<std::string>{"2", "4", "5"}), reports[0].checkNumbers);
}

// Every request of a run failing in turn, each way a request can fail: the
// run stops and changes nothing, and the next run without the fault reports
// every shift exactly once.
TEST_F(ImportTest, AFailedRequestLosesNothing) {
  const std::vector<std::string> kinds = {"status=500", "status=401", "close=30", "garbage"};
  std::string expected;
  {
    startService();
    writeConfig("0");
    ASSERT_EQ(0, run("import", importFile()).exitCode);
    expected = readFileBytes(importFile());
    std::remove(importFile().c_str());
  }
  int runs = 0;
  for (int request = 2; request <= 8; ++request) {
    for (const auto& kind : kinds) {
      SCOPED_TRACE("request " + std::to_string(request) + " " + kind);
      startService(e2e::kDemoData, {std::to_string(request) + ":" + kind});
      writeConfig("0");
      const std::string configBefore = readFileBytes(config());
      const ProgramResult failed = run("import", importFile());
      EXPECT_EQ(-3, failed.exitCode) << failed.out << failed.err;
      EXPECT_EQ(1u, e2e::programErrorLines(failed.err).size()) << failed.err;
      EXPECT_FALSE(fileExists(importFile()));
      EXPECT_EQ(configBefore, readFileBytes(config()));
      EXPECT_EQ(request, requestCount());  // nothing is asked after the failure

      startService();
      writeConfig(storedLastDocDT());
      ASSERT_EQ(0, run("import", importFile()).exitCode);
      EXPECT_EQ(expected, readFileBytes(importFile()));
      std::remove(importFile().c_str());
      ++runs;
    }
  }
  EXPECT_EQ(28, runs);
}

TEST_F(ImportTest, ServiceDownChangesNothing) {
  writeConfig("0");  // no service: a port nobody listens on
  const ProgramResult r = run("import", importFile());
  EXPECT_EQ(-3, r.exitCode);
  EXPECT_FALSE(fileExists(importFile()));
  EXPECT_EQ("0", storedLastDocDT());
}

TEST_F(ImportTest, AnUnwritableExchangeFolderKeepsTheBookmark) {
  startService();
  writeConfig("0");
  const ProgramResult r = run("import", dir.file("missing-folder/ImportData.xml"));
  EXPECT_EQ(-3, r.exitCode);
  const auto lines = e2e::programErrorLines(r.err);
  ASSERT_EQ(1u, lines.size()) << r.err;
  EXPECT_NE(std::string::npos, lines[0].find("missing-folder/")) << lines[0];
  EXPECT_EQ("0", storedLastDocDT());
}

TEST_F(ImportTest, DebugModeWritesItsDumpsButNeverThePassword) {
  startService();
  writeConfig("0");
  std::string text = readFileBytes(config());
  text.replace(text.find("debugmode=\"0\""), 13, "debugmode=\"1\"");
  writeFileBytes(config(), text);
  const ProgramResult r = run("import", importFile());
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_NE(std::string::npos, r.out.find(" password ***\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find(" readImportParams lastDocDT 0\n")) << r.out;
  for (const char* name : {"importLog.log", "importfile.log", "getAllDocsByKindJSONAnswer.json",
                           "processOneShiftInterval.json", "processOneCheckElement.json",
                           "processOneIncomeOutcomeCheckElement.json", "getOneCheckFromGoodsJSON.json"}) {
    const std::string log = readFileBytes(dir.file(name));
    EXPECT_FALSE(log.empty()) << name;
    EXPECT_EQ(std::string::npos, log.find("demo-pass")) << name;
  }
  EXPECT_EQ(std::string::npos, r.out.find("demo-pass"));
  EXPECT_EQ(std::string::npos, r.err.find("demo-pass"));
  // The file written in debug mode is the same as without it.
  EXPECT_EQ(readFileBytes(std::string(KKM_SOURCE_DIR) + "/tests/data/demo-ImportData.xml"), readFileBytes(importFile()));
}

TEST_F(ImportTest, DebugModeOffWritesNoLogs) {
  startService();
  writeConfig("0");
  ASSERT_EQ(0, run("import", importFile()).exitCode);
  int files = 0;
  for (const char* name : {"importLog.log", "importfile.log", "getAllDocsByKindJSONAnswer.json",
                           "processOneShiftInterval.json", "processOneCheckElement.json"})
    files += fileExists(dir.file(name));
  EXPECT_EQ(0, files);
}

TEST_F(ImportTest, UnknownModeStopsBeforeAnyRequest) {
  startService();
  writeConfig("0");
  const ProgramResult r = run("Import", importFile());
  EXPECT_EQ(-1, r.exitCode);
  EXPECT_EQ(std::string::npos, r.out.find(" getLoginParams ")) << r.out;
  EXPECT_EQ(0, requestCount());
  EXPECT_FALSE(fileExists(importFile()));
}

}  // namespace
