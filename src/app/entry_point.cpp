#include "app/entry_point.h"

#include <new>
#include <stdexcept>
#include <string>

#include "app/export_run.h"
#include "app/import_run.h"
#include "app/run_report.h"
#include "config/config_file.h"
#include "config/settings.h"
#include "files/atomic_file.h"
#include "files/messages.h"
#include "files/run_log.h"
#include "platform/platform.h"
#include "text/date_time.h"
#include "text/escaping.h"

namespace {

// The usage message; the word between "import" and "export" is the Russian
// "or" in Windows-1251, which is what the operators' consoles show.
constexpr const char* kUsage =
    "Need to use 3 parameters - 1.Type: import \xE8\xEB\xE8 export, 2. Full ConfigFileName (with filepath) "
    "3. Full xml filename (with filepath)";

// What --help adds to the usage message.
constexpr const char* kOptions = "Or: --version shows the program's version, --help this text.";

// The lock that keeps a second run on the same exchange file from working
// beside the first: a file next to the exchange file, whose name no
// ImportData* or ExportData* pattern matches.
std::string lockFileFor(const std::string& fileName) {
  return folderOf(fileName) + "~kkmbridge-" + nameOf(fileName) + ".lock";
}

int runOnce(int argc, const char* const argv[], RunReport& report) {
  // Asked for on its own, by an admin or an installer: on standard output,
  // with success, and nothing read.
  const std::string first = argc >= 2 ? argv[1] : "";
  if (first == "--version" || first == "--help") {
    if (first == "--version") {
      printLine(std::string("kkmbridge ") + KKM_VERSION);
    } else {
      printLine(kUsage);
      printLine(kOptions);
    }
    report = {RunOutcome::kNothingToDo, first.substr(2) + " shown"};
    return kExitOk;
  }
  if (argc < 4) {
    printErrorLine(kUsage);
    return kExitUsage;
  }
  const std::string mode = argv[1];
  const std::string configFileName = argv[2];
  const std::string fileName = argv[3];

  readInitialPreferences(configFileName);
  if (basicURL.empty()) {
    report.did = "the configuration names no service address (basicURL)";
    return kExitNoService;
  }
  if (mode != "export" && mode != "import") {
    report.did = "unknown mode \"" + mode + "\"";
    return kExitUsage;
  }

  // Held for the whole run; the system lets go of it however the process ends.
  platform::FileLock lock;
  const std::string lockFile = lockFileFor(fileName);
  std::string error;
  switch (platform::FileLock::tryTake(lockFile, lock, error)) {
    case platform::FileLock::Result::kTaken:
      break;
    case platform::FileLock::Result::kBusy:
      printLine(" " + mode + ": another run holds " + lockFile + "; nothing asked, nothing changed");
      report = {RunOutcome::kSkipped, "another run holds " + lockFile};
      return kExitOk;
    case platform::FileLock::Result::kFailed:
      printError("cannot lock " + lockFile + ": " + error + "; nothing done");
      return kExitRunFailed;
  }
  if (mode == "export") return runExport(fileName, &report);
  return runImport(fileName, configFileName, &report);
}

// The run's line in the run log: when it ended, the mode, the outcome, what
// it did, the exit code and, for a failure, the reason its error line gave.
// No secret can stand in it.
void writeRunLog(const std::string& mode, int exitCode, const RunReport& report) {
  if (runLog.empty()) return;
  std::string line = currentTimeText() + " | " + mode + " | " + outcomeText(report.outcome) + " | " + report.did +
                     " | exit " + std::to_string(exitCode);
  if (report.outcome == RunOutcome::kFailed && !firstError().empty()) line += " | " + firstError();
  for (const std::string& secret : {password, percentEncode(password), idSession}) line = maskSecret(line, secret);
  appendRunLogLine(runLog, line);
}

}  // namespace

int runKkmBridge(int argc, const char* const argv[]) {
  RunReport report{RunOutcome::kFailed, "nothing done"};
  int exitCode = kExitRunFailed;
  // Whatever runs out (memory for a huge answer or goods file, above all in
  // a 32-bit process), the run ends with one line and its files as they were:
  // every file is replaced only through a finished temporary one.
  try {
    exitCode = runOnce(argc, argv, report);
  } catch (const std::bad_alloc&) {
    report.outcome = RunOutcome::kFailed;
    printError("the run stopped: not enough memory; files are left as they were");
  } catch (const std::exception& e) {
    report.outcome = RunOutcome::kFailed;
    printError(std::string("the run stopped: ") + e.what() + "; files are left as they were");
  }
  if (exitCode != kExitOk) report.outcome = RunOutcome::kFailed;
  try {
    if (argc >= 2) writeRunLog(argv[1], exitCode, report);
  } catch (const std::exception&) {
    // The run log never changes the run's outcome.
  }
  return exitCode;
}
