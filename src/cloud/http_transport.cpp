#include "cloud/http_transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <new>
#include <string_view>

#include "config/settings.h"
#include "files/messages.h"
#include "files/text_file.h"

namespace {

struct EasyHandleDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyHandleDeleter>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

long stallTime = kStallSeconds;

// Set when the request under way was stopped for passing kMaxAnswerBytes.
bool answerTooLarge = false;

// libcurl header callback: makes room in the answer text for the announced
// Content-Length, so that a large answer is received without being copied
// over and over as the text grows. A length past kMaxAnswerBytes stops the
// transfer before a byte of the body is taken.
std::size_t reserveForContentLength(char* data, std::size_t size, std::size_t count, void* target) noexcept {
  const std::size_t bytes = size * count;
  static constexpr std::string_view kName = "content-length:";
  if (target == nullptr || bytes <= kName.size()) return bytes;
  for (std::size_t i = 0; i < kName.size(); ++i) {
    const char c = data[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kName[i]) return bytes;
  }
  std::size_t length = 0;
  for (std::size_t i = kName.size(); i < bytes; ++i) {
    const char c = data[i];
    if (c == ' ' || c == '\t') continue;
    if (c < '0' || c > '9') break;
    length = length * 10 + static_cast<std::size_t>(c - '0');
    if (length > kMaxAnswerBytes) {
      answerTooLarge = true;
      return 0;
    }
  }
  auto* answer = static_cast<std::string*>(target);
  try {
    answer->reserve(answer->size() + length);
  } catch (const std::exception&) {
    // No room in advance: the answer still grows as it arrives.
  }
  return bytes;
}

// Clears requestInProgress however the call ends.
class RequestGuard {
 public:
  RequestGuard() { requestInProgress = true; }
  ~RequestGuard() { requestInProgress = false; }
  RequestGuard(const RequestGuard&) = delete;
  RequestGuard& operator=(const RequestGuard&) = delete;
};

// Certificate checks as configured: on unless sslVerify="0"; caFile adds
// certificates to trust. The file is read here and its bytes handed over,
// so that any name the program can open will do (the TLS library's own
// file calls on Windows take only names of the ANSI code page). Returns why
// the request cannot be made ("" when it can).
std::string setTlsOptions(CURL* handle) {
  const long verify = sslVerify ? 1L : 0L;
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, verify);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, sslVerify ? 2L : 0L);
  if (!caFile.empty()) {
    const FileRead ca = readFile(caFile);
    if (!ca.found())
      return "cannot read caFile " + caFile + ": " +
             (ca.status == FileStatus::kNotFound ? std::string("there is no such file") : ca.reason);
    curl_blob blob{const_cast<char*>(ca.text.data()), ca.text.size(), CURL_BLOB_COPY};
    if (curl_easy_setopt(handle, CURLOPT_CAINFO_BLOB, &blob) != CURLE_OK)
      return "cannot use caFile " + caFile + ": the TLS library takes no certificates from memory";
  }
  // Windows' TLS also asks the certificate's issuer whether it was revoked.
  // A revoked certificate is still refused, but one whose answer cannot be
  // had (no revocation list named, its server out of reach, as behind many
  // shops' firewalls) is accepted, as the Linux build accepts it.
  curl_easy_setopt(handle, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
  return "";
}

// libcurl's trace, line by line on standard error, marked as libcurl marks
// it ("* " for its own lines, "> " and "< " for headers sent and received).
// Bodies are not shown; the lines pass the mask of every output there.
int traceLines(CURL*, curl_infotype type, char* data, std::size_t size, void*) noexcept {
  const char* mark = type == CURLINFO_TEXT ? "* " : type == CURLINFO_HEADER_OUT ? "> " : type == CURLINFO_HEADER_IN ? "< " : nullptr;
  if (mark == nullptr) return 0;
  try {
    const std::string text(data, size);
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::size_t stop = end;
      if (stop > start && text[stop - 1] == '\r') --stop;
      if (stop > start) printErrorLine(mark + text.substr(start, stop - start));
      start = end + 1;
    }
  } catch (const std::exception&) {
    // No memory for the trace: the transfer goes on without it.
  }
  return 0;
}

// Options every request has: time limits, the trace in debug mode, TLS.
// Returns why the request cannot be made ("" when it can).
std::string setCommonOptions(CURL* handle) {
  // Only the service's own schemes, also where a redirect points: an address
  // or a redirect to file://, ftp:// or any other is refused by the library.
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
  curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxAnswerBytes));
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, stallTime);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, kTransferTimeLimitSeconds);
  if (debugOn()) {
    curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, traceLines);
    curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);
  }
  return setTlsOptions(handle);
}

// Performs the transfer and tells what became of it.
CURLcode perform(CURL* handle, RequestOutcome& outcome) {
  char errorText[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
  answerTooLarge = false;
  const CURLcode code = curl_easy_perform(handle);
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  outcome.completed = code == CURLE_OK;
  outcome.httpStatus = status;
  outcome.error.clear();
  if (code != CURLE_OK) outcome.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
  if (answerTooLarge || code == CURLE_FILESIZE_EXCEEDED)
    outcome.error = "the answer is larger than " + std::to_string(kMaxAnswerBytes / (1024 * 1024)) +
                    " MB, the most the program takes; the transfer was stopped";
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, nullptr);
  return code;
}

RequestOutcome notMade(std::string reason) {
  RequestOutcome outcome;
  outcome.error = std::move(reason);
  return outcome;
}

// One request to `url`, made ready for the transfer: the answer goes to
// serviceAnswer; Basic authentication with `userPassword` when it is given
// or `alwaysAuthenticate` (a POST passes even an empty one); `headerLines`
// replace the library's own; the options of every request are set.
// `problem` tells why the request cannot be made ("" when it can).
struct Request {
  Request(const std::string& url, const std::string& userPassword, bool alwaysAuthenticate,
          std::initializer_list<const char*> headerLines)
      : handle(curl_easy_init()) {
    CURL* h = handle.get();
    if (h == nullptr) {
      problem = "cannot create an HTTP handle";
      return;
    }
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HEADER, 0L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeAnswerCallback);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &serviceAnswer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, reserveForContentLength);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &serviceAnswer);
    if (alwaysAuthenticate || !userPassword.empty()) {
      curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
      curl_easy_setopt(h, CURLOPT_USERPWD, userPassword.c_str());
    }
    for (const char* line : headerLines) {
      curl_slist* head = curl_slist_append(headers.get(), line);
      if (head == nullptr) break;  // out of memory: the list so far stays owned
      (void)headers.release();
      headers.reset(head);
    }
    if (headers) curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    problem = setCommonOptions(h);
  }

  // The header list is declared first so that it outlives the handle that uses it.
  HeaderList headers;
  EasyHandle handle;
  std::string problem;
};

}  // namespace

void setStallSeconds(long seconds) { stallTime = seconds; }

std::string RequestOutcome::failureText() const {
  if (!completed) return error.empty() ? "the transfer failed" : error;
  if (!succeeded()) return "HTTP status " + std::to_string(httpStatus);
  return "";
}

std::string takeServiceAnswer() {
  std::string answer = std::move(serviceAnswer);
  serviceAnswer.clear();
  return answer;
}

std::size_t writeAnswerCallback(char* data, std::size_t size, std::size_t count, void* target) noexcept {
  if (target == nullptr) return 0;
  const std::size_t bytes = size * count;
  auto* answer = static_cast<std::string*>(target);
  if (bytes > kMaxAnswerBytes - std::min(answer->size(), kMaxAnswerBytes)) {
    answerTooLarge = true;
    return 0;
  }
  try {
    answer->append(data, bytes);
  } catch (const std::exception&) {
    return 0;  // out of memory: libcurl ends the transfer with a write error
  }
  return bytes;
}

int sendPostRequest(const std::string& url, const std::string& userPassword, const std::string& body,
                    long connectTimeoutSeconds, long timeoutSeconds, RequestOutcome& outcome) {
  if (requestInProgress) return -1;
  RequestGuard guard;
  // "Expect:" keeps the library from waiting for an interim 100 answer before the body.
  Request request(url, userPassword, true,
                  {"Accept: application/xml, text/plain, application/problem+json",
                   "Content-Type: application/x-www-form-urlencoded", "Expect:"});
  if (!request.problem.empty()) {
    outcome = notMade(std::move(request.problem));
    return -1;
  }
  CURL* h = request.handle.get();
  // The agent text the service has always had from this program: its side
  // may tell the program's requests by it.
  curl_easy_setopt(h, CURLOPT_USERAGENT, "Linux C  libcurl");
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  // The library reads the caller's body in place during the transfer.
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
  // The size set last holds: -1 has the library measure the body up to its
  // zero terminator (the bodies built for the service hold no zero byte).
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(-1));
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, connectTimeoutSeconds);
  curl_easy_setopt(h, CURLOPT_TIMEOUT, timeoutSeconds);
  return perform(h, outcome) == CURLE_OK ? 0 : -1;
}

int sendGetRequest(const std::string& url, const std::string& userPassword, RequestOutcome& outcome) {
  if (requestInProgress) return -1;
  RequestGuard guard;
  Request request(url, userPassword, false, {});
  if (request.problem.empty())
    perform(request.handle.get(), outcome);
  else
    outcome = notMade(std::move(request.problem));
  return static_cast<int>(serviceAnswer.size());
}
