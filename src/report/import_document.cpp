#include "report/import_document.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/entry_point.h"
#include "config/config_file.h"
#include "config/settings.h"
#include "files/console.h"
#include "files/log.h"
#include "files/platform.h"
#include "files/release_at_exit.h"
#include "files/text_file.h"
#include "report/rejected_values.h"

namespace {

// Prints the ImportData document one SaleReport at a time: the declaration
// and the opening tags before the first report, then each report as soon as
// it is finished (the shift walk then frees it), so that memory holds one
// shift at a time however many a run takes. The printer gets exactly the
// calls that printing the whole document makes, so the bytes are the same.
class ShiftByShiftPrinter {
 public:
  // Prints into `file`, or into memory when `file` is null.
  ShiftByShiftPrinter(tinyxml2::XMLDocument& doc, std::FILE* file) : doc_(doc), printer_(file, false, 0) {}

  void add(tinyxml2::XMLElement& saleReport) {
    if (saleReports_ == nullptr) open(saleReport);
    saleReport.Accept(&printer_);
  }

  // Closes the tags left open; nothing to do when no report came.
  void finish() {
    if (saleReports_ == nullptr) return;
    printer_.VisitExit(*saleReports_);
    printer_.VisitExit(*importData_);
    printer_.VisitExit(doc_);
  }

  // What was printed into memory.
  std::string text() const {
    const int size = printer_.CStrSize();  // counts the terminating zero
    return size > 1 ? std::string(printer_.CStr(), static_cast<std::size_t>(size - 1)) : std::string();
  }

 private:
  // Prints every node in front of the first report, entering the elements that hold it.
  void open(const tinyxml2::XMLElement& firstReport) {
    saleReports_ = firstReport.Parent()->ToElement();
    importData_ = saleReports_->Parent()->ToElement();
    printer_.VisitEnter(doc_);
    printUpTo(doc_.FirstChild(), importData_);
    printer_.VisitEnter(*importData_, importData_->FirstAttribute());
    printUpTo(importData_->FirstChild(), saleReports_);
    printer_.VisitEnter(*saleReports_, saleReports_->FirstAttribute());
    printUpTo(saleReports_->FirstChild(), &firstReport);
  }

  void printUpTo(const tinyxml2::XMLNode* node, const tinyxml2::XMLNode* stop) {
    for (; node != nullptr && node != stop; node = node->NextSibling()) node->Accept(&printer_);
  }

  tinyxml2::XMLDocument& doc_;
  tinyxml2::XMLPrinter printer_;
  const tinyxml2::XMLElement* importData_ = nullptr;
  const tinyxml2::XMLElement* saleReports_ = nullptr;
};

// Takes back a saved exchange file whose shifts could not be booked in the
// configuration: 1C must not load shifts that the next run reports again.
// The file is put back as it was before the run (removed when there was
// none), unless it has changed meanwhile: then 1C has taken it already.
void undoExchangeFile(const std::string& xmlFileName, const ExchangeFileCheck& previous) {
  if (inspectExchangeFile(xmlFileName).state != ExchangeFileState::kNotLoaded) {
    printErrorLine("kkmbridge: " + xmlFileName +
                   " changed after it was written and is left as it is; the next run reports its shifts again");
    return;
  }
  std::string error;
  bool undone;
  if (previous.state == ExchangeFileState::kMissing) {
    undone = std::remove(xmlFileName.c_str()) == 0;
    if (!undone) error = platform::lastErrorText();
  } else {
    const std::string& content = previous.content;
    undone = writeFileAtomically(
        xmlFileName,
        [&content](std::FILE* out) { return std::fwrite(content.data(), 1, content.size(), out) == content.size(); },
        error);
  }
  if (undone) {
    printErrorLine("kkmbridge: import undone: " + xmlFileName +
                   (previous.state == ExchangeFileState::kMissing ? " removed" : " put back as it was") +
                   "; the next run reports the same shifts");
  } else {
    printErrorLine("kkmbridge: cannot take back " + xmlFileName + ": " + error +
                   "; once 1C has loaded it, the next run reports its shifts again");
  }
}

}  // namespace

tinyxml2::XMLElement* addElementWithText(tinyxml2::XMLDocument& doc, tinyxml2::XMLNode* parent, const char* name,
                                         const std::string& text) {
  tinyxml2::XMLElement* element = doc.NewElement(name);
  element->InsertFirstChild(doc.NewText(text.c_str()));
  parent->InsertEndChild(element);
  return element;
}

tinyxml2::XMLElement* addElementWithAttribute(tinyxml2::XMLDocument& doc, tinyxml2::XMLNode* parent, const char* name,
                                              const char* attributeName, const std::string& value) {
  tinyxml2::XMLElement* element = doc.NewElement(name);
  element->SetAttribute(attributeName, value.c_str());
  parent->InsertEndChild(element);
  return element;
}

tinyxml2::XMLElement* addRootElementWithText(tinyxml2::XMLDocument& doc, const char* name, const std::string& text) {
  return addElementWithText(doc, &doc, name, text);
}

tinyxml2::XMLElement* addImportDataRoot(tinyxml2::XMLDocument& doc) {
  doc.InsertEndChild(doc.NewDeclaration());
  tinyxml2::XMLElement* root = addRootElementWithText(doc, "ImportData", "");
  root->SetAttribute("xmlns", kImportDataNamespace);
  root->SetAttribute("xmlns:xs", kXmlSchemaNamespace);
  root->SetAttribute("xmlns:xsi", kXmlSchemaInstanceNamespace);
  root->SetAttribute("FormatVersion", kImportDataFormatVersion);
  return root;
}

std::string xmlToString(const tinyxml2::XMLNode& node) {
  tinyxml2::XMLPrinter printer(nullptr, false, 0);
  node.Accept(&printer);
  // CStrSize counts the terminating zero.
  const int size = printer.CStrSize();
  return size > 1 ? std::string(printer.CStr(), static_cast<std::size_t>(size - 1)) : std::string();
}

ExchangeFileCheck inspectExchangeFile(const std::string& fileName) {
  ExchangeFileCheck check;
  errno = 0;
  std::FILE* in = platform::openForReading(fileName);
  if (in == nullptr) {
    if (errno == ENOENT) {
      check.state = ExchangeFileState::kMissing;
    } else {
      check.state = ExchangeFileState::kUnreadable;
      check.reason = "cannot be read: " + platform::lastErrorText();
    }
    return check;
  }
  char buffer[64 * 1024];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) check.content.append(buffer, got);
  const bool readFailed = std::ferror(in) != 0;
  const std::string readError = readFailed ? platform::lastErrorText() : std::string();
  std::fclose(in);
  if (readFailed) {
    check.state = ExchangeFileState::kUnreadable;
    check.reason = "cannot be read: " + readError;
    return check;
  }
  if (check.content.empty()) {
    check.state = ExchangeFileState::kEmpty;
    return check;
  }

  tinyxml2::XMLDocument doc;
  if (doc.Parse(check.content.data(), check.content.size()) != tinyxml2::XML_SUCCESS) {
    check.state = ExchangeFileState::kForeign;
    check.reason = std::string("is not XML (") + doc.ErrorName() + " at line " + std::to_string(doc.ErrorLineNum()) +
                   ")";
    return check;
  }
  const tinyxml2::XMLElement* root = doc.RootElement();
  if (root == nullptr) {
    check.state = ExchangeFileState::kForeign;
    check.reason = "holds no XML element";
    return check;
  }
  if (std::strcmp(root->Name(), "ImportData") != 0) {
    check.state = ExchangeFileState::kForeign;
    check.reason = std::string("has the root element ") + root->Name() + ", not ImportData";
    return check;
  }
  if (root->Attribute("Processed") != nullptr) {
    check.state = ExchangeFileState::kProcessedStub;
    return check;
  }
  check.state = ExchangeFileState::kNoSaleReport;
  for (const tinyxml2::XMLElement* reports = root->FirstChildElement("SaleReports"); reports;
       reports = reports->NextSiblingElement("SaleReports")) {
    if (reports->FirstChildElement("SaleReport") != nullptr) check.state = ExchangeFileState::kNotLoaded;
  }
  return check;
}

int writeImportDataXML(const std::string& xmlFileName, const std::string& configFileName, const DocumentQuery& query,
                       const ExchangeFileCheck& previous) {
  // However the run ends, the document is left for the process's exit.
  KeptUntilExit<tinyxml2::XMLDocument> document;
  tinyxml2::XMLDocument& docOut = *document;
  tinyxml2::XMLElement* root = addImportDataRoot(docOut);

  ShiftWalkResult walk;
  bool walked = false;
  std::vector<std::string> rejected;
  std::string error;
  const bool saved = writeFileAtomically(
      xmlFileName,
      [&](std::FILE* out) {
        // In debug mode the text is printed into memory: the log needs it whole.
        ShiftByShiftPrinter printer(docOut, debugmode == 1 ? nullptr : out);
        walked = processShiftIntervals(docOut, root, query, walk, [&](tinyxml2::XMLElement& report, std::string&) {
          listRejectedValuesOfShift(report, rejected);
          printer.add(report);
          return true;
        });
        if (!walked || walk.reportCount == 0) return false;  // nothing to keep
        printer.finish();
        if (debugmode != 1) return true;
        const std::string xmlOut = printer.text();
        writeLog("importfile.log", "try to save XML to " + xmlFileName);
        writeLog("importfile.log", xmlOut);
        return std::fwrite(xmlOut.data(), 1, xmlOut.size(), out) == xmlOut.size();
      },
      error);

  if (!walk.error.empty()) {
    printErrorLine("kkmbridge: import stopped, " + xmlFileName + " not written and lastDocDT unchanged: " + walk.error);
    return kExitRunFailed;
  }
  if (walked && walk.reportCount == 0) {
    // An ImportData without any SaleReport is no file 1C can load, and it
    // would replace what 1C left in its place.
    printLine(" import: no closed shift since \"" + lastDocDT + "\", nothing new; " + xmlFileName + " not written");
    return kExitOk;
  }
  if (!saved) {
    printErrorLine("kkmbridge: cannot write exchange file " + xmlFileName + ": " + error + "; lastDocDT unchanged");
    return kExitRunFailed;
  }
  for (const std::string& line : rejected)
    printErrorLine("kkmbridge: warning: " + xmlFileName + ": " + line + "; 1C refuses a file with such values");

  // The shifts count as reported only once the file holding them is saved.
  bool booked;
  if (walk.lastClosingDate.empty()) {
    printErrorLine("kkmbridge: the last reported shift closing has no date, so lastDocDT in " + configFileName +
                   " cannot move past it");
    booked = false;
  } else {
    booked = saveLastShiftCloseDate(walk.lastClosingDate, configFileName);  // reports its own failure
  }
  if (!booked) {
    undoExchangeFile(xmlFileName, previous);
    return kExitRunFailed;
  }
  printLine(" import: " + std::to_string(walk.reportCount) + " sales report(s) with " +
            std::to_string(walk.checkCount) + " check(s) written to " + xmlFileName + ", lastDocDT " +
            walk.lastClosingDate);
  if (walk.shiftsLeft > 0) {
    printLine(" import: " + std::to_string(walk.shiftsLeft) + " closed shift(s) left for the next run (a run takes " +
              "shifts until its file holds " + std::to_string(kMaxChecksPerRun) + " checks)");
  }
  return kExitOk;
}

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
      printErrorLine("kkmbridge: exchange file " + fileName + " " + previous.reason + "; left as it is, nothing imported");
      result = kExitRunFailed;
      break;
    default:
      if (!readImportParams(configFileName)) {
        printErrorLine("kkmbridge: cannot read config/importparams/import from " + configFileName +
                       "; nothing imported");
        result = kExitRunFailed;
      } else {
        result = writeImportDataXML(fileName, configFileName, query, previous);
      }
      break;
  }
  if (result != kExitOk) logText = "import failed";
  if (debugmode == 1) writeLog("importLog.log", logText);
  return result;
}
