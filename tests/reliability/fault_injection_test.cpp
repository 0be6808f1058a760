// Service faults end to end: each request of an import run in turn meets a
// fault; the run must exit as a failed run (-3, nothing written, lastDocDT
// unchanged) or as a finished one, and the next run without the fault, after
// 1C has loaded whatever was written, must bring exactly the shifts that are
// still missing, so that across both runs every closed shift arrives once,
// with all its documents.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "reliability_support.h"
#include "run_program.h"
#include "sim_process.h"
#include "test_files.h"
#include "text/date_time.h"

namespace {

using namespace reliability;

enum class Fault { kRefused, kClosedEarly, kCutInsideDocument, kStatus500, kStatus401, kNotJson };

struct FaultCase {
  Fault fault;
  const char* name;
  const char* simFault;  // the --fault action; nullptr for the refused connection
};

const FaultCase kFaults[] = {
    {Fault::kRefused, "ConnectionRefused", nullptr},
    {Fault::kClosedEarly, "ClosedMidAnswer", "close=10"},
    {Fault::kCutInsideDocument, "CutInsideADocument", "close=60"},
    {Fault::kStatus500, "Status500", "status=500"},
    {Fault::kStatus401, "Status401", "status=401"},
    {Fault::kNotJson, "NotJson", "garbage"},
};

// Three closed shifts, each with checks and a cash document, so every
// answer holds documents: requests 1 login, 2 shifts, then checks and cash
// of each shift in turn.
constexpr int kShifts = 3;
constexpr int kRequests = 2 + 2 * kShifts;

class FaultInjection : public ::testing::TestWithParam<FaultCase> {
 protected:
  static void SetUpTestSuite() {
    dataDir = std::make_unique<ScopedTempDir>();
    // A new fiscal drive after the first shift: the service lists the later shifts first.
    data = generateData(dataDir->file("data.json"), {"--shifts", std::to_string(kShifts), "--checks", "2", "--goods",
                                                     "2", "--cash", "1", "--drive-change", "1"});
    shifts = closedShifts(data);
  }
  static void TearDownTestSuite() { dataDir.reset(); }

  static std::unique_ptr<ScopedTempDir> dataDir;
  static nlohmann::ordered_json data;
  static std::vector<Shift> shifts;
};

std::unique_ptr<ScopedTempDir> FaultInjection::dataDir;
nlohmann::ordered_json FaultInjection::data;
std::vector<Shift> FaultInjection::shifts;

TEST_P(FaultInjection, EachRequestInTurn) {
  const FaultCase& c = GetParam();
  ASSERT_EQ(static_cast<std::size_t>(kShifts), shifts.size());
  for (int request = 1; request <= kRequests; ++request) {
    SCOPED_TRACE(std::string(c.name) + " at request " + std::to_string(request));
    ScopedTempDir dir;
    const std::string config = dir.file("config.xml"), exchange = dir.file("ImportData.xml");
    std::vector<std::string> simArgs = {"--data", dataDir->file("data.json"), "--log-dir", dir.file("requests"),
                                        "--state", dir.file("state")};
    if (c.simFault) simArgs.insert(simArgs.end(), {"--fault", std::to_string(request) + ":" + c.simFault});
    kkmtest::SimProcess sim(simArgs);
    std::unique_ptr<RefusingProxy> proxy;
    if (c.fault == Fault::kRefused) proxy = std::make_unique<RefusingProxy>(sim.port(), request);
    writeFileBytes(config, configText(proxy ? proxy->baseUrl() : sim.baseUrl()));
    const std::string configBefore = readFileBytes(config);

    const ProgramResult first = runProgram(kBinary, {"import", config, exchange}, dir.path());
    proxy.reset();

    // Every fault fails the run, a login answer cut after its idSession too.
    EXPECT_EQ(-3, first.exitCode) << first.out << first.err;
    EXPECT_NE(std::string::npos, first.err.find("kkmbridge: import stopped")) << first.err;
    if (request == 1) {
      EXPECT_NE(std::string::npos, first.err.find("login to ")) << first.err;
    }
    EXPECT_FALSE(fileExists(exchange));
    EXPECT_EQ(configBefore, readFileBytes(config));
    std::vector<Shift> got = loadAs1C(exchange);
    EXPECT_TRUE(got.empty());

    // The fault is gone (requests are counted on, so it does not come back).
    if (c.fault == Fault::kRefused) setBaseUrl(config, sim.baseUrl());
    const ProgramResult second = runProgram(kBinary, {"import", config, exchange}, dir.path());
    EXPECT_EQ(0, second.exitCode) << second.out << second.err;
    const std::vector<Shift> rest = loadAs1C(exchange);
    got.insert(got.end(), rest.begin(), rest.end());

    EXPECT_EQ(shifts, got) << "shifts across both runs";
    EXPECT_EQ(shifts.back().closing, convertDateTimeTo1C(readConfig(config).lastDocDT));
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultInjection, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

}  // namespace
