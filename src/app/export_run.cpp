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
#include "files/paths.h"
#include "files/root_tag.h"
#include "files/text_file.h"
#include "text/date_time.h"

bool rootHasAttribute(std::string_view xml, const char* rootName, const char* attributeName) {
  tinyxml2::XMLDocument doc;
  const tinyxml2::XMLElement* root = parseRootStartTag(xml, doc);
  return root != nullptr && std::strcmp(root->Name(), rootName) == 0 && root->Attribute(attributeName) != nullptr;
}

namespace {

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Whether `bytes`, whose root start tag ends at `tagEnd`, goes on to the
// root's end tag and ends there (white space, comments and processing
// instructions aside): a file cut short is no whole document and is not
// stamped.
bool endsWithTheRoot(std::string_view bytes, std::size_t tagEnd, const std::string& rootName) {
  std::string_view rest = bytes.substr(tagEnd + 1);
  while (true) {
    while (!rest.empty() && isXmlSpace(rest.back())) rest.remove_suffix(1);
    const bool comment = rest.size() >= 3 && rest.compare(rest.size() - 3, 3, "-->") == 0;
    const bool instruction = rest.size() >= 2 && rest.compare(rest.size() - 2, 2, "?>") == 0;
    if (!comment && !instruction) break;
    const std::size_t open = rest.rfind(comment ? "<!--" : "<?");
    if (open == std::string_view::npos) return false;
    rest = rest.substr(0, open);
  }
  if (bytes[tagEnd - 1] == '/') return rest.empty();  // <Root .../>
  if (rest.empty() || rest.back() != '>') return false;
  rest.remove_suffix(1);
  while (!rest.empty() && isXmlSpace(rest.back())) rest.remove_suffix(1);
  const std::string endTag = "</" + rootName;
  return rest.size() >= endTag.size() && rest.compare(rest.size() - endTag.size(), endTag.size(), endTag) == 0;
}

}  // namespace

StampResult setRootAttributeInFile(const std::string& filePath, const std::string& rootName,
                                   const std::string& attributeName, const std::string& value, std::string& error,
                                   const std::string& expectedFingerprint) {
  FileRead file = readFile(filePath, kMaxGoodsFileBytes);
  if (file.status == FileStatus::kFailed) {
    error = "it cannot be read: " + file.reason;
    return StampResult::kNoSuchRoot;
  }
  if (!file.found() || fileFingerprint(file.text) != expectedFingerprint) {
    error = "it changed after it was read";
    return StampResult::kChanged;
  }
  // Only the root's start tag is rewritten (by the XML library, the
  // attribute set in place or appended); every other byte of the file is
  // written back as it stands, so that stamping a catalogue takes no more
  // memory than its bytes.
  const std::string& bytes = file.text;
  std::size_t start = 0;
  std::size_t end = 0;
  tinyxml2::XMLDocument tag;
  tinyxml2::XMLElement* root =
      findRootStartTag(bytes, start, end) ? const_cast<tinyxml2::XMLElement*>(parseRootStartTag(bytes, tag)) : nullptr;
  if (root == nullptr) {
    error = "it does not parse as XML";
    return StampResult::kNoSuchRoot;
  }
  if (rootName != root->Name()) {
    error = "its root element is not " + rootName;
    return StampResult::kNoSuchRoot;
  }
  if (!endsWithTheRoot(bytes, end, rootName)) {
    error = "it does not end with the end of its " + rootName + " element, so it is not whole";
    return StampResult::kNoSuchRoot;
  }
  root->SetAttribute(attributeName.c_str(), value.c_str());
  tinyxml2::XMLPrinter printer(nullptr, true);
  root->Accept(&printer);
  std::string newTag(printer.CStr(), static_cast<std::size_t>(printer.CStrSize() - 1));  // "<Root .../>"
  if (bytes[end - 1] != '/' && newTag.size() >= 2) newTag.replace(newTag.size() - 2, 2, ">");

  AtomicFile out(filePath);
  if (!out.open(error)) return StampResult::kWriteFailed;
  const std::string_view all(bytes);
  for (const std::string_view piece : {all.substr(0, start), std::string_view(newTag), all.substr(end + 1)}) {
    if (!piece.empty() && std::fwrite(piece.data(), 1, piece.size(), out.file()) != piece.size()) {
      error = "writing " + out.temporaryPath() + " failed";
      return StampResult::kWriteFailed;
    }
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

  std::string error;
  if (!logIn(error)) {
    printError("export failed: " + error + "; nothing was sent, " + fileName + " left unchanged");
    return kExitRunFailed;
  }
  std::string exportAnswer;
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
  switch (setRootAttributeInFile(fileName, "ExportData", "Processed", stamp, error, sentFingerprint)) {
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
