#pragma once

#include <curl/curl.h>

#include <string>

#include "platform/failure_cause.hpp"

namespace tarvel {

// The cause of a transfer that libcurl ended with code (not CURLE_OK), with
// libcurl's own words as the detail.
[[nodiscard]] FailureCause transfer_cause(CURLcode code);

// The cause of an exchange the proxy refused with a 407: what the player has
// to mend, without the credentials written in the proxy's address.
[[nodiscard]] FailureCause proxy_refusal(const std::string& proxy);

}  // namespace tarvel
