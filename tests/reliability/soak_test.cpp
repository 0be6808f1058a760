// The soak: many import runs against cloud-sim while documents keep
// arriving (each run the service holds a few more of a generated data set),
// a random service fault in about a third of the runs, and 1C loading the
// exchange file after most runs (sometimes it is late, and the next run must
// then leave the file alone and ask nothing). In about one run of ten a
// second run is started together with it, as an overlapping scheduler would:
// one of them works, the other finds the lock or nothing to do. At the end the
// shifts 1C has loaded must be the closed shifts of the data, each exactly
// once and in order, with all their documents, and every check of the data
// reported exactly once over all runs. The data has a fiscal drive change
// halfway (document numbers start again at 1, so the service's answers,
// sorted by number, list later shifts first).
//
// SOAK_RUNS sets the number of runs (default 30; `make soak` runs 300),
// SOAK_SEED the seed (printed; rerun with it to replay a failure).
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "reliability_support.h"
#include "run_program.h"
#include "sim_process.h"
#include "test_files.h"

namespace {

using namespace reliability;

TEST(Soak, ImportRunsWithArrivingDocumentsAndFaults) {
  const unsigned seed = seedFrom("SOAK_SEED", 1);
  const int runs = countFrom("SOAK_RUNS", 30);
  std::mt19937 random(seed);
  const auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(random) < percent; };
  const auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };

  ScopedTempDir dir;
  // About two new documents a run, six documents a shift; one shift stays open.
  const int shiftCount = runs / 3 + 3;
  const nlohmann::ordered_json full =
      generateData(dir.file("full.json"), {"--shifts", std::to_string(shiftCount), "--checks", "3", "--goods", "2",
                                           "--cash", "1", "--open-shift", "--seed", std::to_string(seed),
                                           "--drive-change", std::to_string(shiftCount / 2)});
  nlohmann::ordered_json fullCopy = full;
  const std::size_t totalDocuments = documentsOf(fullCopy).size();
  const std::vector<Shift> expected = closedShifts(full);

  const std::string config = dir.file("config.xml"), exchange = dir.file("ImportData.xml");
  writeFileBytes(config, configText("http://127.0.0.1:9/api/"));
  std::vector<Shift> loaded;
  std::size_t served = 0;
  int faultRuns = 0, failedRuns = 0, skippedRuns = 0, okRuns = 0, overlaps = 0, lockedOut = 0;

  const auto loadNow = [&] {
    for (const Shift& s : loadAs1C(exchange)) loaded.push_back(s);
  };

  // The given runs, then runs without faults on all the data until nothing new comes.
  const int drainRuns = 6;
  for (int run = 0; run < runs + drainRuns; ++run) {
    const bool draining = run >= runs;
    served = draining ? totalDocuments : std::min(totalDocuments, served + static_cast<std::size_t>(pick(0, 4)));
    writeJson(dir.file("served.json"), withFirstDocuments(full, served));

    static const char* const kFaults[] = {"status=500", "status=503", "status=401", "close=10",
                                          "close=60",   "garbage",    "delay=300",  "refused"};
    std::string fault;
    int faultRequest = 0;
    if (!draining && chance(33)) {
      fault = kFaults[pick(0, 7)];
      faultRequest = pick(1, 6);
      ++faultRuns;
    }
    SCOPED_TRACE("run " + std::to_string(run) + " serving " + std::to_string(served) + " documents, fault " +
                 (fault.empty() ? "none" : fault + " at request " + std::to_string(faultRequest)));

    ScopedTempDir logs;
    std::vector<std::string> simArgs = {"--data", dir.file("served.json"), "--log-dir", logs.path(), "--state",
                                        logs.path()};
    if (!fault.empty() && fault != "refused")
      simArgs.insert(simArgs.end(), {"--fault", std::to_string(faultRequest) + ":" + fault});
    kkmtest::SimProcess sim(simArgs);
    std::unique_ptr<RefusingProxy> proxy;
    if (fault == "refused") proxy = std::make_unique<RefusingProxy>(sim.port(), faultRequest);
    setBaseUrl(config, proxy ? proxy->baseUrl() : sim.baseUrl());

    const std::string configBefore = readFileBytes(config);
    const bool hadExchange = fileExists(exchange);
    const std::string exchangeBefore = readFileBytes(exchange);
    const bool unloadedBefore = !reportedShifts(exchangeBefore).empty();

    if (!draining && chance(10)) {
      // Two runs at once: neither may report a shift twice or lose one.
      ++overlaps;
      ScopedTempDir second;
      Child other(kBinary, {"import", config, exchange}, second.path());
      const ProgramResult first = runProgram(kBinary, {"import", config, exchange}, dir.path());
      const int otherCode = other.wait();
      proxy.reset();
      const std::string otherOut = readFileBytes(second.file("stdout.txt"));
      for (const auto& [code, out] : {std::pair<int, std::string>{first.exitCode, first.out}, {otherCode, otherOut}}) {
        ASSERT_TRUE(code == 0 || (code == -3 && !fault.empty())) << "exit " << code << "\n" << out;
        if (out.find("another run holds") != std::string::npos) ++lockedOut;
      }
      if (chance(75)) loadNow();
      continue;
    }

    const ProgramResult result = runProgram(kBinary, {"import", config, exchange}, dir.path());
    proxy.reset();

    if (unloadedBefore) {
      // 1C has not loaded the last file: it stays, and nothing is asked.
      ++skippedRuns;
      ASSERT_EQ(0, result.exitCode) << result.out << result.err;
      ASSERT_EQ(exchangeBefore, readFileBytes(exchange));
      ASSERT_EQ(configBefore, readFileBytes(config));
      ASSERT_EQ(0, kkmtest::countRequestLogs(logs.path())) << "a request although there was nothing to do";
    } else if (result.exitCode == -3) {
      ++failedRuns;
      ASSERT_FALSE(fault.empty() || fault == "delay=300") << "failed without a fault: " << result.err;
      ASSERT_EQ(configBefore, readFileBytes(config));
      ASSERT_EQ(hadExchange, fileExists(exchange));
      ASSERT_EQ(exchangeBefore, readFileBytes(exchange));
    } else {
      ++okRuns;
      ASSERT_EQ(0, result.exitCode) << result.out << result.err;
    }
    // 1C loads the file after most runs, and always while draining.
    if (draining || chance(75)) loadNow();
  }
  loadNow();

  ASSERT_EQ(expected.size(), loaded.size()) << "shifts loaded by 1C";
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(expected[i], loaded[i]) << "shift " << i;
  const std::multiset<std::string> checks = checksIn(full);
  EXPECT_EQ(checks, checksOf(loaded)) << "every check once";
  std::size_t documents = 0;
  for (const Shift& s : loaded) documents += s.checks.size() + s.cash.size();
  std::cout << "[ soak ] seed " << seed << ": " << runs << " runs (+" << drainRuns << " draining), " << faultRuns
            << " with a fault; " << okRuns << " finished, " << failedRuns << " failed and changed nothing, "
            << skippedRuns << " found the file not loaded; " << overlaps << " started beside another run ("
            << lockedOut << " found it holding the lock); " << loaded.size() << " shifts loaded by 1C = "
            << expected.size() << " closed shifts in the data, each once, with all " << documents
            << " checks and cash documents; " << checksOf(loaded).size() << " checks reported = " << checks.size()
            << " checks in the data, each once" << std::endl;
}

}  // namespace
