#include "app/import_run.h"

#include "app/exit_codes.h"
#include "cloud/document_query.h"
#include "config/config_file.h"
#include "config/debug_dump.h"
#include "config/settings.h"
#include "files/atomic_file.h"
#include "files/messages.h"
#include "files/text_file.h"
#include "platform/platform.h"
#include "report/import_document.h"

namespace {

// Takes back a saved exchange file whose shifts could not be booked in the
// configuration: 1C must not load shifts that the next run reports again.
// The file is put back as it was before the run (removed when there was
// none), unless it has changed meanwhile: then 1C has taken it already.
void undoExchangeFile(const std::string& xmlFileName, const ExchangeFileCheck& previous) {
  if (inspectExchangeFile(xmlFileName).state != ExchangeFileState::kNotLoaded) {
    printError(xmlFileName + " changed after it was written and is left as it is; the next run reports its shifts again");
    return;
  }
  std::string error;
  bool undone;
  if (previous.state == ExchangeFileState::kMissing) {
    undone = platform::removeFile(xmlFileName);
    if (!undone) error = platform::lastErrorText();
  } else {
    undone = writeFileAtomically(xmlFileName, previous.content, error);
  }
  if (undone) {
    printError("import undone: " + xmlFileName +
               (previous.state == ExchangeFileState::kMissing ? " removed" : " put back as it was") +
               "; the next run reports the same shifts");
  } else {
    printError("cannot take back " + xmlFileName + ": " + error +
               "; once 1C has loaded it, the next run reports its shifts again");
  }
}

int writeAndBook(const std::string& fileName, const std::string& configFileName, const DocumentQuery& query,
                 const ExchangeFileCheck& previous) {
  AtomicFile out(fileName);
  std::string error;
  if (!out.open(error)) {
    printError("cannot write exchange file " + fileName + ": " + error + "; lastDocDT unchanged");
    return kExitRunFailed;
  }
  const ImportDocumentResult built = writeImportDataXML(out.file(), query);
  const ShiftWalkResult& walk = built.walk;
  switch (built.outcome) {
    case ImportDocumentResult::Outcome::kFailed:
      printError("import stopped, " + fileName + " not written and lastDocDT unchanged: " + built.error);
      return kExitRunFailed;
    case ImportDocumentResult::Outcome::kNothingNew:
      // An ImportData without any SaleReport is no file 1C can load, and it
      // would replace what 1C left in its place.
      printLine(" import: no closed shift since \"" + lastDocDT + "\", nothing new; " + fileName + " not written");
      return kExitOk;
    case ImportDocumentResult::Outcome::kWritten:
      break;
  }
  if (!out.finish(error)) {
    printError("cannot write exchange file " + fileName + ": " + error + "; lastDocDT unchanged");
    return kExitRunFailed;
  }
  if (debugOn()) {
    // What was written, read back: the file itself is printed the same way in every mode.
    debugDump("importfile.log", "", "try to save XML to " + fileName);
    debugDump("importfile.log", "", readFile(out.temporaryPath()).text);
  }
  if (!out.replaceTarget(error)) {
    printError("cannot write exchange file " + fileName + ": " + error + "; lastDocDT unchanged");
    return kExitRunFailed;
  }
  for (const std::string& line : built.rejected)
    printWarning(fileName + ": " + line + "; 1C refuses a file with such values");

  // The shifts count as reported only once the file holding them is saved.
  bool booked;
  if (walk.lastClosingDate.empty()) {
    printError("the last reported shift closing has no date, so lastDocDT in " + configFileName +
               " cannot move past it");
    booked = false;
  } else {
    booked = saveLastShiftCloseDate(walk.lastClosingDate, configFileName, error);
    if (!booked) printError(error);
  }
  if (!booked) {
    undoExchangeFile(fileName, previous);
    return kExitRunFailed;
  }
  printLine(" import: " + std::to_string(walk.reportCount) + " sales report(s) with " +
            std::to_string(walk.checkCount) + " check(s) written to " + fileName + ", lastDocDT " +
            walk.lastClosingDate);
  if (walk.shiftsLeft > 0) {
    printLine(" import: " + std::to_string(walk.shiftsLeft) + " closed shift(s) left for the next run (a run takes " +
              "shifts until its file holds " + std::to_string(kMaxChecksPerRun) + " checks)");
  }
  return kExitOk;
}

}  // namespace

int runImport(const std::string& fileName, const std::string& configFileName, const DocumentQuery& query) {
  const ExchangeFileCheck previous = inspectExchangeFile(fileName);
  int result = kExitOk;
  std::string logText = "import success";
  switch (previous.state) {
    case ExchangeFileState::kNotLoaded:
      printLine(" import: " + fileName + " holds sales reports that 1C has not loaded yet; nothing asked, nothing changed");
      logText = "import skipped: exchange file not loaded yet";
      break;
    case ExchangeFileState::kForeign:
    case ExchangeFileState::kUnreadable:
      printError("exchange file " + fileName + " " + previous.reason + "; left as it is, nothing imported");
      result = kExitRunFailed;
      break;
    default:
      if (!readImportParams(configFileName)) {
        printError("cannot read config/importparams/import from " + configFileName + "; nothing imported");
        result = kExitRunFailed;
      } else {
        result = writeAndBook(fileName, configFileName, query, previous);
      }
      break;
  }
  if (result != kExitOk) logText = "import failed";
  debugDump("importLog.log", "", logText);
  return result;
}

int runImport(const std::string& fileName, const std::string& configFileName) {
  return runImport(fileName, configFileName, getAllDocsByKind);
}
