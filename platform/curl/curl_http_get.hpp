#pragma once

#include <string>

#include "platform/http_get.hpp"

namespace tarvel {

// HTTP and HTTPS GETs through libcurl. Each thread keeps one libcurl handle
// for all its transfers, so a list of files from one server travels over one
// kept-alive connection instead of a new one per file. Certificates are
// always verified.
class CurlHttpGet final : public HttpGet {
 public:
  // ca_file: certificate authorities to trust instead of the system's store
  // (for a server with a private authority); "" uses the system's store.
  explicit CurlHttpGet(std::string ca_file = {});

  [[nodiscard]] HttpResult get(const std::string& address, const HttpGetOptions& options,
                               HttpSink& sink) override;
  [[nodiscard]] HttpResult get_file(const std::string& address, const HttpGetOptions& options,
                                    const std::string& target) override;

  // Closes the calling thread's kept-alive connections (for a thread about
  // to wait a long time, or a server about to go away).
  static void close_idle_connections();

 private:
  std::string ca_file_;
};

}  // namespace tarvel
