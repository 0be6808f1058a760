#include "app/export_run.h"

#include <tinyxml2.h>

#include <memory>

#include "app/entry_point.h"
#include "cloud/goods_upload.h"
#include "cloud/http_transport.h"
#include "config/settings.h"
#include "files/console.h"
#include "files/release_at_exit.h"
#include "files/text_file.h"
#include "text/date_time.h"

StampResult setRootAttributeInFile(const std::string& filePath, const std::string& rootName,
                                   const std::string& attributeName, const std::string& value, std::string& error) {
  // However this ends, the parsed goods are left for the process's exit.
  KeptUntilExit<tinyxml2::XMLDocument> document;
  tinyxml2::XMLDocument& inputXMLDoc = *document;
  {
    const std::string xmlConfig = readTextFile(filePath);
    inputXMLDoc.Parse(xmlConfig.c_str());
  }
  tinyxml2::XMLElement* root = inputXMLDoc.FirstChildElement(rootName.c_str());
  if (root == nullptr) {
    error = inputXMLDoc.Error() ? "it does not parse as XML" : "its root element is not " + rootName;
    return StampResult::kNoSuchRoot;
  }
  root->SetAttribute(attributeName.c_str(), value.c_str());
  const bool saved = writeFileAtomically(
      filePath, [&inputXMLDoc](std::FILE* out) { return inputXMLDoc.SaveFile(out, false) == tinyxml2::XML_SUCCESS; },
      error);
  return saved ? StampResult::kStamped : StampResult::kWriteFailed;
}

int runExport(const std::string& fileName) {
  printLine(" export ");
  std::string textXMLFromInputFile = readTextFile(fileName);
  printLine("  fileName = " + fileName);
  if (textXMLFromInputFile.empty()) {
    // An empty goods list must never replace the register's goods.
    printErrorLine(" export failed: the goods file " + fileName + " is missing or empty; nothing was sent");
    return kExitRunFailed;
  }

  std::string exportAnswer;
  const bool sent = send1CexportData(std::move(textXMLFromInputFile), exportAnswer);
  printLine("  export answer = " + exportAnswer);
  if (!sent) {
    printErrorLine(" export failed: upload to " + basicURL + "WebDataPackPost: " + lastRequestFailureText() + "; " +
                   fileName + " left unchanged");
    return kExitRunFailed;
  }
  std::string().swap(exportAnswer);

  const std::string stamp = convertDateTimeTo1C(currentTimeText());
  std::string error;
  switch (setRootAttributeInFile(fileName, "ExportData", "Processed", stamp, error)) {
    case StampResult::kStamped:
      return kExitOk;
    case StampResult::kNoSuchRoot:
      // Not a goods file of 1C's: it was sent as it stands and is left alone.
      printErrorLine(" export: " + fileName + " was sent but not stamped Processed: " + error);
      return kExitOk;
    case StampResult::kWriteFailed:
      break;
  }
  printErrorLine(" export: the goods were sent, but " + fileName + " could not be stamped Processed: " + error);
  return kExitRunFailed;
}
