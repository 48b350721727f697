#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// The compressed copy a download server publishes beside a file: zstd at its
// strongest usual level with a long window, so that launchers fetch no more
// than the best a single file compresses to. Nothing when the library fails.
[[nodiscard]] std::optional<std::string> compressed_copy(std::string_view bytes);

// A quick compression, for keeping a release's files until the next one.
[[nodiscard]] std::optional<std::string> quick_copy(std::string_view bytes);

// A patch that turns base into bytes: a zstd frame made with base as its
// dictionary, which a decoder given the same base undoes.
[[nodiscard]] std::optional<std::string> patch_from(std::string_view base, std::string_view bytes);

// Decodes a copy made by the above; nothing when it is not one.
[[nodiscard]] std::optional<std::string> decompressed(std::string_view copy);

}  // namespace tarvel
