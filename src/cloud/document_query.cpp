#include "cloud/document_query.h"

#include "cloud/http_transport.h"
#include "cloud/session.h"
#include "config/settings.h"
#include "config/debug_dump.h"
#include "text/date_time.h"
#include "text/escaping.h"

namespace {

// A service answer is one JSON object. Text that does not open and close
// like one (an error page, an answer cut short) is no answer at all, not an
// empty document list: taking it for one would report a shift without its
// checks and move past it for good.
bool looksLikeJsonObject(std::string_view answer) {
  const std::size_t first = answer.find_first_not_of(" \t\r\n");
  const std::size_t last = answer.find_last_not_of(" \t\r\n");
  return first != std::string_view::npos && answer[first] == '{' && answer[last] == '}';
}

void appendJsonString(std::string& out, std::string_view value) {
  out += '"';
  appendJsonEscaped(out, value);
  out += '"';
}

// The part of `answer` that extractKkmDocs returns; an empty view at the
// answer's start when there is no "kkmDocs":[ marker.
std::string_view kkmDocsOf(std::string_view answer) {
  static constexpr std::string_view kMarker = "\"kkmDocs\":[";
  const std::size_t markerPos = answer.find(kMarker);
  if (markerPos == std::string_view::npos) return answer.substr(0, 0);
  const std::size_t start = markerPos + kMarker.size();
  const std::size_t rest = answer.size() - start;
  // The array's ] and the two braces that close the answer are dropped.
  return answer.substr(start, rest >= 3 ? rest - 3 : rest);
}

}  // namespace

std::string extractKkmDocs(std::string_view answer) { return std::string(kkmDocsOf(answer)); }

std::string getAllDocsByKind(const std::string& dateFrom, const std::string& dateTo, const std::string& kinds,
                             std::string& error) {
  std::string outputJSON = makeSessionEnvelope();
  const std::string commandDt = currentTimeText();
  const std::string commandId = "command" + commandDt;
  const std::string& serialNumber = kkmNum;

  // Every value is escaped, so the command is always sent whole.
  std::string documentCommand = "{\"commandId\":";
  appendJsonString(documentCommand, commandId);
  documentCommand += ", \"commandDt\":";
  appendJsonString(documentCommand, commandDt);
  documentCommand += ", \"dateFrom\":";
  appendJsonString(documentCommand, dateFrom);
  documentCommand += ", \"dateTo\":";
  appendJsonString(documentCommand, dateTo);
  documentCommand += ", \"serialNumbers\":[";
  appendJsonString(documentCommand, serialNumber);
  documentCommand += "], \"kinds\":[";
  documentCommand += kinds;  // a list of kind numbers, written without quotes
  documentCommand += "] , \"sortBy\":\"docNo, docDt\"}";

  outputJSON += "\"params\": { \"ext\": {\"getDocumentsCommands\": [";
  outputJSON += documentCommand;
  outputJSON += "]}}}";

  const std::string url = basicURL + "WebDataPackPost";
  RequestOutcome outcome;
  sendPostRequest(url, "", outputJSON, 10, 600, &outcome);
  std::string answer = takeServiceAnswer();

  std::string failure = outcome.failureText();
  if (failure.empty() && !looksLikeJsonObject(answer)) failure = "the answer is not a JSON object";
  error.clear();
  if (!failure.empty())
    error = "document query for kinds " + kinds + " from " + dateFrom + " to " + dateTo + " at " + url +
            " failed: " + failure;

  static const std::string kDump = "getAllDocsByKindJSONAnswer.json";
  debugDump(kDump, "---------------outputJSON------------", outputJSON);
  debugDump(kDump, "---------------full answer------------", answer);
  // The documents are cut out of the answer in place: a backlog's answer
  // can be tens of megabytes.
  const std::string_view docs = kkmDocsOf(answer);
  const std::size_t start = static_cast<std::size_t>(docs.data() - answer.data());
  answer.erase(start + docs.size());
  answer.erase(0, start);
  debugDump(kDump, "---------------docsAnswer------------", answer);
  return answer;
}
