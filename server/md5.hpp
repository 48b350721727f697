#pragma once

#include <string>
#include <string_view>

namespace tarvel {

// MD5 digest of the bytes as 32 lower-case hexadecimal characters, or "" if
// the crypto library refuses the algorithm (a FIPS-only configuration).
[[nodiscard]] std::string md5_hex(std::string_view bytes);

}  // namespace tarvel
