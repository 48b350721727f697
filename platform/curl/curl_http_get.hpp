#pragma once

#include <memory>
#include <string>

#include "platform/curl/curl_transfer.hpp"
#include "platform/http_get.hpp"

namespace tarvel {

// HTTP and HTTPS GETs through libcurl's multi interface. Each thread keeps
// its connections between calls, so a list of files from one server travels
// over kept-alive connections instead of a new one per file. Certificates
// are always verified. Every transfer goes through the system's proxy for
// its address (loopback addresses always go direct), and all of them
// together stay under the rate cap the latest call asked for.
class CurlHttpGet final : public HttpGet {
 public:
  // ca_file: certificate authorities to trust instead of the system's store
  // (for a server with a private authority); "" uses the system's store.
  explicit CurlHttpGet(std::string ca_file = {}, TransferPolicy policy = {});

  [[nodiscard]] HttpResult get(const std::string& address, const HttpGetOptions& options,
                               HttpSink& sink) override;
  [[nodiscard]] HttpResult get_file(const std::string& address, const HttpGetOptions& options,
                                    const std::string& target) override;
  [[nodiscard]] bool get_files(const std::vector<FileTransfer>& files,
                               const HttpGetOptions& options, int max_connections,
                               BatchObserver& observer) override;

  // Closes the calling thread's kept-alive connections (for a thread about
  // to wait a long time, or a server about to go away).
  static void close_idle_connections();

 private:
  std::unique_ptr<RateCap> rate_cap_ = std::make_unique<RateCap>();
  std::unique_ptr<MirrorMemory> mirrors_ = std::make_unique<MirrorMemory>();
  CurlClientSettings settings_;
};

}  // namespace tarvel
