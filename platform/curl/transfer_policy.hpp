#pragma once

#include <curl/curl.h>

#include <chrono>

#include "platform/http_get.hpp"

namespace tarvel {

// How hard the client tries before a file counts as failed.
struct TransferPolicy {
  // Further attempts after a failure that may pass.
  int retries = 3;
  // Pause before the first retry; each later one waits twice as long
  // (0.5, 1 and 2 s): a line that drops once is often back at once, one that
  // is down for a while is not asked again and again.
  std::chrono::milliseconds first_pause{500};
  // A transfer that averages less than this over the stall window has
  // stalled: a trickle of a few bytes a second ties up a connection for days.
  long floor_bytes_per_second = 1024;
};

// How one attempt at a transfer ended.
struct AttemptEnd {
  HttpResult result;
  CURLcode code = CURLE_OK;
  // The server sent another version than the part held, or no way to
  // continue it, or a body other than the one expected: the part is dropped
  // and the next attempt starts over.
  bool resume_refused = false;
};

// Whether a failed attempt is worth another: a refused, reset or dropped
// connection, a stall and a 5xx answer may pass; a 4xx answer, a local file
// that cannot be written or a certificate that does not verify will not.
// The one place that decides which failures are passing ones.
[[nodiscard]] bool worth_retrying(const AttemptEnd& end);

// The pause before the given retry (1 for the first).
[[nodiscard]] std::chrono::milliseconds pause_before_retry(const TransferPolicy& policy, int retry);

}  // namespace tarvel
