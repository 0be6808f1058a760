#include "report/import_document.h"

#include <tinyxml2.h>

#include <cstring>

#include "files/text_file.h"
#include "files/kept_until_exit.h"
#include "report/xml_elements.h"

namespace {

// Prints the ImportData document one SaleReport at a time: the declaration
// and the opening tags before the first report, then each report as soon as
// it is finished (the shift walk then frees it), so that memory holds one
// shift at a time however many a run takes. The printer gets exactly the
// calls that printing the whole document makes, so the bytes are the same.
class ShiftByShiftPrinter {
 public:
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

}  // namespace

ExchangeFileCheck inspectExchangeFile(const std::string& fileName) {
  ExchangeFileCheck check;
  FileRead file = readFile(fileName);
  switch (file.status) {
    case FileStatus::kNotFound:
      check.state = ExchangeFileState::kMissing;
      return check;
    case FileStatus::kFailed:
      check.state = ExchangeFileState::kUnreadable;
      check.reason = "cannot be read: " + file.reason;
      return check;
    case FileStatus::kFound:
      break;
  }
  check.content = std::move(file.text);
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
    if (const tinyxml2::XMLElement* last = reports->LastChildElement("SaleReport")) {
      check.state = ExchangeFileState::kNotLoaded;
      const char* closing = last->Attribute("ClosingDate");
      check.lastClosingDate = closing ? closing : "";
    }
  }
  return check;
}

ImportDocumentResult writeImportDataXML(std::FILE* out, const DocumentQuery& query, ImportDataFormat format) {
  ImportDocumentResult result;
  // Left for the process's exit however the run ends: freeing a document of
  // hundreds of thousands of nodes one by one costs much of the time it took to build.
  KeptUntilExit<tinyxml2::XMLDocument> document;
  tinyxml2::XMLDocument& docOut = *document;
  tinyxml2::XMLElement* root = addImportDataRoot(docOut, format);
  ShiftByShiftPrinter printer(docOut, out);
  const auto sink = [&](tinyxml2::XMLElement& report, std::string&) {
    printer.add(report);
    return true;
  };
  const bool walked = processShiftIntervals(docOut, root, query, result.walk, format, sink);
  if (!walked) {
    result.outcome = ImportDocumentResult::Outcome::kFailed;
    result.error = result.walk.error;
    return result;
  }
  if (result.walk.reportCount == 0) {
    // The first shift holds a value 1C refuses: there is nothing to write.
    if (!result.walk.refusal.empty()) {
      result.outcome = ImportDocumentResult::Outcome::kFailed;
      result.error = result.walk.refusal;
    }
    return result;
  }
  printer.finish();
  result.outcome = ImportDocumentResult::Outcome::kWritten;
  return result;
}
