#include "platform/curl/curl_setup.hpp"

#include <mutex>

namespace tarvel {

void ensure_curl_initialised() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void apply_common_options(CURL* curl) {
  // An empty proxy overrides http_proxy, https_proxy and all_proxy.
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
}

}  // namespace tarvel
