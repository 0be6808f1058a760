// Crash consistency: the import is killed with SIGKILL at many moments —
// while each request is held by the service, at random times over a whole
// run, and at random times after the last answer (building the report,
// writing the exchange file and the configuration). After every kill the
// configuration reads; unless it records a commit under way, lastDocDT never
// points past a shift that is not in a completely written ImportData file;
// no half-written file carries an ImportData* name; and 1C's load, a clean
// run and 1C's load again bring every shift, and every check, exactly once.
// The data has a fiscal drive change (document numbers start again), so the
// service's answers list the later shifts first.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "reliability_support.h"
#include "run_program.h"
#include "sim_process.h"
#include "test_files.h"
#include "text/date_time.h"

namespace {

using namespace reliability;
using Clock = std::chrono::steady_clock;

constexpr int kShifts = 4;
constexpr int kRequests = 2 + 2 * kShifts;

struct Tally {
  int kills = 0;
  int nothingWritten = 0;  // killed before the commit began
  int pending = 0;         // killed while the configuration recorded the commit
  int bothWritten = 0;     // killed after the commit was complete
  int finished = 0;        // the run ended before the kill
  void print(const char* name) const {
    std::cout << "[ kills ] " << name << ": " << kills << " kills: " << nothingWritten << " before the commit, "
              << pending << " inside it, " << bothWritten << " after it, " << finished
              << " after the run had ended" << std::endl;
  }
};

class CrashConsistency : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dataDir = std::make_unique<ScopedTempDir>();
    // Enough checks that building and writing the file takes a moment.
    data = generateData(dataDir->file("data.json"), {"--shifts", std::to_string(kShifts), "--checks", "40",
                                                     "--goods", "3", "--cash", "2", "--open-shift",
                                                     "--drive-change", std::to_string(kShifts / 2)});
    shifts = closedShifts(data);
  }
  static void TearDownTestSuite() { dataDir.reset(); }

  // A fresh exchange folder; every other one starts with 1C's processed stub.
  struct Scene {
    ScopedTempDir dir;
    std::string config = dir.file("config.xml");
    std::string exchange = dir.file("ImportData.xml");
  };
  std::unique_ptr<Scene> newScene(const std::string& url) {
    auto scene = std::make_unique<Scene>();
    writeFileBytes(scene->config, configText(url));
    if (sceneCount++ % 2 == 1) writeFileBytes(scene->exchange, kProcessedStub);
    return scene;
  }

  std::unique_ptr<Child> start(const Scene& s) {
    return std::make_unique<Child>(kBinary, std::vector<std::string>{"import", s.config, s.exchange}, s.dir.path());
  }

  // The checks after a kill, then 1C's load and a clean run: every shift
  // must have arrived exactly once.
  void checkAfterKill(const Scene& s, int exitCode, Tally& tally) {
    ++tally.kills;
    const ConfigState config = readConfig(s.config);
    ASSERT_TRUE(config.parses) << readFileBytes(s.config);
    bool complete = false;
    const std::vector<Shift> inFile =
        fileExists(s.exchange) ? reportedShifts(readFileBytes(s.exchange), &complete) : std::vector<Shift>();
    for (const std::string& name : filesIn(s.dir.path()))
      EXPECT_TRUE(name == "ImportData.xml" || name.rfind("ImportData", 0) != 0) << "left behind: " << name;

    const bool recorded = readFileBytes(s.config).find("pendingFile=") != std::string::npos;
    if (exitCode > -1000) {
      ++tally.finished;
      ASSERT_EQ(0, exitCode) << readFileBytes(s.dir.file("stderr.txt"));
    } else if (recorded) {
      ++tally.pending;
    } else if (config.lastDocDT != "0") {
      ++tally.bothWritten;
    } else {
      ++tally.nothingWritten;
    }
    if (!recorded && config.lastDocDT != "0") {
      // lastDocDT moved and the commit is complete: the file that holds its shift is in place.
      ASSERT_TRUE(complete) << "lastDocDT " << config.lastDocDT << " but the exchange file is not complete";
      ASSERT_FALSE(inFile.empty());
      EXPECT_EQ(convertDateTimeTo1C(config.lastDocDT), inFile.back().closing);
      EXPECT_EQ(shifts, inFile);
    } else if (!recorded) {
      EXPECT_TRUE(inFile.empty()) << "shifts in place, lastDocDT not moved and no commit recorded";
    }

    std::vector<Shift> arrived = loadAs1C(s.exchange);
    const ProgramResult again = runProgram(kBinary, {"import", s.config, s.exchange}, s.dir.path());
    EXPECT_EQ(0, again.exitCode) << again.out << again.err;
    std::vector<Shift> rest = loadAs1C(s.exchange);
    arrived.insert(arrived.end(), rest.begin(), rest.end());
    if (rest.empty() || arrived.size() < shifts.size()) {
      // A commit finished by the run above waited for 1C; one more run asks for nothing new.
      const ProgramResult last = runProgram(kBinary, {"import", s.config, s.exchange}, s.dir.path());
      EXPECT_EQ(0, last.exitCode) << last.out << last.err;
      rest = loadAs1C(s.exchange);
      arrived.insert(arrived.end(), rest.begin(), rest.end());
    }
    EXPECT_EQ(shifts, arrived);
    EXPECT_EQ(checksIn(data), checksOf(arrived)) << "every check once";
    EXPECT_EQ(shifts.back().closing, convertDateTimeTo1C(readConfig(s.config).lastDocDT));
    EXPECT_EQ(std::string::npos, readFileBytes(s.config).find("pending")) << readFileBytes(s.config);
  }

  static std::unique_ptr<ScopedTempDir> dataDir;
  static nlohmann::ordered_json data;
  static std::vector<Shift> shifts;
  int sceneCount = 0;
};

std::unique_ptr<ScopedTempDir> CrashConsistency::dataDir;
nlohmann::ordered_json CrashConsistency::data;
std::vector<Shift> CrashConsistency::shifts;

// Killed while the service holds each request in turn.
TEST_F(CrashConsistency, KilledWhileEachRequestIsHeld) {
  Tally tally;
  ASSERT_EQ(static_cast<std::size_t>(kShifts), shifts.size());
  for (int request = 1; request <= kRequests; ++request) {
    SCOPED_TRACE("held at request " + std::to_string(request));
    ScopedTempDir logs;
    kkmtest::SimProcess sim({"--data", dataDir->file("data.json"), "--log-dir", logs.path(), "--state", logs.path(),
                             "--fault", std::to_string(request) + ":delay=5000"});
    auto scene = newScene(sim.baseUrl());
    auto child = start(*scene);
    ASSERT_TRUE(waitForFile(logs.file(std::to_string(request) + ".req"), std::chrono::seconds(20)));
    checkAfterKill(*scene, child->kill(), tally);
  }
  tally.print("held requests");
  EXPECT_EQ(kRequests, tally.nothingWritten);
}

// Killed at random moments of whole runs, and at random moments after the
// last answer, when the report is built and the files are written.
TEST_F(CrashConsistency, KilledAtRandomMoments) {
  const unsigned seed = seedFrom("KKM_KILL_SEED", 20240601);
  const int kills = countFrom("KKM_KILLS", 30);
  std::mt19937 random(seed);
  ScopedTempDir logs;
  kkmtest::SimProcess sim({"--data", dataDir->file("data.json"), "--log-dir", logs.path(), "--state", logs.path()});

  // How long a run takes, and how long it goes on after its last request.
  Clock::duration whole{}, tail{};
  for (int i = 0; i < 3; ++i) {
    auto scene = newScene(sim.baseUrl());
    const int before = kkmtest::countRequestLogs(logs.path());
    const auto t0 = Clock::now();
    auto child = start(*scene);
    ASSERT_TRUE(waitForFile(logs.file(std::to_string(before + kRequests) + ".req"), std::chrono::seconds(20)));
    const auto lastRequest = Clock::now();
    ASSERT_EQ(0, child->wait());
    whole = std::max(whole, Clock::now() - t0);
    tail = std::max(tail, Clock::now() - lastRequest);
  }
  const auto us = [](Clock::duration d) { return std::chrono::duration_cast<std::chrono::microseconds>(d).count(); };
  std::cout << "[ timing ] run " << us(whole) << " us, after the last request " << us(tail) << " us" << std::endl;

  Tally anyTime, afterLastAnswer;
  for (int i = 0; i < kills; ++i) {
    const long delay = std::uniform_int_distribution<long>(0, us(whole) * 11 / 10)(random);
    SCOPED_TRACE("kill " + std::to_string(i) + " after " + std::to_string(delay) + " us");
    auto scene = newScene(sim.baseUrl());
    auto child = start(*scene);
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
    checkAfterKill(*scene, child->kill(), anyTime);
    if (HasFatalFailure()) return;
  }
  for (int i = 0; i < kills; ++i) {
    const long delay = std::uniform_int_distribution<long>(0, us(tail) * 12 / 10)(random);
    SCOPED_TRACE("kill " + std::to_string(i) + " at " + std::to_string(delay) + " us after the last request");
    auto scene = newScene(sim.baseUrl());
    const int before = kkmtest::countRequestLogs(logs.path());
    auto child = start(*scene);
    ASSERT_TRUE(waitForFile(logs.file(std::to_string(before + kRequests) + ".req"), std::chrono::seconds(20)));
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
    checkAfterKill(*scene, child->kill(), afterLastAnswer);
    if (HasFatalFailure()) return;
  }
  anyTime.print("random moments");
  afterLastAnswer.print("after the last request");
}

// A power cut keeps what a run did in the order it did it only when each
// rename is on the disk before the next step: with the configuration and
// the exchange file in two folders (as on two file systems), every rename is
// followed by a sync of the folder it renamed in, before anything else is
// renamed. And the configuration is read only once the run holds its lock:
// a reading taken before would miss the commit of a run that held the lock
// until a moment ago, and its shifts would be reported twice.
TEST_F(CrashConsistency, EveryRenameIsSyncedInItsFolderBeforeTheNext) {
  ScopedTempDir logs;
  kkmtest::SimProcess sim({"--data", dataDir->file("data.json"), "--log-dir", logs.path(), "--state", logs.path()});
  ScopedTempDir configFolder;
  ScopedTempDir exchangeFolder;
  const std::string config = configFolder.file("config.xml");
  const std::string exchange = exchangeFolder.file("ImportData.xml");
  const std::string trace = logs.file("sync.trace");
  writeFileBytes(config, configText(sim.baseUrl()));
  const ProgramResult r = runProgram(
      "/bin/sh",
      {"-c",
       "LD_PRELOAD=\"$1\" KKM_SYNC_TRACE=\"$2\" ASAN_OPTIONS=\"$ASAN_OPTIONS:verify_asan_link_order=0\" "
       "exec \"$3\" import \"$4\" \"$5\"",
       "sh", KKM_SYNC_TRACE_LIBRARY, trace, kBinary, config, exchange},
      exchangeFolder.path());
  ASSERT_EQ(0, r.exitCode) << r.err;
  ASSERT_EQ(shifts, reportedShifts(readFileBytes(exchange)));
  const std::string text = readFileBytes(trace);
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
  }
  int renames = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("rename-in ", 0) != 0) continue;
    ++renames;
    const std::string folder = lines[i].substr(10);
    ASSERT_LT(i + 1, lines.size()) << text;
    EXPECT_EQ("fsync-folder " + folder, lines[i + 1]) << text;
  }
  // The record of the commit, the exchange file, the record cleared.
  EXPECT_GE(renames, 3) << text;
  const std::size_t locked = text.find("lock " + std::filesystem::canonical(exchangeFolder.path()).string() + "/");
  const std::size_t read = text.find("open-read " + std::filesystem::canonical(config).string() + "\n");
  ASSERT_NE(std::string::npos, locked) << text;
  ASSERT_NE(std::string::npos, read) << text;
  EXPECT_LT(locked, read) << text;
  EXPECT_NE(std::string::npos, text.find("rename-in " + std::filesystem::canonical(exchangeFolder.path()).string()))
      << text;
}

}  // namespace
