#pragma once

#include <chrono>
#include <cstddef>

#include "platform/http_post.hpp"

namespace tarvel {

// HttpPost on libcurl. Each post uses a handle of its own, so nothing carries
// over between exchanges, and it gives up after the limits below instead of
// holding the user-interface thread indefinitely.
class CurlHttpPost final : public HttpPost {
 public:
  struct Limits {
    std::chrono::milliseconds connect{30'000};
    std::chrono::milliseconds total{60'000};
    // A request-service answer is a few hundred bytes; a body past this is
    // not one, and reading it on would only fill memory.
    std::size_t max_body_bytes = 16u << 20;
  };

  CurlHttpPost();
  explicit CurlHttpPost(Limits limits);

  // Only http:// and https:// addresses are contacted; anything else (the
  // "not found" of a missing configuration value, file:// ...) fails before
  // any connection. Redirects to http or https are followed, as a browser's
  // request object does. The exchange goes through the system's proxy for
  // the address (loopback addresses always go direct); a proxy that asks for
  // credentials the address does not give fails it.
  [[nodiscard]] PostAnswer exchange(const std::string& address, const std::string& body) override;

 private:
  Limits limits_;
};

}  // namespace tarvel
