#pragma once

#include <optional>
#include <string>

namespace tarvel {

// SHA-256 of a file's bytes as 64 lower-case hexadecimal characters, read in
// pieces so a large file is never held whole; nothing when the file cannot
// be read or the crypto library refuses the algorithm.
[[nodiscard]] std::optional<std::string> file_sha256(const std::string& native_path);

}  // namespace tarvel
