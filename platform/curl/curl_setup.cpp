#include "platform/curl/curl_setup.hpp"

#include <mutex>

namespace tarvel {

void ensure_curl_initialised() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace tarvel
