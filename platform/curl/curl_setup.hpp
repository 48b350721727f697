#pragma once

#include <curl/curl.h>

namespace tarvel {

// libcurl's process-wide set-up, done once for every client in the program.
void ensure_curl_initialised();

}  // namespace tarvel
