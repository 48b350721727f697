#include "platform/curl/curl_http_get.hpp"

#include <curl/curl.h>

#include "platform/curl/curl_setup.hpp"
#include "platform/posix/posix_file_sink.hpp"

namespace tarvel {
namespace {

// Reading in large pieces keeps the number of calls into the sink low on
// big files; small files are unaffected.
constexpr long kReceiveBufferBytes = 512 * 1024;
constexpr long kMaxRedirects = 10;
constexpr const char* kProtocols = "http,https";

// One handle per thread, reset before every transfer: a reset keeps the
// handle's open connections, which is what makes the next GET to the same
// server skip the connection set-up.
struct ThreadHandle {
  CURL* curl = nullptr;
  ~ThreadHandle() {
    if (curl != nullptr) curl_easy_cleanup(curl);
  }
};
thread_local ThreadHandle t_handle;

CURL* fresh_handle() {
  if (t_handle.curl == nullptr) {
    t_handle.curl = curl_easy_init();
  } else {
    curl_easy_reset(t_handle.curl);
  }
  return t_handle.curl;
}

bool status_wanted(long status, long wanted) {
  return wanted != 0 ? status == wanted : status >= 200 && status < 300;
}

struct Transfer {
  CURL* curl;
  HttpSink& sink;
  long wanted;
  bool opened = false;
  bool unwanted = false;
  bool sink_failed = false;
};

// The body arrives here. The sink is opened with the first piece, once the
// status is known, so an error page never reaches it.
std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  if (!transfer.opened) {
    long status = 0;
    curl_easy_getinfo(transfer.curl, CURLINFO_RESPONSE_CODE, &status);
    if (!status_wanted(status, transfer.wanted)) {
      transfer.unwanted = true;
      return 0;
    }
    transfer.opened = transfer.sink.open();
    transfer.sink_failed = !transfer.opened;
    if (transfer.sink_failed) return 0;
  }
  if (!transfer.sink.write(data, bytes)) {
    transfer.sink_failed = true;
    return 0;
  }
  return bytes;
}

// Called by libcurl at least once a second, even while nothing arrives; a
// non-zero answer ends the transfer.
int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* cancel = static_cast<const std::atomic<bool>*>(user);
  return cancel->load() ? 1 : 0;
}

void set_options(CURL* curl, const std::string& address, const HttpGetOptions& options,
                 const std::string& ca_file, Transfer& transfer) {
  curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kProtocols);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, kProtocols);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  apply_common_options(curl);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!ca_file.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, ca_file.c_str());
  if (!options.user_agent.empty())
    curl_easy_setopt(curl, CURLOPT_USERAGENT, options.user_agent.c_str());
  if (options.connect_timeout_ms > 0) {
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, options.connect_timeout_ms);
  }
  if (options.stall_seconds > 0) {
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, options.stall_seconds);
  }
  if (options.cancel != nullptr) {
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, on_progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, options.cancel);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  }
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_body);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
}

HttpResult failed(HttpSink& sink, HttpResult::Outcome outcome, long status) {
  sink.abandon();
  return {outcome, status};
}

// Decides the outcome once libcurl is done. Only a clean finish with the
// wanted status counts; libcurl reports a body shorter than its length, a
// dropped connection and a stall as errors.
HttpResult finish(CURLcode code, long status, Transfer& transfer) {
  using Outcome = HttpResult::Outcome;
  if (transfer.sink_failed) return failed(transfer.sink, Outcome::sink, status);
  if (transfer.unwanted || (code == CURLE_OK && !status_wanted(status, transfer.wanted))) {
    return failed(transfer.sink, Outcome::status, status);
  }
  if (code != CURLE_OK) return failed(transfer.sink, Outcome::transfer, status);
  // An empty body never called on_body: the (empty) file is made here.
  if (!transfer.opened && !transfer.sink.open())
    return failed(transfer.sink, Outcome::sink, status);
  if (!transfer.sink.commit()) return failed(transfer.sink, Outcome::sink, status);
  return {Outcome::complete, status};
}

}  // namespace

CurlHttpGet::CurlHttpGet(std::string ca_file) : ca_file_(std::move(ca_file)) {
  ensure_curl_initialised();
}

HttpResult CurlHttpGet::get(const std::string& address, const HttpGetOptions& options,
                            HttpSink& sink) {
  const bool cancelled = options.cancel != nullptr && options.cancel->load();
  CURL* curl = cancelled ? nullptr : fresh_handle();
  if (curl == nullptr) return failed(sink, HttpResult::Outcome::transfer, 0);
  Transfer transfer{curl, sink, options.wanted_status};
  set_options(curl, address, options, ca_file_, transfer);
  const CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  // Nothing of this call may outlive it inside the kept handle.
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
  return finish(code, status, transfer);
}

HttpResult CurlHttpGet::get_file(const std::string& address, const HttpGetOptions& options,
                                 const std::string& target) {
  PosixFileSink sink(target, options.confined_to);
  return get(address, options, sink);
}

void CurlHttpGet::close_idle_connections() {
  if (t_handle.curl == nullptr) return;
  curl_easy_cleanup(t_handle.curl);
  t_handle.curl = nullptr;
}

}  // namespace tarvel
