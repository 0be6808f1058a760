// A scratch exchange folder, the simulated service and the built program,
// put together the way a shop's machine has them.
#pragma once

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "importdata_check.h"
#include "run_program.h"
#include "sim_process.h"
#include "test_files.h"

namespace e2e {

inline const std::string kDemoData = std::string(KKM_SOURCE_DIR) + "/demo/cloud-data.json";
inline const std::string kDemoGoods = std::string(KKM_SOURCE_DIR) + "/demo/ExportData.xml";
inline const std::string kDemoKkm = "0001234567890123";

// What stops 1C loading the exchange file at `path` to the end (its schema,
// its loader); "" when nothing does.
inline std::string loadComplaints(const std::string& path) { return kkmtest::importDataComplaints(readFileBytes(path)); }

// What 1C's schema says of the exchange file at `path`; "" when it accepts it.
inline std::string schemaViolation(const std::string& path) {
  return kkmtest::exchangeSchemaViolation(readFileBytes(path));
}

// Lines of `text` that the program itself wrote (libcurl's own trace of
// every POST, which starts with '*', '>' or '<' or is a header line, is left out).
inline std::vector<std::string> programErrorLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.rfind("kkmbridge: ", 0) == 0) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

class ExchangeTest : public ::testing::Test {
 protected:
  // Starts (or restarts) the service with `data` and the faults given.
  void startService(const std::string& data = kDemoData, const std::vector<std::string>& faults = {}) {
    sim.reset();
    std::vector<std::string> args = {"--data", data, "--log-dir", logDir(), "--state", dir.file("state")};
    for (const auto& f : faults) {
      args.push_back("--fault");
      args.push_back(f);
    }
    sim = std::make_unique<kkmtest::SimProcess>(args);
  }

  // A fresh folder for the service's request records of the next run.
  std::string logDir() {
    return dir.file("requests" + std::to_string(serviceStarts_++));
  }
  std::string currentLogDir() const { return dir.file("requests" + std::to_string(serviceStarts_ - 1)); }

  void writeConfig(const std::string& lastDocDT, const std::string& extraParam = "",
                   const std::string& kkm = kDemoKkm) {
    writeFileBytes(config(),
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n  <basicparams>\n"
                   "    <param login=\"demo\" password=\"demo-pass\" basicURL=\"" +
                       (sim ? sim->baseUrl() : std::string("http://127.0.0.1:9/api/")) + "\" debugmode=\"0\"" +
                       extraParam + "/>\n  </basicparams>\n  <importparams>\n    <import lastDocDT=\"" + lastDocDT +
                       "\" kkmNum=\"" + kkm + "\"/>\n  </importparams>\n</config>\n");
  }

  // Runs the program; every sales report it leaves must be one 1C loads.
  ProgramResult run(const std::string& mode, const std::string& exchange) {
    ProgramResult r = runProgram(KKM_BINARY_PATH, {mode, config(), exchange}, dir.path());
    if (mode == "import" && fileExists(exchange)) {
      const std::string text = readFileBytes(exchange);
      if (text.find("<SaleReport ") != std::string::npos) {
        EXPECT_EQ("", loadComplaints(exchange)) << exchange;
      }
    }
    return r;
  }

  std::string config() const { return dir.file("config.xml"); }
  std::string importFile() const { return dir.file("ImportData.xml"); }

  // The lastDocDT the configuration file holds now.
  std::string storedLastDocDT() const {
    tinyxml2::XMLDocument doc;
    if (doc.LoadFile(config().c_str()) != tinyxml2::XML_SUCCESS) return "<unparsable>";
    const tinyxml2::XMLElement* e = doc.FirstChildElement("config");
    e = e ? e->FirstChildElement("importparams") : nullptr;
    e = e ? e->FirstChildElement("import") : nullptr;
    const char* v = e ? e->Attribute("lastDocDT") : nullptr;
    return v ? v : "<missing>";
  }

  int requestCount() const { return kkmtest::countRequestLogs(currentLogDir()); }

  ScopedTempDir dir;
  std::unique_ptr<kkmtest::SimProcess> sim;

 private:
  int serviceStarts_ = 0;
};

}  // namespace e2e
