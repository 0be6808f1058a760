#include "cloud/document_query.h"

#include "cloud/http_transport.h"
#include "cloud/session.h"
#include "config/settings.h"
#include "config/debug_dump.h"
#include "text/date_time.h"
#include "text/escaping.h"

namespace {

bool isJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void appendJsonString(std::string& out, std::string_view value) {
  out += '"';
  appendJsonEscaped(out, value);
  out += '"';
}

}  // namespace

// An answer cut short inside the list, one without the list (an error
// document) or one that is no JSON object at all is no list of documents:
// taking it for one would report a shift without its checks and move past it
// for good.
bool findKkmDocs(std::string_view answer, std::string_view& docs, std::string& reason) {
  static constexpr std::string_view kKey = "\"kkmDocs\"";
  std::size_t first = 0;
  while (first < answer.size() && isJsonSpace(answer[first])) ++first;
  if (first >= answer.size() || answer[first] != '{') {
    reason = "the answer is not a JSON object";
    return false;
  }
  std::size_t pos = answer.find(kKey);
  if (pos != std::string_view::npos) {
    pos += kKey.size();
    while (pos < answer.size() && isJsonSpace(answer[pos])) ++pos;
    if (pos < answer.size() && answer[pos] == ':') {
      ++pos;
      while (pos < answer.size() && isJsonSpace(answer[pos])) ++pos;
    } else {
      pos = std::string_view::npos;
    }
  }
  if (pos == std::string_view::npos || pos >= answer.size() || answer[pos] != '[') {
    reason = "the answer holds no kkmDocs list";
    return false;
  }
  const std::size_t start = pos + 1;
  std::size_t end = answer.size();
  while (end > start && (isJsonSpace(answer[end - 1]) || answer[end - 1] == '}')) --end;
  if (end <= start || answer[end - 1] != ']') {
    reason = "the answer ends inside its kkmDocs list (cut short?)";
    return false;
  }
  docs = answer.substr(start, end - 1 - start);
  return true;
}

namespace {

// The first bytes of `answer` as one line: control bytes written \xNN.
std::string answerQuote(std::string_view answer) {
  static constexpr std::size_t kQuoted = 100;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string quote;
  for (const char ch : answer.substr(0, kQuoted)) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      quote += "\\x";
      quote += kHex[c >> 4];
      quote += kHex[c & 0xF];
    } else {
      quote += ch;
    }
  }
  return quote;
}

}  // namespace

std::string extractKkmDocs(std::string_view answer) {
  std::string_view docs;
  std::string reason;
  return findKkmDocs(answer, docs, reason) ? std::string(docs) : std::string();
}

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
  sendPostRequest(url, "", outputJSON, kConnectTimeoutSeconds, kTransferTimeLimitSeconds, &outcome);
  std::string answer = takeServiceAnswer();

  std::string failure = outcome.failureText();
  std::string_view docs;
  if (failure.empty() && !findKkmDocs(answer, docs, failure)) failure += "; it begins: \"" + answerQuote(answer) + "\"";
  error.clear();
  if (!failure.empty())
    error = "document query for kinds " + kinds + " from " + dateFrom + " to " + dateTo + " at " + url +
            " failed: " + failure;

  static const std::string kDump = "getAllDocsByKindJSONAnswer.json";
  debugDump(kDump, "---------------outputJSON------------", outputJSON);
  debugDump(kDump, "---------------full answer------------", answer);
  if (!error.empty()) {
    debugDump(kDump, "---------------docsAnswer------------", "");
    return "";
  }
  // The documents are cut out of the answer in place: a backlog's answer
  // can be tens of megabytes.
  const std::size_t start = static_cast<std::size_t>(docs.data() - answer.data());
  answer.erase(start + docs.size());
  answer.erase(0, start);
  debugDump(kDump, "---------------docsAnswer------------", answer);
  return answer;
}
