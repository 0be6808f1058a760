// HTTP(S) requests to the cloud service through libcurl: one easy handle per
// request, the answer body appended to the process-wide serviceAnswer
// (config/settings.h).
#pragma once

#include <cstddef>
#include <string>

#include "config/settings.h"

// How long a request may take. A transfer that receives nothing for
// kStallSeconds is abandoned; one that keeps moving is cut only after
// kTransferTimeLimitSeconds (a large goods file on a slow link takes minutes).
inline constexpr long kConnectTimeoutSeconds = 10;
inline constexpr long kStallSeconds = 60;
inline constexpr long kTransferTimeLimitSeconds = 30 * 60;

// Sets the stall time requests use, kStallSeconds until then (the tests
// shorten it, so that a stalled answer is given up in a second).
void setStallSeconds(long seconds);

// The largest answer the program takes in: a transfer whose announced
// length or whose bytes pass it is stopped, and the request fails with a
// line that says so, long before a 32-bit process runs out of memory.
inline constexpr std::size_t kMaxAnswerBytes = 512u * 1024u * 1024u;

// What became of one request.
struct RequestOutcome {
  bool completed = false;  // the whole answer arrived
  long httpStatus = 0;     // status of the answer; 0 when none arrived
  std::string error;       // libcurl's reason when the transfer did not complete

  // True when the request completed with an HTTP status of 2xx (a redirect
  // is not followed, so it is no answer either).
  bool succeeded() const { return completed && httpStatus >= 200 && httpStatus < 300; }
  // One short phrase for a failed request: the transport's reason, or
  // "HTTP status N"; empty when it succeeded.
  std::string failureText() const;
};

// The answer collected in serviceAnswer, which is left empty for the next request.
std::string takeServiceAnswer();

// libcurl's trace of the transfer goes to standard error only in debug mode,
// through the mask of every output (files/secret_mask.h). Only http:// and
// https:// addresses are reached, also through a redirect.
//
// POSTs `body` to `url` with the service's headers. Returns 0 when the
// transfer completed (whatever the HTTP status), -1 when it failed, could
// not be made, or another request was in progress (serviceAnswer is then
// untouched). Bytes received
// before a failure stay in serviceAnswer.
// `outcome` receives what became of a request that was made; a refused one
// leaves it as it was.
int sendPostRequest(const std::string& url, const std::string& userPassword, const std::string& body,
                    long connectTimeoutSeconds, long timeoutSeconds, RequestOutcome& outcome);

// GETs `url`, with Basic authentication only when `userPassword` is given.
// Returns the length of serviceAnswer afterwards (also when the transfer
// failed or could not be made), or -1 when another request was in progress.
// `outcome` as for sendPostRequest.
int sendGetRequest(const std::string& url, const std::string& userPassword, RequestOutcome& outcome);

// libcurl write callback: appends the chunk to the std::string at `target`.
// Returns the number of bytes taken; 0 (which ends the transfer) when
// `target` is null, the text cannot grow, or it would pass kMaxAnswerBytes.
std::size_t writeAnswerCallback(char* data, std::size_t size, std::size_t count, void* target) noexcept;
