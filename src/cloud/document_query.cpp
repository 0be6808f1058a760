#include "cloud/document_query.h"

#include <nlohmann/json.hpp>

#include <vector>

#include "cloud/http_transport.h"
#include "cloud/session.h"
#include "config/settings.h"
#include "files/debug_dump.h"
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

namespace {

// The end of the JSON string whose opening quote is at `quote` (the position
// of its closing quote), in a well-formed text.
std::size_t stringEnd(std::string_view text, std::size_t quote) {
  std::size_t i = text.find_first_of("\"\\", quote + 1);
  while (i != std::string_view::npos && text[i] == '\\') i = text.find_first_of("\"\\", i + 2);
  return i == std::string_view::npos ? text.size() : i;
}

// The position of the bracket that closes the array or object opened at
// `open`, in a well-formed text.
std::size_t closingBracket(std::string_view text, std::size_t open) {
  int depth = 0;
  for (std::size_t i = open; i < text.size(); i = text.find_first_of("\"[]{}", i + 1)) {
    if (i == std::string_view::npos) break;
    const char c = text[i];
    if (c == '"') {
      i = stringEnd(text, i);
    } else if (c == '[' || c == '{') {
      ++depth;
    } else if (--depth == 0) {
      return i;
    }
  }
  return std::string_view::npos;
}

// When nothing but closing brackets and white space follows the array
// opened at `open` inside `enclosing` containers (as in every answer the
// service gives today), the position of its closing bracket, found from the
// end without reading the documents; npos otherwise.
std::size_t lastCloserOf(std::string_view text, std::size_t open, std::size_t enclosing) {
  std::size_t closers = 0;
  for (std::size_t i = text.size(); i > open + 1; --i) {
    const char c = text[i - 1];
    if (isJsonSpace(c)) continue;
    if (c != '}' && c != ']') return std::string_view::npos;
    if (++closers == enclosing + 1) return c == ']' ? i - 1 : std::string_view::npos;
  }
  return std::string_view::npos;
}

// The content of the array that is the value of the first member called
// "kkmDocs", at any depth, of the well-formed JSON text `text`.
bool locateKkmDocs(std::string_view text, std::string_view& docs) {
  std::vector<char> open;  // '{' or '[' of each value entered
  bool keyNext = false;    // the next string is a member's name
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      const std::size_t end = stringEnd(text, i);
      const bool isKey = keyNext;
      keyNext = false;
      if (isKey && text.substr(i + 1, end - i - 1) == "kkmDocs") {
        std::size_t pos = end + 1;
        while (pos < text.size() && (isJsonSpace(text[pos]) || text[pos] == ':')) ++pos;
        if (pos < text.size() && text[pos] == '[') {
          std::size_t close = lastCloserOf(text, pos, open.size());
          if (close == std::string_view::npos) close = closingBracket(text, pos);
          if (close == std::string_view::npos) return false;
          docs = text.substr(pos + 1, close - pos - 1);
          return true;
        }
      }
      i = end;
    } else if (c == '{' || c == '[') {
      open.push_back(c);
      keyNext = c == '{';
    } else if (c == '}' || c == ']') {
      if (!open.empty()) open.pop_back();
    } else if (c == ',') {
      keyNext = !open.empty() && open.back() == '{';
    }
  }
  return false;
}

}  // namespace

// An answer cut short, one without the list (an error document) or one that
// is no JSON at all is no list of documents: taking it for one would report
// a shift without its checks and move past it for good. The whole answer
// is checked by the JSON library, which builds nothing; the documents
// themselves are then cut out of the text as it stands.
bool findKkmDocs(std::string_view answer, std::string_view& docs, std::string& reason) {
  if (!nlohmann::json::accept(answer)) {
    std::size_t first = 0;
    while (first < answer.size() && isJsonSpace(answer[first])) ++first;
    reason = first < answer.size() && answer[first] == '{' ? "the answer is no complete JSON text (cut short?)"
                                                           : "the answer is not a JSON object";
    return false;
  }
  if (!locateKkmDocs(answer, docs)) {
    reason = "the answer holds no kkmDocs list";
    return false;
  }
  return true;
}

namespace {

// The first bytes of `answer` as one line: control bytes written \xNN.
std::string answerQuote(std::string_view answer) {
  static constexpr std::size_t kQuoted = 100;
  std::string quote;
  appendQuotedBytes(quote, answer.substr(0, kQuoted));
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
  sendPostRequest(url, "", outputJSON, kConnectTimeoutSeconds, kTransferTimeLimitSeconds, outcome);
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
