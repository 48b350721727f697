#pragma once

#include <curl/curl.h>

namespace tarvel {

// libcurl's process-wide set-up, done once for every client in the program.
void ensure_curl_initialised();

// Settings every launcher transfer shares. The launcher's behaviour must not
// depend on the environment, so proxy variables are ignored: no proxy at all.
void apply_common_options(CURL* curl);

}  // namespace tarvel
