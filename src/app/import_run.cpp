#include "app/import_run.h"

#include "app/exit_codes.h"
#include "app/login.h"
#include "app/run_report.h"
#include "app/stall.h"
#include "cloud/document_query.h"
#include "config/config_file.h"
#include "config/settings.h"
#include "files/atomic_file.h"
#include "files/debug_dump.h"
#include "files/messages.h"
#include "files/paths.h"
#include "files/root_tag.h"
#include "files/text_file.h"
#include "platform/platform.h"
#include "report/import_document.h"
#include "report/value_rules.h"
#include "report/xml_elements.h"
#include "text/date_time.h"

namespace {

// 1C writes its goods file in the format set on the device and reads the
// sales reports only in that format: when the goods file beside the
// exchange file is in the other one, says which formatVersion to set.
void warnOfAnotherFormat(const std::string& fileName, const std::string& configFileName, ImportDataFormat format) {
  const std::string goodsFile = exportDataBeside(fileName);
  tinyxml2::XMLDocument tag;
  const tinyxml2::XMLElement* root = readRootStartTag(goodsFile, tag);
  const char* ns = root != nullptr ? root->Attribute("xmlns") : nullptr;
  ImportDataFormat goodsFormat = format;
  if (ns == nullptr || std::string_view(root->Name()) != "ExportData" || !formatOfNamespace(ns, goodsFormat) ||
      goodsFormat == format)
    return;
  printWarning(std::string("1C's goods file ") + goodsFile + " is in format " + formatTitleOf(goodsFormat) + " (" + ns +
               "), and 1C loads sales reports only in the format it writes, but " + fileName + " is written in " +
               formatTitleOf(format) + ": set formatVersion=\"" + formatVersionOf(goodsFormat) +
               "\" on config/importparams/import in " + configFileName);
}

// What the commit record keeps of the exchange file as it was: its
// fingerprint and when it was written ("" when there was none), so that any
// file put there since, 1C's stub included, tells itself apart.
std::string fingerprintOf(const std::string& fileName, const ExchangeFileCheck& file) {
  if (file.state == ExchangeFileState::kMissing) return "";
  return fileFingerprint(file.content) + "@" + std::to_string(platform::modificationTime(fileName));
}

// A bookmark may stand a little ahead of this machine's clock (the
// register's clock, another time zone), never more than this.
constexpr std::int64_t kBookmarkAheadSeconds = 24 * 60 * 60;

// Whether `value`, the bookmark `attribute` as the configuration has it, is
// a date a run can go on from; otherwise says so on standard error: such a
// value would make every run find nothing, for ever.
bool bookmarkUsable(const char* attribute, const std::string& value, const std::string& configFileName) {
  const std::string problem = bookmarkProblem(value);
  if (problem.empty()) return true;
  printError(std::string(attribute) + "=\"" + value + "\" on config/importparams/import in " + configFileName + " " +
             problem + ": set it to the service date-time of the last shift closing 1C has, or to 0 for " +
             "everything from the beginning; nothing imported");
  return false;
}

// The earlier of two usable bookmarks ("0" is the earliest of all).
const std::string& earlierBookmark(const std::string& a, const std::string& b) {
  if (a == "0" || b == "0") return a == "0" ? a : b;
  return serviceInstant(b) < serviceInstant(a) ? b : a;
}

std::vector<AttributeChange> clearRecord() {
  return {{kPendingFileAttribute, "", true},
          {kPendingPreviousDocDTAttribute, "", true},
          {kPendingPreviousFileAttribute, "", true}};
}

// Puts lastDocDT back to what it was before the commit (`restored`: the
// recorded value, never one later than `own`, the value stored with the
// record) and clears the record.
bool undoCommit(const std::string& configFileName, const PendingCommit& record, const std::string& own,
                std::string& restored, std::string& error) {
  restored = earlierBookmark(record.previousDocDT, own);
  std::vector<AttributeChange> changes = clearRecord();
  changes.push_back({"lastDocDT", restored, false});
  return updateImportElement(configFileName, changes, error);
}

// Ends the commit `record` that an earlier run began and did not finish (it
// was killed, or the power went), as planPendingCommit decides, so that the
// shifts of that run reach 1C exactly once. False (with the reason printed)
// when the record cannot be settled now.
bool settlePendingCommit(const std::string& fileName, const std::string& configFileName, const PendingCommit& record) {
  const CommitPlan plan = planPendingCommit(fileName, record, lastDocDT);
  const std::string temporary = folderOf(fileName) + record.file;
  if (plan.plantedTemporary)
    printWarning("the commit of an earlier run names " + temporary +
                 ", which is not the ImportData file that run wrote; it is removed, not put in place of " + fileName);
  std::string error;
  switch (plan.step) {
    case CommitPlan::Step::kFinish:
      if (!platform::replaceFile(temporary, fileName, error)) {
        printError("cannot finish the commit of an earlier run: " + temporary + " cannot replace " + fileName +
                   ": " + error + "; nothing imported");
        return false;
      }
      if (!updateImportElement(configFileName, clearRecord(), error))
        printWarning(error + "; the next run clears the commit record");
      printLine(" import: the commit of an earlier run is finished: " + fileName + " holds its shifts up to " +
                lastDocDT);
      return true;
    case CommitPlan::Step::kConfirm:
      if (plan.removeTemporary) platform::removeFile(temporary);
      if (!updateImportElement(configFileName, clearRecord(), error))
        printWarning(error + "; the next run clears the commit record");
      return true;
    case CommitPlan::Step::kUndo:
      break;
  }
  if (plan.removeTemporary) platform::removeFile(temporary);
  std::string restored;
  if (!undoCommit(configFileName, record, lastDocDT, restored, error)) {
    printError("cannot undo the commit of an earlier run: " + error + "; nothing imported");
    return false;
  }
  lastDocDT = restored;
  printLine(" import: the commit of an earlier run could not be finished and is undone; lastDocDT is back at " +
            lastDocDT);
  return true;
}

// What the admin can do about a shift that 1C would refuse: its fiscal
// documents cannot be put right at the service, so only moving past it
// and entering it in 1C by hand gets the register's later shifts to 1C.
std::string refusedShiftAdvice(const ShiftWalkResult& walk, const std::string& configFileName) {
  const std::string moveOn =
      convertDateTimeTo1C(walk.refusedClosingDate).empty()
          ? "set lastDocDT on config/importparams/import in " + configFileName +
                " to a date past that shift's closing (whose docDt " + shownValue(walk.refusedClosingDate) +
                " is no date)"
          : "set lastDocDT=\"" + walk.refusedClosingDate + "\" (that shift's closing) on config/importparams/import in " +
                configFileName;
  return "; every run stops at that shift until you " + moveOn + " to move past it, and enter that shift in 1C by hand";
}

// The ImportData file written whole into `out`'s temporary file, not yet in
// place. True when it holds shifts to commit; otherwise the run ends with
// `exitCode`, its line said.
bool writeReport(AtomicFile& out, const std::string& configFileName, const DocumentQuery& query,
                 ImportDataFormat format, ImportDocumentResult& built, RunReport& report, int& exitCode) {
  const std::string& fileName = out.targetPath();
  exitCode = kExitRunFailed;
  std::string error;
  if (!out.open(error)) {
    printError("cannot write exchange file " + fileName + ": " + error + "; lastDocDT unchanged");
    return false;
  }
  built = writeImportDataXML(out.file(), query, format);
  const ShiftWalkResult& walk = built.walk;
  switch (built.outcome) {
    case ImportDocumentResult::Outcome::kFailed:
      printError("import stopped, " + fileName + " not written and lastDocDT unchanged: " + built.error +
                 (walk.refusal.empty() ? "" : refusedShiftAdvice(walk, configFileName)));
      return false;
    case ImportDocumentResult::Outcome::kNothingNew:
      // An ImportData without any SaleReport is no file 1C can load, and it
      // would replace what 1C left in its place.
      printLine(" import: no closed shift since \"" + lastDocDT + "\", nothing new; " + fileName + " not written");
      report = {RunOutcome::kNothingToDo, "no closed shift since " + lastDocDT};
      exitCode = kExitOk;
      return false;
    case ImportDocumentResult::Outcome::kWritten:
      break;
  }
  if (walk.lastClosingDate.empty()) {
    printError("the last shift closing has no date, so lastDocDT in " + configFileName +
               " cannot move past it; " + fileName + " not written");
    return false;
  }
  if (!out.finish(error)) {
    printError("cannot write exchange file " + fileName + ": " + error + "; lastDocDT unchanged");
    return false;
  }
  if (debugOn()) {
    // What was written, read back: the file itself is printed the same way in every mode.
    debugDump("importfile.log", "", "try to save XML to " + fileName);
    debugDump("importfile.log", "", readFile(out.temporaryPath()).text);
  }
  return true;
}

// Puts the finished file of `out` in place and moves lastDocDT to
// `newDocDT`: the shifts count as reported exactly when the file holding
// them is in place. Between the two steps the configuration records the
// commit (`record`), so that a run killed in between is finished or undone
// by the next one. False, with the line said and lastDocDT as it was, when
// the commit cannot be made.
bool commitReport(AtomicFile& out, const std::string& configFileName, const PendingCommit& record,
                  const std::string& newDocDT) {
  const std::string& fileName = out.targetPath();
  std::string error;
  if (!updateImportElement(configFileName,
                           {{"lastDocDT", newDocDT, false},
                            {kPendingFileAttribute, record.file, false},
                            {kPendingPreviousDocDTAttribute, record.previousDocDT, false},
                            {kPendingPreviousFileAttribute, record.previousFile, false}},
                           error)) {
    printError(error + "; " + fileName + " not written");
    return false;
  }
  if (!out.replaceTarget(error)) {
    std::string undoError, restored;
    if (!undoCommit(configFileName, record, newDocDT, restored, undoError))
      printError(undoError + "; the next run undoes the commit");
    printError("cannot write exchange file " + fileName + ": " + error + "; lastDocDT unchanged");
    return false;
  }
  if (!updateImportElement(configFileName, clearRecord(), error))
    printWarning(error + "; the shifts are in " + fileName + ", and the next run clears the commit record");
  return true;
}

// Says what the committed file holds, what the walk mended, and what waits
// for the next run.
void sayWritten(const std::string& fileName, const std::string& configFileName, const ShiftWalkResult& walk,
                RunReport& report) {
  for (const std::string& line : walk.warnings) printWarning(fileName + ": " + line);
  const std::string written = std::to_string(walk.reportCount) + " sales report(s) with " +
                              std::to_string(walk.checkCount) + " check(s) written";
  printLine(" import: " + written + " to " + fileName + ", lastDocDT " + walk.lastClosingDate);
  report = {RunOutcome::kOk, written + ", lastDocDT " + walk.lastClosingDate};
  if (walk.shiftsLeft > 0) {
    const std::string limit = walk.timeLimitReached
                                  ? "for at most " + std::to_string(kMaxWalkSeconds / 60) + " minutes"
                                  : "until its file holds " + std::to_string(kMaxChecksPerRun) + " checks";
    printLine(" import: " + std::to_string(walk.shiftsLeft) + " closed shift(s) left for the next run (a run takes " +
              "shifts " + limit + ")");
    report.did += ", " + std::to_string(walk.shiftsLeft) + " closed shift(s) left for the next run";
  }
  if (!walk.refusal.empty()) {
    // The shifts in front of it are in the file; this one blocks only itself.
    printWarning("the next run stops at the shift after lastDocDT " + walk.lastClosingDate + ": " + walk.refusal +
                 refusedShiftAdvice(walk, configFileName));
    report.did += ", stopped at a shift 1C would refuse";
  }
}

// Writes the shifts after lastDocDT into the exchange file `fileName`, whose
// state before the run is `previous`, and commits them.
int writeAndCommit(const std::string& fileName, const std::string& configFileName, const DocumentQuery& query,
                   ImportDataFormat format, const ExchangeFileCheck& previous, RunReport& report) {
  AtomicFile out(fileName);
  ImportDocumentResult built;
  int exitCode = kExitRunFailed;
  if (!writeReport(out, configFileName, query, format, built, report, exitCode)) return exitCode;
  const PendingCommit record{nameOf(out.temporaryPath()), lastDocDT, fingerprintOf(fileName, previous)};
  if (!commitReport(out, configFileName, record, built.walk.lastClosingDate)) return kExitRunFailed;
  sayWritten(fileName, configFileName, built.walk, report);
  return kExitOk;
}

int importOnce(const std::string& fileName, const Configuration& configuration, const DocumentQuery& query,
               std::string& logText, RunReport& report) {
  const std::string& configFileName = configuration.fileName;
  if (!readImportParams(configuration)) {
    printError("cannot read config/importparams/import from " + configFileName + "; nothing imported");
    return kExitRunFailed;
  }
  ImportDataFormat format = ImportDataFormat::k3000;
  if (!formatNamed(formatVersion, format)) {
    printError("formatVersion=\"" + formatVersion + "\" on config/importparams/import in " + configFileName +
               " is no format this program writes: set 3000, 3001, 3002 or 3003 (format 3.0, 3.0.0.1, 3.0.0.2 or " +
               "3.0.0.3), as the device in 1C is set; nothing imported");
    return kExitUnusableConfig;
  }
  // The bookmarks are dates, read before anything is asked.
  PendingCommit record;
  readPendingCommit(configuration, record);
  if (!bookmarkUsable("lastDocDT", lastDocDT, configFileName) ||
      (record.present() && !bookmarkUsable(kPendingPreviousDocDTAttribute, record.previousDocDT, configFileName)))
    return kExitUnusableConfig;
  warnOfAnotherFormat(fileName, configFileName, format);
  if (record.present() && !settlePendingCommit(fileName, configFileName, record)) return kExitRunFailed;
  removeStaleTemporaries(fileName);
  removeStaleTemporaries(configFileName);

  const ExchangeFileCheck previous = inspectExchangeFile(fileName);
  switch (previous.state) {
    case ExchangeFileState::kNotLoaded: {
      // Since the file was written, 1C has not loaded it: said with how
      // long, and past stallHours a failure, so that the wait is seen.
      const std::int64_t now = platform::now();
      const std::int64_t written = platform::modificationSeconds(fileName);
      const std::string since = written >= 0 ? ", waiting " + sinceText(written, now) : "";
      report = {RunOutcome::kNothingToDo, nameOf(fileName) + " not loaded by 1C yet" + since};
      if (waitedTooLong(written, now, stallHours)) {
        printError("import: " + fileName + " holds sales reports that 1C has not loaded" + since +
                   ", longer than stallHours=" + std::to_string(stallHours) +
                   " hours: see whether 1C still loads this register's reports; nothing asked, nothing changed");
        return kExitRunFailed;
      }
      printLine(" import: " + fileName + " holds sales reports that 1C has not loaded yet" + since +
                "; nothing asked, nothing changed");
      logText = "import skipped: exchange file not loaded yet";
      return kExitOk;
    }
    case ExchangeFileState::kForeign:
    case ExchangeFileState::kUnreadable:
      printError("exchange file " + fileName + " " + previous.reason + "; left as it is, nothing imported");
      return kExitRunFailed;
    default:
      return writeAndCommit(fileName, configFileName, query, format, previous, report);
  }
}

}  // namespace

std::string exportDataBeside(const std::string& fileName) {
  static constexpr std::string_view kImport = "ImportData";
  const std::string name = nameOf(fileName);
  const std::string rest = name.compare(0, kImport.size(), kImport) == 0 ? name.substr(kImport.size()) : ".xml";
  return folderOf(fileName) + "ExportData" + rest;
}

std::string bookmarkProblem(const std::string& value) {
  if (value == "0") return "";
  const std::int64_t instant = serviceInstant(value);
  if (instant < 0) return "is no date";
  if (instant / 1000 > platform::now() + kBookmarkAheadSeconds)
    return "lies more than a day ahead of this machine's clock (" + currentTimeText() + ")";
  return "";
}

CommitPlan planPendingCommit(const std::string& fileName, const PendingCommit& record, const std::string& recordedDocDT) {
  CommitPlan plan;
  const std::string temporary = folderOf(fileName) + record.file;
  long pid = 0;
  // Only a temporary file of this exchange file: a record written by hand
  // never makes the program rename some other file.
  const bool ours = isTemporaryNameOf(record.file, nameOf(fileName), pid);
  const ExchangeFileCheck exchange = inspectExchangeFile(fileName);
  const std::string recordedClosing = convertDateTimeTo1C(recordedDocDT);
  bool temporaryOfThatRun = ours && platform::isRegularFile(temporary);
  if (temporaryOfThatRun) {
    // Only the file that run wrote: an ImportData of ours whose last shift
    // closes at the lastDocDT it recorded. Anything planted under that name
    // is never put in the place of 1C's file.
    const ExchangeFileCheck written = inspectExchangeFile(temporary);
    temporaryOfThatRun = written.state == ExchangeFileState::kNotLoaded && !written.lastClosingDate.empty() &&
                         written.lastClosingDate == recordedClosing;
    plan.removeTemporary = true;
    plan.plantedTemporary = !temporaryOfThatRun;
  }
  if (temporaryOfThatRun) {
    // Its shifts go in when the exchange slot is free; otherwise the commit
    // is undone and they are written again.
    plan.step = exchange.replaceable() ? CommitPlan::Step::kFinish : CommitPlan::Step::kUndo;
    plan.removeTemporary = plan.step != CommitPlan::Step::kFinish;
    return plan;
  }
  const bool changed = fingerprintOf(fileName, exchange) != record.previousFile;
  const bool holdsIt = exchange.state == ExchangeFileState::kNotLoaded && !exchange.lastClosingDate.empty() &&
                       exchange.lastClosingDate == recordedClosing;
  plan.step = ours && changed && (holdsIt || exchange.state == ExchangeFileState::kProcessedStub)
                  ? CommitPlan::Step::kConfirm
                  : CommitPlan::Step::kUndo;
  return plan;
}

int runImport(const std::string& fileName, const Configuration& configuration, const DocumentQuery& query,
              RunReport* report) {
  std::string logText = "import success";
  RunReport done{RunOutcome::kFailed, "nothing imported"};
  const int result = importOnce(fileName, configuration, query, logText, done);
  if (report != nullptr) *report = done;
  if (result != kExitOk) logText = "import failed";
  debugDump("importLog.log", "", logText);
  return result;
}

int runImport(const std::string& fileName, const Configuration& configuration, RunReport* report) {
  // The service is logged in to only when there is something to ask; a
  // failed login is the first query's failure, so nothing is asked.
  bool loggedIn = false;
  return runImport(fileName, configuration,
                   [&loggedIn](const std::string& dateFrom, const std::string& dateTo, const std::string& kinds,
                               std::string& error) {
                     if (!loggedIn && !logIn(error)) return std::string();
                     loggedIn = true;
                     return getAllDocsByKind(dateFrom, dateTo, kinds, error);
                   },
                   report);
}
