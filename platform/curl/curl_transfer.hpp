#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/curl/mirrors.hpp"
#include "platform/curl/rate_cap.hpp"
#include "platform/curl/transfer_policy.hpp"
#include "platform/http_get.hpp"

namespace tarvel {

// What every transfer of one client shares.
struct CurlClientSettings {
  // Certificate authorities to trust instead of the system's store; "" uses the store.
  std::string ca_file;
  TransferPolicy policy;
  // Shared by every transfer of the client; none when nothing caps them.
  RateCap* rate_cap = nullptr;
  // Which mirrors failed lately, for every transfer of the client; none
  // when nothing remembers them.
  MirrorMemory* mirrors = nullptr;
};

// The first byte of a Content-Range answer "bytes <first>-<last>/<length>",
// or -1 when the header says otherwise.
[[nodiscard]] std::int64_t content_range_start(std::string_view content_range);

// One attempt at one GET on an easy handle, as a batch runs it. Continues a
// part the sink holds from an earlier attempt with a range request that is
// valid only for the same version of the file (If-Range), and asks again
// for the last byte held, so that a part holding the whole body still gets
// a partial answer instead of a refusal.
class CurlTransfer {
 public:
  CurlTransfer(CURL* easy, std::string address, const HttpGetOptions& options,
               const CurlClientSettings& settings, HttpSink& sink);
  ~CurlTransfer();
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  [[nodiscard]] CURL* easy() const { return easy_; }

  // How the attempt ended once libcurl is done with it. The sink is
  // committed, or keeps its part when another attempt may follow, or drops it.
  [[nodiscard]] AttemptEnd finish(CURLcode code);
  // Ends the attempt before libcurl is done; the sink keeps what is worth keeping.
  void cancel();

  // The piece of body the transfer holds back while the rate cap cannot pay
  // for it (libcurl keeps it and reads no more); 0 when it is not held back.
  [[nodiscard]] std::size_t held_back() const { return held_back_; }
  // Since when: the transfer held back longest goes on first.
  [[nodiscard]] RateCap::Clock::time_point held_back_since() const { return held_back_since_; }
  // Lets a held-back transfer go on; it may be held back again at once.
  void go_on();

  // Since when the request now out has waited for the first byte of its
  // answer's body; nothing before it is sent and once a byte arrived.
  [[nodiscard]] std::optional<RateCap::Clock::time_point> waiting_since() const {
    return asked_at_;
  }
  // When the last piece of body arrived; the epoch before the first.
  [[nodiscard]] RateCap::Clock::time_point body_arrived_at() const { return body_arrived_at_; }

 private:
  static int on_request(void* user, char*, char*, int, int);
  static std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user);
  static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user);

  void configure(const HttpGetOptions& options, const CurlClientSettings& settings);
  void ask_for_the_rest();
  void take_header(std::string_view line);
  bool start_body();
  [[nodiscard]] bool stopped_early() const { return sink_failed_ || unwanted_ || resume_refused_; }
  [[nodiscard]] long response_status() const;
  [[nodiscard]] std::string answer_validator() const;
  [[nodiscard]] FailureCause failure_cause(CURLcode code) const;

  CURL* easy_;
  std::string address_;
  HttpSink& sink_;
  RateCap* rate_cap_;
  std::string proxy_;
  long wanted_status_;
  ResumePoint held_;
  std::int64_t range_from_ = -1;  // first byte asked for when continuing, -1 for the whole body
  std::string range_;
  curl_slist* headers_ = nullptr;

  // Of the answer now arriving (a redirect starts a new one).
  std::string etag_;
  std::string last_modified_;
  std::string content_range_;

  bool opened_ = false;
  bool unwanted_ = false;
  bool sink_failed_ = false;
  bool resume_refused_ = false;
  bool unexpected_body_ = false;
  std::size_t held_back_ = 0;
  RateCap::Clock::time_point held_back_since_{};
  std::optional<RateCap::Clock::time_point> asked_at_;  // the request now out, while no body came
  RateCap::Clock::time_point body_arrived_at_{};
};

}  // namespace tarvel
