#include "platform/curl/transfer_policy.hpp"

#include <algorithm>

namespace tarvel {
namespace {

constexpr long kFirstServerError = 500;
constexpr long kPastServerErrors = 600;
// Doubling stops here, whatever the number of retries.
constexpr int kLongestDoubling = 10;

bool passing_transfer_error(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:     // refused, or no route for now
    case CURLE_OPERATION_TIMEDOUT:  // connection not made in time, or a stall
    case CURLE_SEND_ERROR:          // reset while asking
    case CURLE_RECV_ERROR:          // reset while receiving
    case CURLE_GOT_NOTHING:         // closed before any answer
    case CURLE_PARTIAL_FILE:        // closed before the announced length
    case CURLE_SSL_CONNECT_ERROR:   // dropped during the handshake
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool worth_retrying(const AttemptEnd& end) {
  using Outcome = HttpResult::Outcome;
  switch (end.result.outcome) {
    case Outcome::complete:
    case Outcome::sink:
      return false;
    case Outcome::status:
      return end.result.status >= kFirstServerError && end.result.status < kPastServerErrors;
    case Outcome::transfer:
      return end.resume_refused || passing_transfer_error(end.code);
  }
  return false;
}

std::chrono::milliseconds pause_before_retry(const TransferPolicy& policy, int retry) {
  const int doublings = std::clamp(retry - 1, 0, kLongestDoubling);
  return policy.first_pause * (1 << doublings);
}

}  // namespace tarvel
