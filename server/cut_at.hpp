#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// The pieces of the text between delimiter characters, in order. Every
// character in delimiters ends a piece and is dropped; empty pieces are
// dropped too, so "a>>b>" cut at ">" gives "a" and "b".
[[nodiscard]] std::vector<std::string> cut_at(std::string_view text, std::string_view delimiters);

}  // namespace tarvel
