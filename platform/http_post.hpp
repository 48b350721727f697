#pragma once

#include <optional>
#include <string>

#include "platform/failure_cause.hpp"

namespace tarvel {

// How one exchange with the request service ended.
struct PostAnswer {
  // The complete response body, whatever the HTTP status; nothing when the
  // exchange did not complete.
  std::optional<std::string> body;
  long status = 0;  // the HTTP status, 0 when none arrived
  FailureCause cause{};  // why there is no body
};

// Synchronous HTTP POST for the request service. The caller's thread waits
// for the whole exchange.
class HttpPost {
 public:
  virtual ~HttpPost() = default;

  // Posts body to address. No body when the exchange did not complete: an
  // address the implementation refuses, a transport error or a time-out.
  // Sets no request header on the caller's behalf beyond what HTTP itself
  // needs.
  [[nodiscard]] virtual PostAnswer exchange(const std::string& address,
                                            const std::string& body) = 0;

  // The body alone.
  [[nodiscard]] std::optional<std::string> post(const std::string& address,
                                                const std::string& body) {
    return exchange(address, body).body;
  }
};

}  // namespace tarvel
