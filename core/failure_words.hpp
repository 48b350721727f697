#pragma once

#include <string>
#include <string_view>

#include "platform/failure_cause.hpp"

namespace tarvel {

// What went wrong, in the words a player or an operator reads:
// "404 Not Found", "connection refused", "no space left on device".
[[nodiscard]] std::string failure_words(const FailureCause& cause);

// The one line a failed exchange with address gets: the address and the
// cause ("http://host/a.xml: 404 Not Found"); for a local file, the file
// first ("/home/p/app/a.swf: read-only file system (fetching http://...)").
[[nodiscard]] std::string failure_line(std::string_view address, const FailureCause& cause);

// "200 OK", "404 Not Found", or "HTTP status 599" for a status without a
// reason here.
[[nodiscard]] std::string status_words(long status);

// "1 file", "2 files": count and noun, the noun with an "s" unless the
// count is one.
[[nodiscard]] std::string counted(std::size_t count, std::string_view noun);

}  // namespace tarvel
