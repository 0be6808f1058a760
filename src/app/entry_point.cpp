#include "app/entry_point.h"

#include <new>
#include <stdexcept>
#include <string>

#include "app/export_run.h"
#include "app/check_run.h"
#include "app/import_run.h"
#include "app/run_lock.h"
#include "app/run_report.h"
#include "app/stall.h"
#include "config/config_file.h"
#include "config/settings.h"
#include "files/atomic_file.h"
#include "files/messages.h"
#include "files/paths.h"
#include "files/run_log.h"
#include "platform/platform.h"
#include "text/date_time.h"

namespace {

// The usage message; the word between "import" and "export" is the Russian
// "or" in Windows-1251, which is what the operators' consoles show.
constexpr const char* kUsage =
    "Need to use 3 parameters - 1.Type: import \xE8\xEB\xE8 export, 2. Full ConfigFileName (with filepath) "
    "3. Full xml filename (with filepath)";

// What --help adds to the usage message.
constexpr const char* kOptions =
    "Or: check CONFIG_FILE EXCHANGE_FILE diagnoses the set-up and changes nothing; --version shows the program's "
    "version, --help this text.";

// Why the password may be read on its way to the service ("" when it is
// not): a plain http:// address, or the certificate check switched off.
std::string unprotectedPasswordReason() {
  std::string scheme = basicURL.substr(0, 7);
  for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (scheme == "http://") return "basicURL is a plain http:// address";
  if (!sslVerify) return "sslVerify=\"0\" switches the certificate check off";
  return "";
}

// The file a run works on and the run's lock on it.
struct Workplace {
  std::string fileName;  // the exchange file, or the file a link of ours given for it leads to
  platform::LinkResult link = platform::LinkResult::kNotALink;
  std::string lockFile;
  platform::FileLock lock;  // held for the whole run; the system lets go of it however the process ends
  platform::FileLock::Result locked = platform::FileLock::Result::kFailed;
  platform::LockHolder holder;  // who holds the lock when it is busy
  std::string error;            // why the link is not followed, or the lock cannot be taken
};

// An exchange file given as a link is worked on where it leads, so that the
// link stays a link; only one that no one else can have planted. Then the
// lock beside that file is taken, when it is free.
void takeWorkplace(const std::string& givenFileName, const std::string& configFileName, Workplace& place) {
  place.fileName = givenFileName;
  std::string target;
  place.link = platform::followOwnLink(givenFileName, target, place.error);
  if (place.link == platform::LinkResult::kRefused) return;
  if (place.link == platform::LinkResult::kFollowed) place.fileName = target;
  place.lockFile = lockFileFor(place.fileName);
  place.locked = platform::FileLock::tryTake(place.lockFile, configFileName, place.lock, place.holder, place.error);
}

// `note` receives a warning about the run's setup, for the run log.
int runOnce(int argc, const char* const argv[], RunReport& report, std::string& note) {
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
  const std::string givenFileName = argv[3];
  if (mode == "check") {
    // The diagnosis takes no lock and changes nothing.
    Configuration configuration;
    readConfiguration(configFileName, configuration);
    return runCheck(configuration, givenFileName, report);
  }

  // The exchange file's lock is taken before the configuration is read, so
  // that what the run goes on from (lastDocDT, the record of a commit) is
  // never a reading that a run holding the lock until a moment ago has
  // since replaced. What came of the lock is said after the configuration's
  // own verdict.
  const bool knownMode = mode == "export" || mode == "import";
  Workplace place;
  if (knownMode) takeWorkplace(givenFileName, configFileName, place);

  // Read once: every stage of the run takes its values from this reading.
  Configuration configuration;
  readConfiguration(configFileName, configuration);
  readInitialPreferences(configuration);
  if (basicURL.empty()) {
    report.did = "the configuration names no service address (basicURL)";
    return kExitUnusableConfig;
  }
  if (!knownMode) {
    report.did = "unknown mode \"" + mode + "\"";
    return kExitUsage;
  }

  const std::string unprotected = unprotectedPasswordReason();
  if (!unprotected.empty()) {
    printLine(" warning: the password travels unprotected to the service: " + unprotected);
    note = "password unprotected: " + unprotected;
  }

  switch (place.link) {
    case platform::LinkResult::kNotALink:
      break;
    case platform::LinkResult::kFollowed:
      printLine(" " + givenFileName + " is a link to " + place.fileName + "; the run works on that file");
      break;
    case platform::LinkResult::kRefused:
      printError(mode + ": " + givenFileName + " is a link that is not followed: " + place.error + "; nothing done");
      return kExitRunFailed;
  }

  const std::string& lockFile = place.lockFile;
  switch (place.locked) {
    case platform::FileLock::Result::kTaken:
      break;
    case platform::FileLock::Result::kBusy: {
      const std::int64_t now = platform::now();
      const platform::LockHolder& holder = place.holder;
      const std::string who = holder.known() ? " (process " + std::to_string(holder.processId) + ", " +
                                                   sinceText(holder.since, now) + ")"
                                             : "";
      report = {RunOutcome::kSkipped, "another run holds " + lockFile + who};
      if (waitedTooLong(holder.since, now, stallHours)) {
        printError(mode + ": another run holds " + lockFile + who + ", longer than stallHours=" +
                   std::to_string(stallHours) + " hours: it is stuck and needs a person; nothing asked, nothing changed");
        return kExitRunFailed;
      }
      printLine(" " + mode + ": another run holds " + lockFile + who + "; nothing asked, nothing changed");
      return kExitOk;
    }
    case platform::FileLock::Result::kFailed:
      printError("cannot lock " + lockFile + ": " + place.error + "; nothing done");
      return kExitRunFailed;
  }
  if (mode == "export") return runExport(place.fileName, &report);
  return runImport(place.fileName, configuration, &report);
}

// The run's line in the run log: when it ended, the mode, the outcome, what
// it did, the exit code, for a failure the reason its error line gave, and
// a warning the run gave of its setup.
void writeRunLog(const std::string& mode, int exitCode, const RunReport& report, const std::string& note) {
  if (runLog.empty()) return;
  std::string line = currentTimeText() + " | " + mode + " | " + outcomeText(report.outcome) + " | " + report.did +
                     " | exit " + std::to_string(exitCode);
  if (report.outcome == RunOutcome::kFailed && !firstError().empty()) line += " | " + firstError();
  if (!note.empty()) line += " | " + note;
  appendRunLogLine(runLog, line);  // masked there, as every output is
}

}  // namespace

int runKkmBridge(int argc, const char* const argv[]) {
  RunReport report{RunOutcome::kFailed, "nothing done"};
  int exitCode = kExitRunFailed;
  std::string note;
  // Whatever runs out (memory for a huge answer or goods file, above all in
  // a 32-bit process), the run ends with one line and its files as they were:
  // every file is replaced only through a finished temporary one.
  try {
    exitCode = runOnce(argc, argv, report, note);
  } catch (const std::bad_alloc&) {
    report.outcome = RunOutcome::kFailed;
    printError("the run stopped: not enough memory; files are left as they were");
  } catch (const std::exception& e) {
    report.outcome = RunOutcome::kFailed;
    printError(std::string("the run stopped: ") + e.what() + "; files are left as they were");
  }
  if (exitCode != kExitOk) report.outcome = RunOutcome::kFailed;
  try {
    if (argc >= 2) writeRunLog(argv[1], exitCode, report, note);
  } catch (const std::exception&) {
    // The run log never changes the run's outcome.
  }
  return exitCode;
}
