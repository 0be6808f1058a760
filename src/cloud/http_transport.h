// HTTP(S) requests to the cloud service through libcurl: one easy handle per
// request, the answer body appended to the process-wide serviceAnswer.
#pragma once

#include <cstddef>
#include <string>

// Every answer body is appended here; each service operation takes its copy
// right after its request and empties it.
extern std::string serviceAnswer;
// True while a transport call is under way; a second call is refused.
extern bool requestInProgress;

// What became of the last request made through the transport.
struct RequestOutcome {
  bool completed = false;  // the whole answer arrived
  long httpStatus = 0;     // status of the answer; 0 when none arrived
  std::string error;       // libcurl's reason when the transfer did not complete
};

// The outcome of the last sendPostRequest or sendGetRequest.
const RequestOutcome& lastRequestOutcome();

// True when the last request completed with an HTTP status below 400.
bool lastRequestSucceeded();

// One short phrase for a failed last request: the transport's reason, or
// "HTTP status N"; empty when it succeeded.
std::string lastRequestFailureText();

// POSTs `body` to `url` with the service's headers. Returns 0 when the
// transfer completed (whatever the HTTP status), -1 when it failed or another
// request was in progress (serviceAnswer is then untouched). Bytes received
// before a failure stay in serviceAnswer.
int sendPostRequest(const std::string& url, const std::string& userPassword, const std::string& body,
                    long connectTimeoutSeconds, long timeoutSeconds);

// GETs `url`. Returns the length of serviceAnswer afterwards, or -1 when
// another request was in progress.
int sendGetRequest(const std::string& url, const std::string& userPassword);

// libcurl write callback: appends the chunk to the std::string at `target`.
// Returns the number of bytes taken; 0 (which ends the transfer) when
// `target` is null or the text cannot grow.
std::size_t writeAnswerCallback(char* data, std::size_t size, std::size_t count, void* target) noexcept;
