#include "platform/curl/curl_transfer.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "platform/curl/curl_cause.hpp"
#include "platform/curl/curl_setup.hpp"
#include "platform/curl/system_proxy.hpp"

namespace tarvel {
namespace {

// Reading in large pieces keeps the number of calls into the sink low on
// big files; small files are unaffected.
constexpr long kReceiveBufferBytes = 512 * 1024;
constexpr long kMaxRedirects = 10;
constexpr const char* kProtocols = "http,https";
constexpr long kPartialContent = 206;
constexpr long kRangeNotSatisfiable = 416;
constexpr long kProxyAuthenticationRequired = 407;
constexpr std::string_view kWeakPrefix = "W/";

bool status_wanted(long status, long wanted) {
  return wanted != 0 ? status == wanted : status >= 200 && status < 300;
}

bool same_letters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

bool is_https(const std::string& address) { return starts_with_no_case(address, "https://"); }

}  // namespace

std::int64_t content_range_start(std::string_view content_range) {
  constexpr std::string_view kUnit = "bytes ";
  if (content_range.substr(0, kUnit.size()) != kUnit) return -1;
  content_range.remove_prefix(kUnit.size());
  std::int64_t first = -1;
  const auto [end, error] =
      std::from_chars(content_range.data(), content_range.data() + content_range.size(), first);
  if (error != std::errc() || end == content_range.data() + content_range.size() || *end != '-')
    return -1;
  return first;
}

CurlTransfer::CurlTransfer(CURL* easy, std::string address, const HttpGetOptions& options,
                           const CurlClientSettings& settings, HttpSink& sink)
    : easy_(easy),
      address_(std::move(address)),
      sink_(sink),
      rate_cap_(settings.rate_cap),
      wanted_status_(options.wanted_status) {
  configure(options, settings);
  ask_for_the_rest();
}

CurlTransfer::~CurlTransfer() {
  // Nothing of this attempt may outlive it inside the reused handle.
  curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(easy_, CURLOPT_PREREQDATA, nullptr);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, nullptr);
  curl_easy_setopt(easy_, CURLOPT_HEADERDATA, nullptr);
  curl_slist_free_all(headers_);
}

void CurlTransfer::configure(const HttpGetOptions& options, const CurlClientSettings& settings) {
  curl_easy_setopt(easy_, CURLOPT_URL, address_.c_str());
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, kProtocols);
  curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, kProtocols);
  curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
  proxy_ = use_system_proxy(easy_, address_, options.cancel);
  curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!settings.ca_file.empty()) curl_easy_setopt(easy_, CURLOPT_CAINFO, settings.ca_file.c_str());
  if (!options.user_agent.empty())
    curl_easy_setopt(easy_, CURLOPT_USERAGENT, options.user_agent.c_str());
  if (options.connect_timeout_ms > 0)
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, options.connect_timeout_ms);
  if (options.stall_seconds > 0) {
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, settings.policy.floor_bytes_per_second);
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, options.stall_seconds);
  }
  // Over TLS a server may multiplex: later transfers wait to share the first
  // one's connection rather than each opening their own.
  if (is_https(address_)) curl_easy_setopt(easy_, CURLOPT_PIPEWAIT, 1L);
  // Under a cap, smaller reads let the transfers take turns.
  const bool capped = rate_cap_ != nullptr && rate_cap_->capped();
  curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE,
                   capped ? static_cast<long>(rate_cap_->piece_bytes()) : kReceiveBufferBytes);
  curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, on_request);
  curl_easy_setopt(easy_, CURLOPT_PREREQDATA, this);
  curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, on_header);
  curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, on_body);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
}

void CurlTransfer::ask_for_the_rest() {
  held_ = sink_.resume_point();
  if (held_.bytes == 0 || held_.validator.empty()) return;
  range_from_ = static_cast<std::int64_t>(held_.bytes) - 1;
  range_ = std::to_string(range_from_) + "-";
  curl_easy_setopt(easy_, CURLOPT_RANGE, range_.c_str());
  // Valid only for the version the part came from; any other is sent whole.
  headers_ = curl_slist_append(nullptr, ("If-Range: " + held_.validator).c_str());
  curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
}

// The connection is there and the request goes out now (again after a
// redirect): the wait for an answer starts.
int CurlTransfer::on_request(void* user, char*, char*, int, int) {
  static_cast<CurlTransfer*>(user)->asked_at_ = RateCap::Clock::now();
  return CURL_PREREQFUNC_OK;
}

std::size_t CurlTransfer::on_header(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<CurlTransfer*>(user)->take_header(std::string_view(data, size * count));
  return size * count;
}

void CurlTransfer::take_header(std::string_view line) {
  if (line.substr(0, 5) == "HTTP/") {
    etag_.clear();
    last_modified_.clear();
    content_range_.clear();
    return;
  }
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return;
  const std::string_view name = trimmed(line.substr(0, colon));
  const std::string value(trimmed(line.substr(colon + 1)));
  if (same_letters(name, "ETag")) etag_ = value;
  if (same_letters(name, "Last-Modified")) last_modified_ = value;
  if (same_letters(name, "Content-Range")) content_range_ = value;
}

std::string CurlTransfer::answer_validator() const {
  // A weak ETag may not be used in If-Range.
  if (!etag_.empty() && etag_.substr(0, kWeakPrefix.size()) != kWeakPrefix) return etag_;
  return last_modified_;
}

long CurlTransfer::response_status() const {
  long status = 0;
  curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

// The body arrives here. The sink is opened with the first piece, once the
// status is known, so an error page never reaches it.
std::size_t CurlTransfer::on_body(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<CurlTransfer*>(user);
  const std::size_t bytes = size * count;
  transfer.asked_at_.reset();
  transfer.body_arrived_at_ = RateCap::Clock::now();
  if (transfer.rate_cap_ != nullptr && !transfer.rate_cap_->pay(bytes)) {
    // libcurl keeps the piece and hands it over again once the batch lets
    // the transfer go on.
    transfer.held_back_ = bytes;
    transfer.held_back_since_ = RateCap::Clock::now();
    return CURL_WRITEFUNC_PAUSE;
  }
  if (!transfer.opened_ && !transfer.start_body()) return 0;
  if (!transfer.sink_.write(data, bytes)) {
    transfer.sink_failed_ = true;
    return 0;
  }
  return bytes;
}

// Decides, from the answer's status and headers, whether the body continues
// the part held, replaces it, or is not wanted.
bool CurlTransfer::start_body() {
  const long status = response_status();
  const bool continuing = range_from_ >= 0;
  if (continuing && status == kRangeNotSatisfiable) {
    resume_refused_ = true;
    return false;
  }
  if (continuing && status == kPartialContent) {
    const std::string validator = answer_validator();
    if (content_range_start(content_range_) != range_from_ ||
        (!validator.empty() && validator != held_.validator)) {
      resume_refused_ = true;
      return false;
    }
    opened_ = sink_.open(static_cast<std::uint64_t>(range_from_), held_.validator);
  } else if (status == kPartialContent || !status_wanted(status, wanted_status_)) {
    // A part never asked for cannot stand for the whole body.
    unwanted_ = true;
    return false;
  } else {
    opened_ = sink_.open(0, answer_validator());
  }
  sink_failed_ = !opened_;
  return opened_;
}

AttemptEnd CurlTransfer::finish(CURLcode code) {
  using Outcome = HttpResult::Outcome;
  // An empty body never called on_body: the decision (and the empty file) is made here.
  if (code == CURLE_OK && !opened_ && !stopped_early()) (void)start_body();
  AttemptEnd end;
  end.code = code;
  end.resume_refused = resume_refused_;
  end.result.status = response_status();
  if (proxy_refused_credentials(easy_, proxy_)) {
    // Final at once, whether the proxy answered in place of the server or
    // refused to open a tunnel to it.
    end.result = {HttpResult::Outcome::status, kProxyAuthenticationRequired, proxy_refusal(proxy_)};
    sink_.abandon();
    return end;
  }
  if (code == CURLE_OK && !stopped_early()) {
    if (!sink_.body_matches()) {
      // Not the body expected (cut short without a length, or changed on
      // its way): dropped whole, and asked for again like a broken transfer.
      resume_refused_ = true;
      end.resume_refused = true;
      unexpected_body_ = true;
    } else if (sink_.commit()) {
      end.result.outcome = Outcome::complete;
      return end;
    } else {
      sink_failed_ = true;
    }
  }
  end.result.outcome = sink_failed_ ? Outcome::sink
                       : unwanted_  ? Outcome::status
                                    : Outcome::transfer;
  end.result.cause = failure_cause(code);
  if (worth_retrying(end) && !resume_refused_) {
    sink_.interrupt();
  } else {
    sink_.abandon();
  }
  return end;
}

FailureCause CurlTransfer::failure_cause(CURLcode code) const {
  using Kind = FailureCause::Kind;
  if (sink_failed_) return sink_.failure();
  if (unwanted_) return {.kind = Kind::status, .status = response_status()};
  if (unexpected_body_) return {.kind = Kind::unexpected_body};
  if (resume_refused_) {
    return {.kind = Kind::connection_broken, .detail = "the rest of a part held was refused"};
  }
  return transfer_cause(code);
}

void CurlTransfer::cancel() { sink_.interrupt(); }

void CurlTransfer::go_on() {
  held_back_ = 0;
  curl_easy_pause(easy_, CURLPAUSE_CONT);
}

}  // namespace tarvel
