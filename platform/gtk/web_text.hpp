#pragma once

#include <string>
#include <string_view>

namespace tarvel {

// Between the launcher's text and the UTF-8 that GTK and the web views speak.
// Narrow text is one byte per character (Latin-1), wide text one 16-bit unit
// per character, as the movie control has always taken them.

[[nodiscard]] std::string latin1_to_utf8(std::string_view text);
// A unit that is half of a broken surrogate pair becomes U+FFFD.
[[nodiscard]] std::string utf16_to_utf8(std::u16string_view text);
// Each byte or sequence that is not valid UTF-8 becomes one U+FFFD.
[[nodiscard]] std::u16string utf8_to_utf16(std::string_view text);

}  // namespace tarvel
