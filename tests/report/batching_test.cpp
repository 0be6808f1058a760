// A backlog larger than one run may hold is reported over several runs,
// every shift exactly once and in order.
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <string>
#include <vector>

#include "config/settings.h"
#include "app/import_run.h"
#include "report/import_document.h"
#include "report_test_support.h"
#include "captured_messages.h"
#include "test_files.h"

namespace {

struct Shift {
  std::string opening, closing;  // service date-times
  std::string checks;            // the shift's check list
};

// Date-times of one day's shift, in the service's form; days count from 1.
std::string dayTime(int day, const char* time) {
  char text[40];
  std::snprintf(text, sizeof text, "2021-%02d-%02dT%s.000+0000", 1 + (day - 1) / 28, 1 + (day - 1) % 28, time);
  return text;
}

std::vector<Shift> backlog(int shifts, int checksPerShift) {
  std::vector<Shift> out;
  int id = 0;
  for (int s = 1; s <= shifts; ++s) {
    Shift shift{dayTime(s, "08:00:00"), dayTime(s, "20:00:00"), {}};
    shift.checks.reserve(static_cast<std::size_t>(checksPerShift) * 120);
    for (int c = 0; c < checksPerShift; ++c) {
      if (c) shift.checks += ',';
      ++id;
      shift.checks += reporttest::document(id, 3, dayTime(s, "12:00:00"),
                                           "{\\\"t1038\\\":" + std::to_string(s) + ",\\\"t1042\\\":" +
                                               std::to_string(id) + ",\\\"t1077\\\":1}");
    }
    out.push_back(std::move(shift));
  }
  return out;
}

// A service over `shifts`: shift documents from dateFrom on (the date forms
// compare as text), each shift's checks by its closing date.
DocumentQuery serviceOver(const std::vector<Shift>& shifts) {
  return [&shifts](const std::string& dateFrom, const std::string& dateTo, const std::string& kinds,
                   std::string& error) {
    error.clear();
    std::string docs;
    int id = 0;
    for (const Shift& s : shifts) {
      if (kinds == kShiftKinds) {
        for (const auto& [kind, dt] : {std::pair<int, std::string>{2, s.opening}, {5, s.closing}}) {
          ++id;
          if (dt < dateFrom) continue;
          if (!docs.empty()) docs += ',';
          docs += reporttest::document(id, kind, dt, "{\\\"t1042\\\":1,\\\"t1077\\\":1}");
        }
      } else if (kinds == kCheckKinds && s.closing == dateTo) {
        return s.checks;
      }
    }
    return docs;
  };
}

struct ReportedShift {
  std::string closing;
  int checks;
};

std::vector<ReportedShift> reportsIn(const std::string& path) {
  std::vector<ReportedShift> out;
  tinyxml2::XMLDocument doc;
  if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) return out;
  const auto* reports = doc.FirstChildElement("ImportData")->FirstChildElement("SaleReports");
  for (const auto* r = reports->FirstChildElement("SaleReport"); r; r = r->NextSiblingElement("SaleReport"))
    out.push_back({r->Attribute("ClosingDate"),
                   static_cast<int>(reporttest::children(r->FirstChildElement("Checks"), "Check").size())});
  return out;
}

TEST(batching, ABacklogIsReportedOverSeveralRunsEachShiftOnce) {
  ScopedTempDir dir;
  ScopedWorkingDir cwd(dir.path());
  const std::string config = dir.file("config.xml"), exchange = dir.file("ImportData.xml");
  writeFileBytes(config, "<config><importparams><import lastDocDT=\"0\" kkmNum=\"1\"/></importparams></config>");

  // 17,000 checks a shift: a run takes three shifts (34,000 is still below
  // the limit, 51,000 reaches it) and leaves the rest.
  const std::vector<Shift> shifts = backlog(5, 17000);
  const std::vector<std::vector<int>> expectedRuns = {{17000, 17000, 17000}, {17000, 17000}};
  std::vector<std::string> closings;
  for (std::size_t run = 0; run <= expectedRuns.size(); ++run) {
    SCOPED_TRACE("run " + std::to_string(run + 1));
    resetSettings();
    CapturedMessages captured;
    EXPECT_EQ(0, runImport(exchange, *reporttest::configurationAt(config), serviceOver(shifts), nullptr));
    EXPECT_EQ("", reporttest::violationOfReports(readFileBytes(exchange)));
    const std::string out = captured.out();
    if (run == expectedRuns.size()) {  // everything reported: nothing new, 1C's stub stays
      EXPECT_NE(std::string::npos, out.find("nothing new")) << out;
      break;
    }
    const auto reports = reportsIn(exchange);
    ASSERT_EQ(expectedRuns[run].size(), reports.size());
    for (std::size_t i = 0; i < reports.size(); ++i) {
      EXPECT_EQ(expectedRuns[run][i], reports[i].checks);
      closings.push_back(reports[i].closing);
    }
    const bool leftSome = run + 1 < expectedRuns.size();
    EXPECT_EQ(leftSome, out.find(" import: 2 closed shift(s) left for the next run") != std::string::npos) << out;
    // 1C loads the file and leaves its stub.
    writeFileBytes(exchange, "<ImportData xmlns=\"http://www.1c.ru/EquipmentService/3.0.0.0\" FormatVersion=\"3000\" "
                             "Processed=\"2021-06-01T00:00:00\"/>");
  }
  std::vector<std::string> expected;
  for (const Shift& s : shifts) expected.push_back(s.closing.substr(0, 19));
  EXPECT_EQ(expected, closings);
}

}  // namespace
