#include "platform/curl/curl_setup.hpp"

#include <algorithm>
#include <cctype>
#include <mutex>

namespace tarvel {

void ensure_curl_initialised() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool starts_with_no_case(std::string_view text, std::string_view prefix) {
  const auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [&](char a, char b) { return lower(a) == lower(b); });
}

}  // namespace tarvel
