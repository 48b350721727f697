#pragma once

#include <curl/curl.h>

#include <string_view>

namespace tarvel {

// libcurl's process-wide set-up, done once for every client in the program.
void ensure_curl_initialised();

// Whether text begins with prefix, letters compared without case (schemes
// of addresses).
[[nodiscard]] bool starts_with_no_case(std::string_view text, std::string_view prefix);

}  // namespace tarvel
