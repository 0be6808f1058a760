#include "cloud/goods_upload.h"

#include "cloud/http_transport.h"
#include "cloud/session.h"
#include "config/settings.h"
#include "files/debug_dump.h"
#include "files/messages.h"
#include "text/escaping.h"

bool send1CexportData(std::string textXML, std::string& exportAnswer, std::string& error) {
  static constexpr std::string_view kOpen = " \"params\": { \"ext\": { \"import1cXmlTovars\": \"";
  static constexpr std::string_view kClose = "\"}}}";
  std::string outputJSON = makeSessionEnvelope();
  outputJSON.reserve(outputJSON.size() + kOpen.size() + textXML.size() + textXML.size() / 16 + kClose.size());
  outputJSON += kOpen;
  appendJsonEscaped(outputJSON, textXML, Tabs::kDrop);
  outputJSON += kClose;
  // The body now holds the goods: the text itself is no longer needed.
  std::string().swap(textXML);

  const std::string url = basicURL + "WebDataPackPost";
  RequestOutcome outcome;
  sendPostRequest(url, "", outputJSON, kConnectTimeoutSeconds, kTransferTimeLimitSeconds, outcome);
  exportAnswer = takeServiceAnswer();

  if (debugOn()) {
    debugDump("exportLog.log", "", outputJSON);
    debugDump("exportLog.log", "", "answer: " + exportAnswer);
    printLine(" send1CexportData answer " + exportAnswer);
  }

  error.clear();
  if (!outcome.succeeded()) error = "upload to " + url + " failed: " + outcome.failureText();
  return error.empty();
}
