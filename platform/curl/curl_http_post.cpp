#include "platform/curl/curl_http_post.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string_view>

#include "platform/curl/curl_cause.hpp"
#include "platform/curl/curl_setup.hpp"
#include "platform/curl/system_proxy.hpp"

namespace tarvel {
namespace {

constexpr long kMaxRedirects = 5;

bool is_web_address(std::string_view address) {
  return starts_with_no_case(address, "http://") || starts_with_no_case(address, "https://");
}

struct Sink {
  std::string body;
  std::size_t limit = 0;
  bool overflowed = false;
};

// libcurl's write callback: a short count aborts the transfer.
std::size_t append_to_sink(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const std::size_t bytes = size * count;
  if (sink->body.size() + bytes > sink->limit) {
    sink->overflowed = true;
    return 0;
  }
  sink->body.append(data, bytes);
  return bytes;
}

struct HandleDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Handle = std::unique_ptr<CURL, HandleDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// libcurl would label the body a form and, for larger bodies, wait for an
// interim answer; neither is ours to say, so both headers are taken out.
HeaderList suppressed_headers() {
  curl_slist* list = curl_slist_append(nullptr, "Content-Type:");
  if (list != nullptr) {
    curl_slist* more = curl_slist_append(list, "Expect:");
    if (more != nullptr) list = more;
  }
  return HeaderList(list);
}

void set_limits(CURL* h, const CurlHttpPost::Limits& limits) {
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()));
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total.count()));
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
}

}  // namespace

CurlHttpPost::CurlHttpPost() : CurlHttpPost(Limits{}) {}

CurlHttpPost::CurlHttpPost(Limits limits) : limits_(limits) { ensure_curl_initialised(); }

PostAnswer CurlHttpPost::exchange(const std::string& address, const std::string& body) {
  using Kind = FailureCause::Kind;
  PostAnswer answer;
  if (!is_web_address(address)) {
    answer.cause.kind = Kind::not_web_address;
    return answer;
  }
  Handle handle(curl_easy_init());
  HeaderList headers = suppressed_headers();
  if (!handle || !headers) {
    answer.cause = {.kind = Kind::other, .detail = "no transfer could be set up"};
    return answer;
  }
  CURL* h = handle.get();
  Sink sink{{}, limits_.max_body_bytes, false};
  set_limits(h, limits_);
  curl_easy_setopt(h, CURLOPT_URL, address.c_str());
  const std::string proxy = use_system_proxy(h, address);
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, append_to_sink);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  const CURLcode code = curl_easy_perform(h);
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer.status);
  // The proxy's refusal is no answer of the service's, whatever its body.
  if (proxy_refused_credentials(h, proxy)) {
    answer.cause = proxy_refusal(proxy);
  } else if (sink.overflowed) {
    answer.cause.kind = Kind::too_large;
  } else if (code != CURLE_OK) {
    answer.cause = transfer_cause(code);
  } else {
    answer.body = std::move(sink.body);
  }
  return answer;
}

}  // namespace tarvel
