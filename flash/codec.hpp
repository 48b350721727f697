#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// A movie's external-interface request, cut into its function name and its
// string arguments (taken verbatim, character references not decoded).
struct ParsedRequest {
  std::string name;
  std::vector<std::string> arguments;
  bool operator==(const ParsedRequest&) const = default;
};

// Wide text as the movie control speaks it: one 16-bit unit per character.
using WideText = std::u16string;

// Wide to narrow keeps the low 8 bits of each unit.
[[nodiscard]] std::string narrow(std::u16string_view wide);
// Narrow to wide turns each byte into the unit of the same value.
[[nodiscard]] WideText widen(std::string_view text);

// Never fails: a request without a name gives the whole text as its name, one
// without <arguments> an empty argument list.
[[nodiscard]] ParsedRequest parse_request(std::u16string_view request);

// The addText call that hands one line of text to a movie, text unescaped.
[[nodiscard]] WideText build_add_text_call(std::string_view text);

// The text of a call that build_add_text_call made, whole: whatever it holds
// ("</string>", a NUL). Nothing for any other request. A host that hands the
// text to a movie itself uses it rather than parse_request, which ends the
// text at its first "</string>".
[[nodiscard]] std::optional<std::string> add_text_of(std::u16string_view request);

// The same call for a function of the caller's choice and string arguments,
// as a movie would send it: how scripted movies and tests write requests.
[[nodiscard]] std::string build_invoke(std::string_view name,
                                       const std::vector<std::string>& arguments);

}  // namespace tarvel
