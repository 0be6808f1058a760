#include "cloud/goods_upload.h"

#include "cloud/http_transport.h"
#include "cloud/session.h"
#include "config/settings.h"
#include "files/console.h"
#include "files/log.h"
#include "text/escaping.h"

bool send1CexportData(std::string textXML, std::string& exportAnswer) {
  static constexpr std::string_view kOpen = " \"params\": { \"ext\": { \"import1cXmlTovars\": \"";
  static constexpr std::string_view kClose = "\"}}}";
  std::string outputJSON = makeSessionEnvelope();
  outputJSON.reserve(outputJSON.size() + kOpen.size() + textXML.size() + textXML.size() / 16 + kClose.size());
  outputJSON += kOpen;
  appendJsonEscaped(outputJSON, textXML);
  outputJSON += kClose;
  // The body now holds the goods: the text itself is no longer needed.
  std::string().swap(textXML);

  sendPostRequest(basicURL + "WebDataPackPost", "", outputJSON, 10, 60);
  exportAnswer = std::move(serviceAnswer);
  serviceAnswer.clear();
  const bool succeeded = lastRequestSucceeded();

  if (debugmode == 1) {
    writeLog("exportLog.log", outputJSON);
    writeLog("exportLog.log", "answer: " + exportAnswer);
    printLine(" send1CexportData answer " + exportAnswer);
  }
  return succeeded;
}
