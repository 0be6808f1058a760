#include "app/export_run.h"

#include <tinyxml2.h>

#include <cstring>

#include "app/exit_codes.h"
#include "app/login.h"
#include "app/run_report.h"
#include "cloud/goods_upload.h"
#include "config/settings.h"
#include "files/atomic_file.h"
#include "files/messages.h"
#include "files/text_file.h"
#include "report/kept_until_exit.h"
#include "report/root_tag.h"
#include "text/date_time.h"

bool rootHasAttribute(std::string_view xml, const char* rootName, const char* attributeName) {
  tinyxml2::XMLDocument doc;
  const tinyxml2::XMLElement* root = parseRootStartTag(xml, doc);
  return root != nullptr && std::strcmp(root->Name(), rootName) == 0 && root->Attribute(attributeName) != nullptr;
}

StampResult setRootAttributeInFile(const std::string& filePath, const std::string& rootName,
                                   const std::string& attributeName, const std::string& value, std::string& error,
                                   const std::string* expectedFingerprint) {
  // However this ends, the parsed goods are left for the process's exit:
  // taking apart a catalogue of a million nodes costs more than reading it.
  KeptUntilExit<tinyxml2::XMLDocument> document;
  tinyxml2::XMLDocument& inputXMLDoc = *document;
  {
    FileRead file = readFile(filePath, kMaxGoodsFileBytes);
    if (file.status == FileStatus::kFailed) {
      error = "it cannot be read: " + file.reason;
      return StampResult::kNoSuchRoot;
    }
    if (expectedFingerprint != nullptr && (!file.found() || fileFingerprint(file.text) != *expectedFingerprint)) {
      error = "it changed after it was read";
      return StampResult::kChanged;
    }
    const std::string xmlConfig = textAsRead(std::move(file.text));
    inputXMLDoc.Parse(xmlConfig.c_str());
  }
  tinyxml2::XMLElement* root = inputXMLDoc.FirstChildElement(rootName.c_str());
  if (root == nullptr) {
    error = inputXMLDoc.Error() ? "it does not parse as XML" : "its root element is not " + rootName;
    return StampResult::kNoSuchRoot;
  }
  root->SetAttribute(attributeName.c_str(), value.c_str());
  AtomicFile out(filePath);
  if (!out.open(error)) return StampResult::kWriteFailed;
  if (inputXMLDoc.SaveFile(out.file(), false) != tinyxml2::XML_SUCCESS) {
    error = "writing the document failed";
    return StampResult::kWriteFailed;
  }
  return out.commit(error) ? StampResult::kStamped : StampResult::kWriteFailed;
}

int runExport(const std::string& fileName, RunReport* report) {
  RunReport ignored;
  RunReport& done = report ? *report : ignored;
  done = {RunOutcome::kFailed, "nothing sent"};
  printLine(" export ");
  FileRead goods = readFile(fileName, kMaxGoodsFileBytes);
  printLine("  fileName = " + fileName);
  if (goods.status == FileStatus::kFailed) {
    printError("export failed: the goods file " + fileName + " cannot be read: " + goods.reason + "; nothing was sent");
    return kExitRunFailed;
  }
  removeStaleTemporaries(fileName);
  // What is sent is what the file holds now; the stamp is for exactly these bytes.
  const std::string sentFingerprint = fileFingerprint(goods.text);
  std::string textXMLFromInputFile = textAsRead(std::move(goods.text));
  if (textXMLFromInputFile.empty()) {
    // An empty goods list must never replace the register's goods.
    printError("export failed: the goods file " + fileName + " is missing or empty; nothing was sent");
    return kExitRunFailed;
  }
  if (rootHasAttribute(textXMLFromInputFile, "ExportData", "Processed")) {
    printLine(" export: " + fileName + " is stamped Processed already, so 1C has written nothing new; nothing sent");
    done = {RunOutcome::kNothingToDo, nameOf(fileName) + " stamped Processed already"};
    return kExitOk;
  }

  logIn();
  std::string exportAnswer;
  std::string error;
  const std::string bytesSent = std::to_string(textXMLFromInputFile.size()) + " bytes of goods sent";
  const bool sent = send1CexportData(std::move(textXMLFromInputFile), exportAnswer, error);
  printLine("  export answer = " + exportAnswer);
  if (!sent) {
    printError("export failed: " + error + "; " + fileName + " left unchanged");
    return kExitRunFailed;
  }
  std::string().swap(exportAnswer);
  done = {RunOutcome::kOk, bytesSent + ", not stamped"};

  const std::string stamp = convertDateTimeTo1C(currentTimeText());
  switch (setRootAttributeInFile(fileName, "ExportData", "Processed", stamp, error, &sentFingerprint)) {
    case StampResult::kStamped:
      done.did = bytesSent + " and stamped";
      return kExitOk;
    case StampResult::kChanged:
      done.did = bytesSent + "; the file changed meanwhile and is left for the next run";
      printLine(" export: " + fileName + " changed during the upload (1C wrote a new one); it is left unstamped, " +
                "for the next run to send");
      return kExitOk;
    case StampResult::kNoSuchRoot:
      // Not a goods file of 1C's: it was sent as it stands and is left alone.
      printError("export: " + fileName + " was sent but not stamped Processed: " + error);
      return kExitOk;
    case StampResult::kWriteFailed:
      break;
  }
  printError("export: the goods were sent, but " + fileName + " could not be stamped Processed: " + error);
  done.outcome = RunOutcome::kFailed;
  return kExitRunFailed;
}
