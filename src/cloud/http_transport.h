// HTTP(S) requests to the cloud service through libcurl: one easy handle per
// request, the answer body appended to the process-wide serviceAnswer
// (config/settings.h).
#pragma once

#include <cstddef>
#include <string>

#include "config/settings.h"

// What became of one request.
struct RequestOutcome {
  bool completed = false;  // the whole answer arrived
  long httpStatus = 0;     // status of the answer; 0 when none arrived
  std::string error;       // libcurl's reason when the transfer did not complete

  // True when the request completed with an HTTP status below 400.
  bool succeeded() const { return completed && httpStatus < 400; }
  // One short phrase for a failed request: the transport's reason, or
  // "HTTP status N"; empty when it succeeded.
  std::string failureText() const;
};

// The answer collected in serviceAnswer, which is left empty for the next request.
std::string takeServiceAnswer();

// POSTs `body` to `url` with the service's headers. Returns 0 when the
// transfer completed (whatever the HTTP status), -1 when it failed or another
// request was in progress (serviceAnswer is then untouched). Bytes received
// before a failure stay in serviceAnswer.
// When `outcome` is given it receives what became of the request.
int sendPostRequest(const std::string& url, const std::string& userPassword, const std::string& body,
                    long connectTimeoutSeconds, long timeoutSeconds, RequestOutcome* outcome = nullptr);

// GETs `url`. Returns the length of serviceAnswer afterwards, or -1 when
// another request was in progress.
int sendGetRequest(const std::string& url, const std::string& userPassword, RequestOutcome* outcome = nullptr);

// libcurl write callback: appends the chunk to the std::string at `target`.
// Returns the number of bytes taken; 0 (which ends the transfer) when
// `target` is null or the text cannot grow.
std::size_t writeAnswerCallback(char* data, std::size_t size, std::size_t count, void* target) noexcept;
