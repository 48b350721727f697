#pragma once

#include <optional>
#include <string>

namespace tarvel {

// Synchronous HTTP POST for the request service. The caller's thread waits
// for the whole exchange.
class HttpPost {
 public:
  virtual ~HttpPost() = default;

  // Posts body to address and returns the complete response body, whatever
  // the HTTP status. Nothing when the exchange did not complete: an address
  // the implementation refuses, a transport error or a time-out. Sets no
  // request header on the caller's behalf beyond what HTTP itself needs.
  [[nodiscard]] virtual std::optional<std::string> post(const std::string& address,
                                                        const std::string& body) = 0;
};

}  // namespace tarvel
